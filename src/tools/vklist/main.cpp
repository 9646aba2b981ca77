// VKLIST [-C<n>]: lists the flash file system of the target.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"
#include "tools/vklist/listing.h"

namespace {

constexpr uint8_t kCmdListDirectory = 0x08;

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  using vk::vklist::DirectoryReply;
  Frame frame = StartFrame(Tool::Vklist, argc, argv);
  ConnectFrame(frame);
  DrainInput();

  Exchange exchange(EchoRule::ReportAndGoOn, kBlankLineTexts);
  exchange.Command(kCmdListDirectory);
  exchange.Checksum();

  DirectoryReply reply;
  while (!reply.Complete()) reply.Add(ReceiveByte());
  if (reply.NoFiles()) {
    std::printf("\nNo Files Present On Target Flash\n");
    EndSessionAndExit(0);
  }
  CompareChecksum(reply.sum(), reply.received_checksum(), "\n");
  if (reply.Overflow()) {
    std::printf("\nERROR: DIRECTORY REPLY LONGER THAN %zu BYTES, NOT LISTED\n", vk::vklist::kStoreBytes);
    EndSessionAndExit(2);
  }
  vk::vklist::PrintListing(stdout, reply.directory());
  EndSessionAndExit(-2);
}

// VKLIST [-C<n>]: lists the flash file system of the target.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"
#include "tools/vklist/listing.h"

namespace vk::vklist {
namespace {

using link::Leave;

constexpr uint8_t kCmdListDirectory = 0x08;

link::RunEnd List(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, frame::kUtilityRules);
  exchange.Command(kCmdListDirectory);
  exchange.Checksum();

  DirectoryReply reply;
  while (!reply.Complete()) reply.Add(frame::ReceiveByte(link));
  if (reply.NoFiles()) {
    std::printf("\nNo Files Present On Target Flash\n");
    return {0, Leave::EndSession};
  }
  frame::CompareChecksum(reply.sum(), reply.received_checksum(), "\n");
  if (reply.Overflow()) {
    std::printf("\nERROR: DIRECTORY REPLY LONGER THAN %zu BYTES, NOT LISTED\n", kStoreBytes);
    return {link::kExitFailure, Leave::EndSession};
  }
  PrintListing(stdout, reply.directory());
  return {link::kExitAltOutcome, Leave::EndSession};
}

}  // namespace
}  // namespace vk::vklist

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vklist, argc, argv, vk::vklist::List); }

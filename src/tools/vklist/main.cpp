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
  frame::ReplyBudget budget;
  bool whole = true;
  while (!reply.Complete() && (whole = budget.Spend())) reply.Add(frame::ReceiveByte(link));
  if (reply.NoFiles()) {
    std::printf("\nNo Files Present On Target Flash\n");
    return {0, Leave::EndSession};
  }
  // A reply that never ends has no checksum to compare.
  const bool sound = whole && frame::CompareChecksum(reply.sum(), reply.received_checksum(), "\n");
  if (!whole) std::printf("\nERROR: DIRECTORY REPLY DID NOT END, NOT LISTED\n");
  else if (reply.Overflow()) std::printf("\nERROR: DIRECTORY REPLY LONGER THAN %zu BYTES, NOT LISTED\n", kStoreBytes);
  if (!whole || reply.Overflow()) return {link::kExitFailure, Leave::EndSession};
  PrintListing(stdout, reply.directory());
  // A listing whose checksum is wrong may be garbled: shown, but not a success.
  return {sound ? link::kExitAltOutcome : link::kExitFailure, Leave::EndSession};
}

}  // namespace
}  // namespace vk::vklist

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vklist, argc, argv, vk::vklist::List); }

// VKWIPE [-C<n>]: formats the target's flash file system. The operator has
// confirmed before the port was opened; the command carries three fixed
// confirmation bytes, and any deviation of their echoes or of the checksum
// stops the run.
#include <array>
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace vk::vkwipe {
namespace {

using link::kExitFailure;
using link::Leave;

constexpr uint8_t kCmdFormatFlash = 0x09;
constexpr std::array<uint8_t, 3> kConfirmation{0x00, 0xFF, 0x55};

// The sum takes the bytes sent; a wrong echo ends the run. The message
// shows the byte sent in upper case ("0xFF").
constexpr frame::ExchangeRules kRules{
    .sum = frame::SumOf::Sent,
    .wrong_echo = frame::WrongEcho::EndRun,
    .echo_error = {.before = "\n", .after = "\n\n", .sent_upper_case = true},
    .checksum_line_end = "\n\n"};

enum Result : uint8_t { kFailed = 0, kFormatted = 1 };

link::RunEnd Wipe(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, kRules);
  exchange.Command(kCmdFormatFlash);
  for (uint8_t byte : kConfirmation) exchange.Parameter(byte);
  if (!exchange.Checksum()) return {kExitFailure, Leave::EndSession};

  frame::PrintTargetWorking();
  const uint8_t result = exchange.Result(true);
  if (result == kFormatted) {
    frame::PrintDone();
    return {link::kExitAltOutcome, Leave::EndSession};
  }
  if (result == kFailed)
    std::printf("\n\nERROR DURING FORMATTING ON TARGET\n\n");
  else
    frame::PrintUnknownResultCode("\n\n", result, "\n\n");
  return {kExitFailure, Leave::EndSession};
}

}  // namespace
}  // namespace vk::vkwipe

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkwipe, argc, argv, vk::vkwipe::Wipe); }

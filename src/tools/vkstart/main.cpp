// VKSTART <Name> [-C<n>]: starts a program stored in the target's flash.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace vk::vkstart {
namespace {

constexpr uint8_t kCmdStartProgram = 0x05;

enum Result : uint8_t { kNotPresent = 0, kStarted = 1, kNotExecutable = 2 };

link::RunEnd Start(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, {});
  exchange.Command(kCmdStartProgram);
  exchange.Text(frame.name);
  exchange.Checksum();
  const uint8_t result = exchange.Result(false);

  // A started program ends the run with 2 as well: scripts rely on it.
  int code = link::kExitFailure;
  switch (result) {
    case kNotPresent:
      frame::PrintNotPresent("\n", frame.name.c_str());
      break;
    case kStarted:
      std::printf("\n%s Started On Target.\n", frame.name.c_str());
      break;
    case kNotExecutable:
      std::printf("\n%s Is Not An Executable Program\n", frame.name.c_str());
      code = link::kExitAltOutcome;
      break;
    default:
      frame::PrintUnknownResultCode("\n", result, "\n");
      break;
  }
  return {code, link::Leave::EndSession};
}

}  // namespace
}  // namespace vk::vkstart

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkstart, argc, argv, vk::vkstart::Start); }

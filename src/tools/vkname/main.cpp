// VKNAME <Oldname Newname> [-C<n>]: gives a program in the target's flash a
// new name. The frame has refused a missing or over-long new name before
// the port was opened.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace vk::vkname {
namespace {

constexpr uint8_t kCmdRenameProgram = 0x06;

enum Result : uint8_t { kNotPresent = 0, kRenamed = 1, kNameExists = 2 };

link::RunEnd Rename(frame::Frame& frame) {
  link::Link& link = frame::ConnectFrame(frame);
  frame::Exchange exchange(link, frame::kUtilityRules);
  exchange.Command(kCmdRenameProgram);
  exchange.Text(frame.name);
  exchange.Text(frame.new_name);
  exchange.Checksum();

  frame::PrintTargetWorking();
  const uint8_t result = exchange.Result(true);
  int code = link::kExitFailure;
  switch (result) {
    case kNotPresent:
      frame::PrintNotPresent("\n\n", frame.name.c_str());
      break;
    case kRenamed:
      frame::PrintDone();
      code = link::kExitAltOutcome;
      break;
    case kNameExists:
      std::printf("\n\nProgram Name %s Already Exists On Target\n", frame.new_name.c_str());
      break;
    default:
      frame::PrintUnknownResultCode("\n\n", result, "\n\n");
      break;
  }
  return {code, link::Leave::EndSession};
}

}  // namespace
}  // namespace vk::vkname

int main(int argc, char** argv) { return vk::frame::RunTool(vk::frame::Tool::Vkname, argc, argv, vk::vkname::Rename); }

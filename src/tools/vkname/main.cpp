// VKNAME <Oldname Newname> [-C<n>]: gives a program in the target's flash a
// new name. The frame has refused a missing or over-long new name before
// the port was opened.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace {

constexpr uint8_t kCmdRenameProgram = 0x06;

enum Result : uint8_t { kNotPresent = 0, kRenamed = 1, kNameExists = 2 };

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkname, argc, argv);
  ConnectFrame(frame);
  DrainInput();

  Exchange exchange(EchoRule::ReportAndGoOn, kBlankLineTexts);
  exchange.Command(kCmdRenameProgram);
  exchange.Text(frame.name);
  exchange.Text(frame.new_name);
  exchange.Checksum();

  std::printf("\nTarget Is Working...");
  std::fflush(stdout);
  const uint8_t result = exchange.Result(true);
  int code = 2;
  switch (result) {
    case kNotPresent:
      std::printf("\n\nProgram Name %s Is Not Present On Target\n", frame.name.c_str());
      break;
    case kRenamed:
      std::printf("  Done.\n");
      code = -2;
      break;
    case kNameExists:
      std::printf("\n\nProgram Name %s Already Exists On Target\n", frame.new_name.c_str());
      break;
    default:
      std::printf("\n\nERROR: UNKNOWN RESULT CODE 0x%02x RECEIVED\n\n", result);
      break;
  }
  EndSessionAndExit(code);
}

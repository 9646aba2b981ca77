// VKSTART <Name> [-C<n>]: starts a program stored in the target's flash.
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"
#include "link/port.h"

namespace {

constexpr uint8_t kCmdStartProgram = 0x05;

enum Result : uint8_t { kNotPresent = 0, kStarted = 1, kNotExecutable = 2 };

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkstart, argc, argv);
  ConnectFrame(frame);
  DrainInput();

  Exchange exchange(EchoRule::ReportAndGoOn);
  exchange.Command(kCmdStartProgram);
  exchange.Text(frame.name);
  exchange.Checksum();
  const uint8_t result = exchange.Result(false);

  int code = 2;
  switch (result) {
    case kNotPresent:
      std::printf("\nProgram Name %s Is Not Present On Target\n", frame.name.c_str());
      break;
    case kStarted:
      std::printf("\n%s Started On Target.\n", frame.name.c_str());
      break;
    case kNotExecutable:
      std::printf("\n%s Is Not An Executable Program\n", frame.name.c_str());
      code = -2;
      break;
    default:
      std::printf("\nERROR: UNKNOWN RESULT CODE 0x%02x RECEIVED\n", result);
      break;
  }
  EndSessionAndExit(code);
}

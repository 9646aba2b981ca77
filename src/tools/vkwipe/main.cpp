// VKWIPE [-C<n>]: formats the target's flash file system. The operator has
// confirmed before the port was opened; the command carries three fixed
// confirmation bytes, and any deviation of their echoes or of the checksum
// stops the run.
#include <array>
#include <cstdio>

#include "frame/exchange.h"
#include "frame/frame.h"

namespace {

constexpr uint8_t kCmdFormatFlash = 0x09;

struct Confirmation {
  uint8_t byte;
  const char* echo_error;  // the byte received fills it
};

constexpr std::array<Confirmation, 3> kConfirmation{{
    {0x00, "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x00 RECEIVED DATA:0x%02x\n\n"},
    {0xFF, "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0xFF RECEIVED DATA:0x%02x\n\n"},
    {0x55, "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x55 RECEIVED DATA:0x%02x\n\n"},
}};

enum Result : uint8_t { kFailed = 0, kFormatted = 1 };

}  // namespace

int main(int argc, char** argv) {
  using namespace vk::frame;
  Frame frame = StartFrame(Tool::Vkwipe, argc, argv);
  ConnectFrame(frame);
  DrainInput();

  Exchange exchange(EchoRule::Fatal, kBlankLineTexts);
  exchange.Command(kCmdFormatFlash);
  for (const Confirmation& c : kConfirmation) {
    const uint8_t echo = exchange.Send(c.byte);
    if (echo != c.byte) {
      std::printf(c.echo_error, echo);
      EndSessionAndExit(2);
    }
  }
  if (!exchange.Checksum()) EndSessionAndExit(2);

  std::printf("\nTarget Is Working...");
  std::fflush(stdout);
  const uint8_t result = exchange.Result(true);
  int code = 2;
  if (result == kFormatted) {
    std::printf("  Done.\n");
    code = -2;
  } else if (result == kFailed) {
    std::printf("\n\nERROR DURING FORMATTING ON TARGET\n\n");
  } else {
    std::printf("\n\nERROR: UNKNOWN RESULT CODE 0x%02x RECEIVED\n\n", result);
  }
  EndSessionAndExit(code);
}

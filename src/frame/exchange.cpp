#include "frame/exchange.h"

#include <cstdio>

#include "link/port.h"

namespace vk::frame {
namespace {

// The 7F fillers may only stand before the session's first command echo.
bool g_first_command = true;

}  // namespace

uint8_t ReceiveByte() { return static_cast<uint8_t>(link::ReceiveWait()); }

void DrainInput() {
  for (int i = 0; i < kDrainPolls; ++i)
    if (link::RxPending()) (void)link::ReceiveWait();
}

void Exchange::Command(uint8_t command) {
  sum_ = 0;
  link::Transmit(command);
  sum_ = static_cast<uint8_t>(sum_ + command);
  uint8_t echo = ReceiveByte();
  if (g_first_command) {
    while (echo == kStartFiller) echo = ReceiveByte();
    g_first_command = false;
  }
  if (echo != command) {
    std::printf(texts_.echo_error, command, echo);
    EndSessionAndExit(link::kExitFailure);
  }
}

void Exchange::EchoMismatch(uint8_t sent, uint8_t received) {
  std::printf(texts_.echo_error, sent, received);
  if (rule_ == EchoRule::Fatal) EndSessionAndExit(link::kExitFailure);
}

uint8_t Exchange::Send(uint8_t byte) {
  link::Transmit(byte);
  const uint8_t echo = ReceiveByte();
  sum_ = static_cast<uint8_t>(sum_ + (rule_ == EchoRule::ReportAndGoOn ? echo : byte));
  return echo;
}

void Exchange::Parameter(uint8_t byte) {
  const uint8_t echo = Send(byte);
  if (echo != byte) EchoMismatch(byte, echo);
}

void Exchange::Text(std::string_view text) {
  for (char c : text) Parameter(static_cast<uint8_t>(c));
  Parameter(0);
}

bool CompareChecksum(uint8_t summed, uint8_t received, const char* line_end) {
  if (received == summed) return true;
  std::printf("\nCHECKSUM ERROR:");
  std::printf(" Checksum: %02x ", summed);
  std::printf("  ReceivedChecksum: %02x ", received);
  std::printf("%s", line_end);
  return false;
}

bool Exchange::Checksum() { return CompareChecksum(sum_, ReceiveByte(), texts_.checksum_line_end); }

uint8_t Exchange::Result(bool skip_busy_fillers) {
  uint8_t result = ReceiveByte();
  while (skip_busy_fillers && result == kBusyFiller) result = ReceiveByte();
  return result;
}

void EndSession() {
  link::Transmit(kCmdEndSession);
  const uint8_t echo = ReceiveByte();
  if (echo != kCmdEndSession) {
    std::printf("\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x%02x RECEIVED DATA:0x%02x\n",
                kCmdEndSession, echo);
    link::ExitTool(link::kExitFailure);
  }
  if (!CompareChecksum(kCmdEndSession, ReceiveByte(), "\n")) link::ExitTool(link::kExitFailure);
  const uint8_t result = ReceiveByte();
  if (result == 0) {
    std::printf("\nERROR: TARGET PROGRAM NOT STARTED\n");
    link::ExitTool(link::kExitFailure);
  }
  if (result != 1) {
    std::printf("\nERROR: UNKNOWN RESULT CODE RECEIVED\n");
    link::ExitTool(link::kExitFailure);
  }
  link::Transmit(kClosingByte);
}

void EndSessionAndExit(int code) {
  EndSession();
  link::ExitTool(code);
}

}  // namespace vk::frame

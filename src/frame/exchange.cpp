#include "frame/exchange.h"

#include <cstdio>

#include "link/clock.h"
#include "link/ending.h"

namespace vk::frame {

using link::EndRun;
using link::kExitFailure;
using link::Leave;

bool ReplyBudget::Spend() {
  if (started_ms_ < 0) started_ms_ = link::MsClock();
  return ++bytes_ <= kMaxReplyBytes && link::MsClock() - started_ms_ <= kMaxReplyMs;
}

uint8_t ReceiveByte(link::Link& link) { return static_cast<uint8_t>(link.ReceiveWait()); }

void DrainInput(link::Link& link) {
  for (int i = 0; i < kDrainPolls; ++i)
    if (link.RxPending()) (void)link.ReceiveWait();
}

void Exchange::Command(uint8_t command) {
  link_.Transmit(command);
  sum_ = command;
  uint8_t echo = ReceiveByte(link_);
  if (link_.TakeFirstCommand()) {
    ReplyBudget fillers;
    while (echo == kStartFiller && fillers.Spend()) echo = ReceiveByte(link_);
  }
  if (echo != command) {
    PrintEchoError(rules_.echo_error, command, echo);
    EndRun(kExitFailure, Leave::EndSession);
  }
}

void Exchange::Parameter(uint8_t byte) {
  link_.Transmit(byte);
  const uint8_t echo = ReceiveByte(link_);
  sum_ = static_cast<uint8_t>(sum_ + (rules_.sum == SumOf::Echo ? echo : byte));
  if (echo == byte) return;
  PrintEchoError(rules_.echo_error, byte, echo);
  if (rules_.wrong_echo == WrongEcho::EndRun) EndRun(kExitFailure, Leave::EndSession);
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

bool Exchange::Checksum() { return CompareChecksum(sum_, ReceiveByte(link_), rules_.checksum_line_end); }

uint8_t Exchange::Result(bool skip_busy_fillers) {
  uint8_t result = ReceiveByte(link_);
  ReplyBudget fillers;
  while (skip_busy_fillers && result == kBusyFiller && fillers.Spend()) result = ReceiveByte(link_);
  return result;
}

// Every failure here ends the run through ExitTool: the session it would
// close is the one that failed.
void EndSession(link::Link& link) {
  link.Transmit(kCmdEndSession);
  const uint8_t echo = ReceiveByte(link);
  if (echo != kCmdEndSession) {
    PrintEchoError({}, kCmdEndSession, echo);
    EndRun(kExitFailure, Leave::ExitTool);
  }
  if (!CompareChecksum(kCmdEndSession, ReceiveByte(link), "\n")) EndRun(kExitFailure, Leave::ExitTool);
  const uint8_t result = ReceiveByte(link);
  if (result == 0) {
    std::printf("\nERROR: TARGET PROGRAM NOT STARTED\n");
    EndRun(kExitFailure, Leave::ExitTool);
  }
  if (result != 1) {
    PrintUnknownResult("\n", "\n");
    EndRun(kExitFailure, Leave::ExitTool);
  }
  link.Transmit(kClosingByte);
}

}  // namespace vk::frame

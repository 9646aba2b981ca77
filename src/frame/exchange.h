// Command exchanges with the target monitor, and the session's end.
//
// One exchange on the wire (host -> target, target -> host):
//   cmd             -> ; <- [7F...] echo      (7F fillers only before the
//                                               session's first echo)
//   each parameter  -> ; <- echo              (one byte each, no fillers;
//                                               a text ends with its 00)
//                        <- checksum          (sum mod 256 of the command
//                                               and the parameters)
//                        <- [FF...] result    (FF fillers only where the
//                                               command works on flash)
// Example, start program "AB":
//   05 -> ; <- 7F 7F 05 ; 41 -> ; <- 41 ; 42 -> ; <- 42 ; 00 -> ; <- 00 ;
//   <- 88 (checksum) ; <- result
//
// The session ends with EndSession:
//   04 -> ; <- 04 (echo) ; <- 04 (checksum) ; <- 01 (result) ; 0C ->
//
// Every multi-byte number travels most significant byte first.
#pragma once

#include <cstdint>
#include <string_view>

#include "frame/messages.h"
#include "link/link.h"

namespace vk::frame {

constexpr uint8_t kStartFiller = 0x7F;
constexpr uint8_t kBusyFiller = 0xFF;
constexpr uint8_t kCmdEndSession = 0x04;
constexpr uint8_t kClosingByte = 0x0C;
constexpr int kDrainPolls = 1000;

// However long a peer goes on: fillers, and the variable part of a reply,
// stop being read after this many bytes or this much time. A flash
// format at the line rate with fillers all the way stays well inside.
constexpr long kMaxReplyBytes = 1L << 20;
constexpr int kMaxReplyMs = 300'000;

class ReplyBudget {
 public:
  // False once the reply has gone on too long; then it is not read further.
  bool Spend();

 private:
  long bytes_ = 0;
  long started_ms_ = -1;
};

// Which byte of a parameter the running sum takes: the echo as received
// (the flash utilities) or the byte sent (the flash loader, the format
// utility).
enum class SumOf { Echo, Sent };
// A wrong parameter echo: reported and the exchange goes on, or reported
// and the run ends (EndSession, exit code 2). A wrong command echo always
// ends the run.
enum class WrongEcho { Report, EndRun };

struct ExchangeRules {
  SumOf sum = SumOf::Echo;
  WrongEcho wrong_echo = WrongEcho::Report;
  EchoErrorStyle echo_error;
  const char* checksum_line_end = "\n";
};

// The flash file utilities, which end their echo and checksum messages
// with a blank line.
inline constexpr ExchangeRules kUtilityRules{
    .echo_error = {.before = "\n", .after = "\n\n"}, .checksum_line_end = "\n\n"};

class Exchange {
 public:
  Exchange(link::Link& link, const ExchangeRules& rules) : link_(link), rules_(rules) {}

  // Sends the command byte and reads its echo, after the first command's
  // start fillers (within the reply budget; past it the filler is taken as
  // the echo). A wrong echo prints the echo message and ends the run
  // through EndSession with 2.
  void Command(uint8_t command);
  // Sends one parameter byte, reads its echo and sums as the rules say.
  void Parameter(uint8_t byte);
  // Sends a text and its terminating 0, each byte with its echo.
  void Text(std::string_view text);
  // Reads the target's checksum and compares it with the running sum; on a
  // mismatch prints the checksum message. True when it matched.
  bool Checksum();
  // Reads a result byte, skipping busy fillers when asked (within the
  // reply budget; past it the filler is taken as the result).
  uint8_t Result(bool skip_busy_fillers);

  uint8_t sum() const { return sum_; }

 private:
  link::Link& link_;
  ExchangeRules rules_;
  uint8_t sum_ = 0;
};

// Reads and discards what has arrived, over 1000 polls.
void DrainInput(link::Link& link);

// Compares a checksum the target sent with the one summed here; on a
// mismatch prints the checksum message ending with `line_end`. True when
// they matched.
bool CompareChecksum(uint8_t summed, uint8_t received, const char* line_end);

// Closes the session; returns only when the target answered 4, 4, 1.
void EndSession(link::Link& link);

// One byte as read from the link, unsigned.
uint8_t ReceiveByte(link::Link& link);

}  // namespace vk::frame

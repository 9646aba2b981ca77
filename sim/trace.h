// The trace of what crosses the line, one line per byte or event, flushed
// at once so a test can read it while the simulator runs:
//   "> 05"  host byte received by the board
//   "x 05"  host byte lost (the host's rate differs from the board's)
//   "< 05"  byte the board sent to the host
//   "# text" an event: connect, cts 0 (CTS as the port opens), baud 38400,
//           flow hw, flow none, dtr 0, rts 1, rts 0, cts 1, purge 3,
//           disconnect, started NAME, ...
// With time stamps each line starts with the microseconds since the trace
// was opened and a blank: "1234567 > 05".
//
// Recordings. A trace is also a recording that vksim --replay plays back
// (sim/replay.h), and so is the one a tool writes of its own side of the
// line, in the same lines: "> 05" a byte the host sent, "< 05" a byte it
// received, "# open DEVICE", "# baud N", "# flow hw|none", "# rts 1|0",
// "# cts 1|0" (the CTS state the host read: at its first reading and at
// each change), "# purge 3", "# close"; no "x" lines. A recording is read
// so:
//   - One connection: reading stops at "# disconnect" or "# close". Blank
//     lines are skipped; "#" lines other than baud, rts and cts events are
//     comments ("# vktrace tool vkburn").
//   - The board listened at the rate in effect (the last "# baud" before,
//     115200 before any) when the first "<" byte was recorded; without any,
//     at the last rate recorded. Host bytes sent at another rate are lost
//     on the replayed line, as on a real one.
//   - The transcript is the ">" and "<" bytes recorded while that rate was
//     in effect; "x" lines are not part of it. Each "<" byte goes out once
//     every ">" byte before it has arrived (those before the first ">" at
//     the RTS pulse); timing is not reproduced. Each host byte is compared
//     with the transcript's next ">" byte; the first difference, a host
//     byte beyond the transcript, or the host closing before the last ">"
//     byte ends the replay with an error.
//   - CTS as the port opens is the first "# cts" state (off without one).
//     After the first RTS pulse ("rts 1", then "rts 0") CTS rises after the
//     recorded time from the pulse to the next "cts 1"; a CTS that was on
//     first drops and then rises as recorded; it never rises when the
//     recording does not show it rise. Without time stamps the delays are
//     vksim's defaults (150 ms).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire/trace_file.h"

namespace vk::sim {

class Trace {
 public:
  Trace() { file_.FlushEachLine(); }
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // Starts writing to `path` (truncated). Without a file or a capture the
  // trace is dropped.
  bool Open(const std::string& path, std::string& error);
  // Also keeps every line in `lines` (for tests).
  void CaptureTo(std::vector<std::string>* lines) { capture_ = lines; }
  // Starts every line written to the file with its time (see above).
  void StampTimes() { file_.StampTimes(); }

  void Byte(char direction, uint8_t byte);
  void Event(const std::string& text);

 private:
  void Write(const std::string& line);

  wire::TraceFile file_;
  std::vector<std::string>* capture_ = nullptr;
};

}  // namespace vk::sim

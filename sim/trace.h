// The trace of what crosses the line, one line per byte or event, flushed
// at once so a test can read it while the simulator runs:
//   "> 05"  host byte received by the board
//   "x 05"  host byte lost (the host's rate differs from the board's)
//   "< 05"  byte the board sent to the host
//   "# text" an event: connect, disconnect, baud 38400, rts 1, cts 1, ...
// With time stamps each line starts with the microseconds since the trace
// was opened and a blank: "1234567 > 05".
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vk::sim {

class Trace {
 public:
  Trace() = default;
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // Starts writing to `path` (truncated). Without a file or a capture the
  // trace is dropped.
  bool Open(const std::string& path, std::string& error);
  // Also keeps every line in `lines` (for tests).
  void CaptureTo(std::vector<std::string>* lines) { capture_ = lines; }
  // Starts every line written to the file with its time (see above).
  void StampTimes() { stamp_ = true; }

  void Byte(char direction, uint8_t byte);
  void Event(const std::string& text);

 private:
  void Write(const std::string& line);

  std::FILE* file_ = nullptr;
  std::vector<std::string>* capture_ = nullptr;
  bool stamp_ = false;
  std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
};

}  // namespace vk::sim

// The file of a wire trace, written alike by the programs (VK_TRACE) and by
// vksim (--trace): one line per byte or event, each optionally led by the
// microseconds since the file was opened and a blank.
//
//   > 7f        a byte from host to board (two lower-case hex digits)
//   < 7f        a byte from board to host
//   x 7f        a host byte lost on the line (vksim only)
//   # baud 38400  an event
//   203120 > 7f   the same with its time stamp
//
// What the lines mean and how a recording is read back is described with
// the reader, in sim/trace.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vk::wire {

// "> 05": a byte line, without a time stamp or line end.
std::string ByteLine(char direction, uint8_t byte);
// "# text": an event line.
std::string EventLine(std::string_view text);

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Starts writing to `path` (truncated); the time stamps count from here.
  // False, with errno set, when it cannot be written.
  bool Open(const std::string& path);
  bool ok() const { return file_ != nullptr; }
  void Close();

  // Start every line with its time stamp.
  void StampTimes() { stamp_ = true; }
  // Hand every line to the system at once, so another process can read the
  // file while it grows; otherwise lines are buffered.
  void FlushEachLine() { flush_ = true; }

  // Writes one line (given without its line end).
  void Write(std::string_view line);

 private:
  std::FILE* file_ = nullptr;
  bool stamp_ = false;
  bool flush_ = false;
  std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
};

}  // namespace vk::wire

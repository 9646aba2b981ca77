// A recording of the host's side of the line, written when VK_TRACE names a
// file: every byte sent and received and every line operation, time-stamped,
// in the trace format vksim writes and replays (wire/trace_file.h).
//
//   1234 # open rfc2217://127.0.0.1:4000
//   1301 # baud 115200
//   1305 # rts 1
//   51710 # cts 0
//   203120 > 7f
//   203871 < 7f
//
// The backend below records what the link asks of the real one; the
// recording costs a buffered write per byte and changes no timing.
#pragma once

#include <memory>
#include <string>

#include "link/backend.h"
#include "wire/trace_file.h"

namespace vk::link {

class WireTrace {
 public:
  // Opens `path` for writing; ok() tells whether that worked.
  WireTrace(const std::string& path, const std::string& header);
  ~WireTrace();  // "# close"
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  bool ok() const { return file_.ok(); }
  void Event(const std::string& text) { file_.Write(wire::EventLine(text)); }
  void Byte(char direction, uint8_t byte) { file_.Write(wire::ByteLine(direction, byte)); }

 private:
  wire::TraceFile file_;
};

// `inner`, with what passes through it written to `trace`.
std::unique_ptr<PortBackend> TracedBackend(std::unique_ptr<PortBackend> inner, WireTrace& trace);

}  // namespace vk::link

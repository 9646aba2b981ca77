// The serial line and the board at its far end, as every front end of the
// simulator drives them: host bytes go onto the paced line, bytes that have
// reached the board are served by it, its answers travel back, CTS follows
// the RTS pulse; each step is traced. Pure like the line: the current time
// is given with every call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/line.h"
#include "sim/monitor.h"
#include "sim/trace.h"

namespace vk::sim {

class BoardLine {
 public:
  BoardLine(const LineConfig& config, std::unique_ptr<Board> board, Trace& trace);

  // Traces CTS as the port opens with it; call once, first.
  void Start();

  // A host byte onto the line; a byte lost to a rate mismatch is traced.
  void FromHost(uint8_t byte, Nanos now);
  // The host's rate; traced as "baud N" when `trace`.
  void SetHostBaud(uint32_t baud);
  // RTS from the host; the pulse resets the board.
  void SetRts(bool on, Nanos now);

  // CTS changes due by `now`, each traced. True when CTS changed.
  bool UpdateCts(Nanos now);
  // Serves the host bytes that have reached the board by `now` and appends
  // the board's bytes that have reached the host to `to_host`.
  void Advance(Nanos now, std::vector<uint8_t>& to_host);

  // Names of the programs the board started so far.
  std::vector<std::string> TakeStarted();

  Line& line() { return line_; }
  const Line& line() const { return line_; }
  Board& board() { return *board_; }
  Trace& trace() { return trace_; }

 private:
  void Answer(const Output& answer, Nanos at);

  Line line_;
  std::unique_ptr<Board> board_;
  Trace& trace_;
  std::vector<std::string> started_;
};

}  // namespace vk::sim

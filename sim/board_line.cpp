#include "sim/board_line.h"

namespace vk::sim {

BoardLine::BoardLine(const LineConfig& config, std::unique_ptr<Board> board, Trace& trace)
    : line_(config), board_(std::move(board)), trace_(trace) {}

void BoardLine::Start() { trace_.Event(line_.cts() ? "cts 1" : "cts 0"); }

void BoardLine::FromHost(uint8_t byte, Nanos now) {
  if (!line_.FromHost(byte, now)) trace_.Byte('x', byte);
}

void BoardLine::SetHostBaud(uint32_t baud) {
  line_.SetHostBaud(baud);
  trace_.Event("baud " + std::to_string(baud));
}

void BoardLine::SetRts(bool on, Nanos now) {
  trace_.Event(on ? "rts 1" : "rts 0");
  if (!line_.SetRts(on, now)) return;
  Output answer;
  board_->Reset(answer);
  Answer(answer, now);
}

bool BoardLine::UpdateCts(Nanos now) {
  bool changed = false;
  while (line_.UpdateCts(now)) {
    trace_.Event(line_.cts() ? "cts 1" : "cts 0");
    changed = true;
  }
  return changed;
}

void BoardLine::Advance(Nanos now, std::vector<uint8_t>& to_host) {
  while (const auto arrival = line_.TakeArrival(now)) {
    trace_.Byte('>', arrival->byte);
    Output answer;
    board_->Receive(arrival->byte, answer);
    Answer(answer, arrival->at);
  }
  const size_t before = to_host.size();
  line_.TakeDepartures(now, to_host);
  for (size_t i = before; i < to_host.size(); ++i) trace_.Byte('<', to_host[i]);
}

void BoardLine::Answer(const Output& answer, Nanos at) {
  for (const std::string& e : answer.events) trace_.Event(e);
  started_.insert(started_.end(), answer.started.begin(), answer.started.end());
  line_.ToHost(answer.bytes, at);
}

std::vector<std::string> BoardLine::TakeStarted() {
  std::vector<std::string> started;
  started.swap(started_);
  return started;
}

}  // namespace vk::sim

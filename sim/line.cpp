// Timing of the serial line between the network serial server and the
// board, and the board's CTS answer to the RTS pulse.
#include "sim/line.h"

#include <algorithm>

namespace vk::sim {

Line::Line(const LineConfig& config) : config_(config) {
  cts_ = config.cts_mode == CtsMode::High || config.cts_mode == CtsMode::Stuck;
}

Nanos Line::ByteTime() const {
  if (!config_.pace || config_.board_baud == 0) return 0;
  return Nanos{10} * 1'000'000'000 / config_.board_baud;
}

bool Line::SetRts(bool on, Nanos now) {
  const bool was_on = rts_;
  rts_ = on;
  if (on || !was_on) return false;
  // The pulse resets the board. A board whose CTS is on drops it once the
  // reset has begun; CTS rises again when the monitor is ready.
  if (config_.cts_mode == CtsMode::Normal || config_.cts_mode == CtsMode::High) {
    if (cts_) {
      cts_drop_at_ = now + config_.cts_drop_delay;
      cts_rise_at_ = *cts_drop_at_ + config_.cts_delay;
    } else {
      cts_drop_at_.reset();
      cts_rise_at_ = now + config_.cts_delay;
    }
  }
  return true;
}

bool Line::UpdateCts(Nanos now) {
  if (cts_drop_at_) {
    if (now < *cts_drop_at_) return false;  // the rise comes after the drop
    cts_drop_at_.reset();
    if (cts_) {
      cts_ = false;
      return true;
    }
  }
  if (cts_rise_at_ && now >= *cts_rise_at_) {
    cts_rise_at_.reset();
    if (!cts_) {
      cts_ = true;
      return true;
    }
  }
  return false;
}

bool Line::RatesAgree() const {
  const double board = config_.board_baud;
  const double diff = board > host_baud_ ? board - host_baud_ : host_baud_ - board;
  return diff <= board * kRateTolerance;
}

bool Line::FromHost(uint8_t byte, Nanos now) {
  if (!RatesAgree()) return false;
  const Nanos at = std::max(now, board_rx_free_) + ByteTime();
  board_rx_free_ = at;
  to_board_.push_back({byte, at});
  return true;
}

std::optional<Line::Arrival> Line::TakeArrival(Nanos now) {
  if (to_board_.empty() || to_board_.front().at > now) return std::nullopt;
  const Timed t = to_board_.front();
  to_board_.pop_front();
  return Arrival{t.byte, t.at};
}

void Line::ToHost(const std::vector<uint8_t>& bytes, Nanos arrived) {
  const Nanos start = arrived + config_.latency;
  for (uint8_t b : bytes) {
    const Nanos at = std::max(start, board_tx_free_) + ByteTime();
    board_tx_free_ = at;
    to_host_.push_back({b, at});
  }
}

void Line::TakeDepartures(Nanos now, std::vector<uint8_t>& out) {
  while (!to_host_.empty() && to_host_.front().at <= now) {
    out.push_back(to_host_.front().byte);
    to_host_.pop_front();
  }
}

void Line::PurgeToHost() {
  to_host_.clear();
  board_tx_free_ = 0;
}

void Line::PurgeToBoard() {
  to_board_.clear();
  board_rx_free_ = 0;
}

std::optional<Nanos> Line::NextDeadline() const {
  std::optional<Nanos> next;
  auto consider = [&next](Nanos t) {
    if (!next || t < *next) next = t;
  };
  if (!to_board_.empty()) consider(to_board_.front().at);
  if (!to_host_.empty()) consider(to_host_.front().at);
  if (cts_drop_at_) consider(*cts_drop_at_);
  else if (cts_rise_at_) consider(*cts_rise_at_);
  return next;
}

}  // namespace vk::sim

// The serial line between the network serial server and the board: the
// host's and the board's baud rates, RTS and CTS, and the time each byte
// takes on the wire. Pure: every call is given the current time, so tests
// can drive it without a clock.
//
// A host byte sent while the host's rate differs from the board's by more
// than a UART tolerates (kRateTolerance) is lost.
// With pacing a byte needs 10 bit times (start, 8 data, stop) on the wire in
// either direction; without it bytes cross at once. The board's answer to a
// byte starts `latency` after that byte has fully arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace vk::sim {

using Nanos = int64_t;  // a point in time or a span, in nanoseconds

constexpr Nanos kMillisecond = 1'000'000;

enum class CtsMode {
  Normal,  // off at connect; rises after the RTS pulse
  High,    // on at connect; the RTS pulse makes it drop and rise again
  Stuck,   // on at connect, never changes
  Never,   // never rises
};

struct LineConfig {
  uint32_t board_baud = 115200;
  bool pace = false;
  Nanos latency = 0;
  // The host reads CTS first 50 ms after its RTS pulse and then waits for a
  // rising edge, so both changes come well after that first reading.
  Nanos cts_delay = 150 * kMillisecond;       // CTS low to CTS high after a reset
  Nanos cts_drop_delay = 150 * kMillisecond;  // RTS pulse to CTS low when CTS is on
  CtsMode cts_mode = CtsMode::Normal;
};

// How far apart the two ends' rates may be, as a fraction of the board's,
// for the board still to read the host's bytes: a receiver samples each
// bit in its middle, so over the ten bits of a byte the two clocks may
// drift apart by a few percent. A USB adapter runs at the rate its divisor
// gives (115385 for 115200 on most chips), well within it.
constexpr double kRateTolerance = 0.03;

class Line {
 public:
  static constexpr uint32_t kDefaultHostBaud = 115200;

  explicit Line(const LineConfig& config);

  // Time one byte takes on the wire at the board's rate (0 without pacing).
  Nanos ByteTime() const;

  void SetHostBaud(uint32_t baud) { host_baud_ = baud; }
  uint32_t host_baud() const { return host_baud_; }
  uint32_t board_baud() const { return config_.board_baud; }

  // Returns true when this change completes an RTS pulse (on, then off),
  // which resets the board.
  bool SetRts(bool on, Nanos now);
  bool rts() const { return rts_; }
  bool cts() const { return cts_; }
  // Applies a CTS change due by `now`; true when CTS changed. Call until
  // false.
  bool UpdateCts(Nanos now);

  // Host to board. False when the byte is lost (rates differ).
  bool FromHost(uint8_t byte, Nanos now);
  struct Arrival {
    uint8_t byte;
    Nanos at;
  };
  // Host bytes not yet fully arrived at the board.
  size_t PendingToBoard() const { return to_board_.size(); }
  // The next host byte that has fully reached the board by `now`.
  std::optional<Arrival> TakeArrival(Nanos now);

  // Board to host: the board's answer to a byte that arrived at `arrived`.
  void ToHost(const std::vector<uint8_t>& bytes, Nanos arrived);
  // Bytes that have fully reached the host by `now`, appended to `out`.
  void TakeDepartures(Nanos now, std::vector<uint8_t>& out);

  // The rates agree as closely as the board needs.
  bool RatesAgree() const;

  // Drop what is still on its way in one direction.
  void PurgeToHost();
  void PurgeToBoard();

  // The earliest time at which something is due, if anything is pending.
  std::optional<Nanos> NextDeadline() const;

 private:
  struct Timed {
    uint8_t byte;
    Nanos at;
  };

  LineConfig config_;
  uint32_t host_baud_ = kDefaultHostBaud;
  bool rts_ = false;
  bool cts_ = false;
  std::optional<Nanos> cts_drop_at_;
  std::optional<Nanos> cts_rise_at_;
  std::deque<Timed> to_board_;
  std::deque<Timed> to_host_;
  Nanos board_rx_free_ = 0;  // when the host-to-board wire is free
  Nanos board_tx_free_ = 0;  // when the board-to-host wire is free
};

}  // namespace vk::sim

// One client connection as the network serial server sees it: the Telnet
// side (option negotiation, COM Port Control commands and their answers,
// modem-state notifications) in front of the serial line and the board (its
// monitor, or a recording played back). Pure like the line: bytes and the current time go in, bytes for
// the socket come out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telnet/telnet.h"
#include "sim/line.h"
#include "sim/monitor.h"
#include "sim/trace.h"

namespace vk::sim {

class Session {
 public:
  Session(const LineConfig& line, std::unique_ptr<Board> board, Trace& trace);
  // With the board's monitor.
  Session(const LineConfig& line, const Knobs& knobs, FlashFs& flash, Trace& trace);

  // Queues the server's own option requests and traces CTS as the port
  // opens with it; call once, first.
  void Start();
  // Bytes received from the client.
  void FromNetwork(const uint8_t* data, size_t n, Nanos now);
  // Runs what is due by `now`: CTS changes, bytes reaching the board, the
  // board's answers reaching the host.
  void Advance(Nanos now);
  // The bytes to send to the client so far.
  std::string TakeOutput();
  // Names of the programs the board started so far.
  std::vector<std::string> TakeStarted();
  std::optional<Nanos> NextDeadline() const { return line_.NextDeadline(); }

  const Line& line() const { return line_; }
  Board& board() { return *board_; }

 private:
  struct OptionState {
    bool us = false;         // we perform the option (WILL agreed)
    bool us_asked = false;   // we sent WILL, no answer yet
    bool him = false;        // the client performs it (DO agreed)
    bool him_asked = false;  // we sent DO, no answer yet
  };

  // What the board sends for a byte that reached it (or the reset) at `at`.
  void Answer(const Output& answer, Nanos at);
  void Negotiate(uint8_t verb, uint8_t option);
  void ComPort(uint8_t command, const std::vector<uint8_t>& value, Nanos now);
  void SetControl(uint8_t value, Nanos now);
  void ComPortAgreed();
  void NotifyModemState(bool cts_changed);
  void Reply(uint8_t command, const std::vector<uint8_t>& value);

  Line line_;
  std::unique_ptr<Board> board_;
  Trace& trace_;
  vk::telnet::Decoder decoder_;
  std::string out_;
  std::vector<std::string> started_;

  std::array<OptionState, 256> options_{};
  bool modem_state_sent_ = false;
  uint8_t modem_mask_ = 0xFF;
  uint8_t line_mask_ = 0;
  uint8_t flow_ = vk::telnet::kControlNoFlow;
  bool dtr_ = false;
  uint8_t data_size_ = 8;
  uint8_t parity_ = vk::telnet::kParityNone;
  uint8_t stop_size_ = vk::telnet::kStopBitsOne;
};

}  // namespace vk::sim

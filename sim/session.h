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

#include "sim/board_line.h"
#include "sim/front.h"
#include "telnet/telnet.h"
#include "sim/line.h"
#include "sim/monitor.h"
#include "sim/trace.h"

namespace vk::sim {

class Session final : public Front {
 public:
  Session(const LineConfig& line, std::unique_ptr<Board> board, Trace& trace);
  // With the board's monitor.
  Session(const LineConfig& line, const Knobs& knobs, FlashFs& flash, Trace& trace);

  // Queues the server's own option requests and traces CTS as the port
  // opens with it; call once, first.
  void Start() override;
  // Bytes received from the client.
  void FromNetwork(const uint8_t* data, size_t n, Nanos now) override;
  // Runs what is due by `now`: CTS changes, bytes reaching the board, the
  // board's answers reaching the host.
  void Advance(Nanos now) override;
  // The bytes to send to the client so far.
  std::string TakeOutput() override;
  // Names of the programs the board started so far.
  std::vector<std::string> TakeStarted() override { return wire_.TakeStarted(); }
  std::optional<Nanos> NextDeadline() const override { return wire_.line().NextDeadline(); }

  const Line& line() const { return wire_.line(); }
  Board& board() override { return wire_.board(); }

 private:
  struct OptionState {
    bool us = false;         // we perform the option (WILL agreed)
    bool us_asked = false;   // we sent WILL, no answer yet
    bool him = false;        // the client performs it (DO agreed)
    bool him_asked = false;  // we sent DO, no answer yet
  };

  void Negotiate(uint8_t verb, uint8_t option);
  void ComPort(uint8_t command, const std::vector<uint8_t>& value, Nanos now);
  void SetControl(uint8_t value, Nanos now);
  void ComPortAgreed();
  void NotifyModemState(bool cts_changed);
  void Reply(uint8_t command, const std::vector<uint8_t>& value);

  BoardLine wire_;
  Line& line_;
  Trace& trace_;
  vk::telnet::Decoder decoder_;
  std::string out_;

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

// A recorded session played back in place of the board (vksim --replay).
// The recording is a trace file (format and reading rules in sim/trace.h):
// ParseRecording turns it into the transcript of bytes at the board's rate
// and the line as recorded; Replay answers the host with the board's
// recorded bytes and checks the host's bytes against the recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/line.h"
#include "sim/monitor.h"

namespace vk::sim {

struct Recording {
  struct Step {
    bool from_host;  // a host byte, else a byte of the board's
    uint8_t byte;
    bool operator==(const Step&) const = default;
  };
  std::vector<Step> steps;  // the transcript, in recorded order
  // The board's rate and its CTS answer to the RTS pulse, as recorded;
  // pacing and latency stay at their defaults.
  LineConfig line;
};

// False with `error` naming the line when `text` is no trace.
bool ParseRecording(std::string_view text, Recording& recording, std::string& error);

class Replay final : public Board {
 public:
  // `recording` must outlive the replay.
  explicit Replay(const Recording& recording) : steps_(recording.steps) {}

  // Board bytes recorded before the first host byte go out at the reset.
  void Reset(Output& out) override { SendDue(out); }
  void Receive(uint8_t byte, Output& out) override;
  void HostClosed() override;
  std::string Failure() const override { return failure_; }

 private:
  // The board's bytes up to the next host byte of the transcript.
  void SendDue(Output& out);
  void Diverge(const std::string& expected, uint8_t received);

  const std::vector<Recording::Step>& steps_;
  size_t next_ = 0;      // the next step of the transcript
  size_t compared_ = 0;  // host bytes compared so far
  std::string failure_;
};

}  // namespace vk::sim

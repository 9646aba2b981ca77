// The replay's rules the played-back sessions cannot show: the rate listened
// at, CTS as recorded, where and how a host that strays is stopped.
#include <gtest/gtest.h>

#include "sim/replay.h"

using vk::sim::CtsMode;
using vk::sim::kMillisecond;
using vk::sim::Recording;

namespace {

constexpr Recording::Step H7f{true, 0x7F}, B7f{false, 0x7F};

TEST(RecordingParse, ListeningRateAndCts) {
  const struct {
    std::string text;
    std::vector<Recording::Step> steps;
    uint32_t baud;
    CtsMode cts;
    int cts_ms;
  } cases[] = {
      // Lost bytes and bytes at another rate left out; the rate of the first
      // board byte; CTS 250 ms after the pulse; nothing after the end.
      {"0 # cts 0\n0 # rts 1\n10 # rts 0\n250010 # cts 1\nx 7f\n> 0f\n# baud 38400\n> 7f\n< 7f\n> 04\n"
       "# disconnect\n< 55\n",
       {H7f, B7f, {true, 4}}, 38400, CtsMode::Normal, 250},
      // CTS on at first drops and rises; untimed: the default delay.
      {"# rts 1\r\n# rts 0\r\n# cts 1\r\n# baud 38400\r\n# cts 0\r\n# cts 1\r\n> 7F\r\n< 7F\r\n", {H7f, B7f}, 38400,
       CtsMode::High, 150},
      // No board byte: the last rate; CTS on, never dropping.
      {"# cts 1\n# rts 1\n# rts 0\n# baud 38400\n> 7f\n# baud 115200\n> 0f\n", {{true, 0x0F}}, 115200,
       CtsMode::Stuck, 150},
  };
  for (const auto& c : cases) {
    Recording r;
    std::string error;
    ASSERT_TRUE(vk::sim::ParseRecording(c.text, r, error)) << error;
    EXPECT_EQ(r.steps, c.steps) << c.text;
    EXPECT_EQ(r.line.board_baud, c.baud) << c.text;
    EXPECT_EQ(r.line.cts_mode, c.cts) << c.text;
    EXPECT_EQ(r.line.cts_delay, c.cts_ms * kMillisecond) << c.text;
  }
}

TEST(ReplayPlay, StopsAtTheFirstDifference) {
  Recording r;
  std::string error;
  ASSERT_TRUE(vk::sim::ParseRecording("< 55\n> 7f\n< 7f\n> 08\n< 08\n< 00\n", r, error));
  const struct {
    std::vector<uint8_t> host;
    bool host_closes;
    std::vector<uint8_t> board;
    std::string failure;
  } cases[] = {
      {{0x7F, 0x05, 0x08}, false, {0x55, 0x7F}, "replay diverged at host byte 2: expected 0x08, received 0x05"},
      {{0x7F, 0x08, 0x04}, true, {0x55, 0x7F, 0x08, 0x00},
       "replay diverged at host byte 3: expected end of recording, received 0x04"},
      {{0x7F}, true, {0x55, 0x7F}, "replay diverged: host closed at host byte 2, expected 0x08"},
  };
  for (const auto& c : cases) {
    vk::sim::Replay replay(r);
    vk::sim::Output out;
    replay.Reset(out);
    for (uint8_t b : c.host) replay.Receive(b, out);
    if (c.host_closes) replay.HostClosed();
    EXPECT_EQ(out.bytes, c.board) << c.failure;
    EXPECT_EQ(replay.Failure(), c.failure);
  }
}

}  // namespace

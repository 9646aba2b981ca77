// The simulator's serial line: lost bytes at a wrong rate, pacing,
// turnaround latency and the board's CTS answer to the RTS pulse.
#include <gtest/gtest.h>

#include "sim/adapters.h"
#include "sim/line.h"

using vk::sim::CtsMode;
using vk::sim::kMillisecond;
using vk::sim::Line;
using vk::sim::LineConfig;
using vk::sim::Nanos;

namespace {

constexpr Nanos kT0 = 1'000'000'000;  // an arbitrary start time
constexpr Nanos kByte115200 = 86'805;  // 10 bits at 115200 baud
constexpr Nanos kByte38400 = 260'416;

LineConfig Config(uint32_t board = 115200, bool pace = false, Nanos latency = 0) {
  LineConfig c;
  c.board_baud = board;
  c.pace = pace;
  c.latency = latency;
  return c;
}

struct RateCase {
  uint32_t board;
  uint32_t host;
  bool arrives;
};

class SimLineRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(SimLineRates, HostBytesCrossOnlyAtTheBoardsRate) {
  Line line(Config(GetParam().board));
  EXPECT_EQ(line.host_baud(), 115200u) << "the host starts at 115200";
  line.SetHostBaud(GetParam().host);
  EXPECT_EQ(line.FromHost(0x7F, kT0), GetParam().arrives);
  const auto got = line.TakeArrival(kT0);
  ASSERT_EQ(got.has_value(), GetParam().arrives);
  if (got) {
    EXPECT_EQ(got->byte, 0x7F);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SimLineRates,
                         ::testing::Values(RateCase{115200, 115200, true},
                                           RateCase{115200, 111000, false},  // 3.6 % off
                                           RateCase{115200, 38400, false},
                                           RateCase{38400, 38400, true},
                                           RateCase{38400, 115200, false}));

TEST(SimLine, PacedHostBytesArriveOneByteTimeApart) {
  Line line(Config(115200, true));
  EXPECT_EQ(line.ByteTime(), kByte115200);
  for (uint8_t b : {1, 2, 3}) line.FromHost(b, kT0);
  EXPECT_EQ(line.NextDeadline(), kT0 + kByte115200);
  EXPECT_FALSE(line.TakeArrival(kT0 + kByte115200 - 1));
  for (int i = 1; i <= 3; ++i) {
    const auto a = line.TakeArrival(kT0 + 3 * kByte115200);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->byte, i);
    EXPECT_EQ(a->at, kT0 + i * kByte115200);
  }
  EXPECT_FALSE(line.NextDeadline());
}

TEST(SimLine, UnpacedBytesCrossAtOnce) {
  Line line(Config());
  line.FromHost(1, kT0);
  ASSERT_TRUE(line.TakeArrival(kT0));
  line.ToHost({1, 2}, kT0);
  std::vector<uint8_t> out;
  line.TakeDepartures(kT0, out);
  EXPECT_EQ(out, std::vector<uint8_t>({1, 2}));
}

TEST(SimLine, AnswerStartsAfterLatencyAndLeavesAtLineSpeed) {
  Line line(Config(38400, true, 5 * kMillisecond));
  const Nanos arrived = kT0;
  line.ToHost({0xA, 0xB}, arrived);
  const Nanos first = arrived + 5 * kMillisecond + kByte38400;
  EXPECT_EQ(line.NextDeadline(), first);
  std::vector<uint8_t> out;
  line.TakeDepartures(first - 1, out);
  EXPECT_TRUE(out.empty());
  line.TakeDepartures(first, out);
  EXPECT_EQ(out, std::vector<uint8_t>{0xA});
  // An answer to a later byte queues behind what is still on the wire.
  line.ToHost({0xC}, arrived + 1);
  line.TakeDepartures(first + 2 * kByte38400 - 1, out);
  EXPECT_EQ(out, std::vector<uint8_t>({0xA, 0xB}));
  line.TakeDepartures(first + 2 * kByte38400, out);
  EXPECT_EQ(out, std::vector<uint8_t>({0xA, 0xB, 0xC}));
}

TEST(SimLine, PurgeDropsWhatIsStillOnTheWay) {
  Line line(Config(115200, true));
  line.ToHost({1, 2, 3}, kT0);
  line.FromHost(4, kT0);
  line.PurgeToHost();
  std::vector<uint8_t> out;
  line.TakeDepartures(kT0 + kMillisecond, out);
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(line.TakeArrival(kT0 + kMillisecond)) << "the other direction is kept";
  line.FromHost(5, kT0 + kMillisecond);
  line.PurgeToBoard();
  EXPECT_FALSE(line.TakeArrival(kT0 + 2 * kMillisecond));
  EXPECT_FALSE(line.NextDeadline());
}

// CTS over time after the pulse: (time since the pulse, expected CTS).
struct CtsCase {
  const char* name;
  CtsMode mode;
  bool at_connect;
  std::vector<std::pair<Nanos, bool>> after_pulse;
};

class SimLineCts : public ::testing::TestWithParam<CtsCase> {};

TEST_P(SimLineCts, AnswerToTheRtsPulse) {
  LineConfig c = Config();
  c.cts_mode = GetParam().mode;
  c.cts_delay = 20 * kMillisecond;
  c.cts_drop_delay = 100 * kMillisecond;
  Line line(c);
  EXPECT_EQ(line.cts(), GetParam().at_connect);
  EXPECT_FALSE(line.SetRts(false, kT0)) << "off while off is no pulse";
  EXPECT_FALSE(line.SetRts(true, kT0));
  EXPECT_TRUE(line.SetRts(false, kT0));
  for (const auto& [when, cts] : GetParam().after_pulse) {
    while (line.UpdateCts(kT0 + when)) {
    }
    EXPECT_EQ(line.cts(), cts) << when / kMillisecond << " ms after the pulse";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimLineCts,
    ::testing::Values(
        CtsCase{"normal", CtsMode::Normal, false,
                {{0, false}, {19 * kMillisecond, false}, {20 * kMillisecond, true}}},
        CtsCase{"high", CtsMode::High, true,
                {{50 * kMillisecond, true},
                 {100 * kMillisecond, false},
                 {119 * kMillisecond, false},
                 {120 * kMillisecond, true}}},
        CtsCase{"stuck", CtsMode::Stuck, true, {{0, true}, {10'000 * kMillisecond, true}}},
        CtsCase{"never", CtsMode::Never, false, {{0, false}, {10'000 * kMillisecond, false}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimLine, LateCheckSeesDropThenRise) {
  LineConfig c = Config();
  c.cts_mode = CtsMode::High;
  Line line(c);
  line.SetRts(true, kT0);
  line.SetRts(false, kT0);
  ASSERT_TRUE(line.UpdateCts(kT0 + 10'000 * kMillisecond));
  EXPECT_FALSE(line.cts());
  ASSERT_TRUE(line.UpdateCts(kT0 + 10'000 * kMillisecond));
  EXPECT_TRUE(line.cts());
  EXPECT_FALSE(line.UpdateCts(kT0 + 10'000 * kMillisecond));
}

TEST(SimLine, SecondPulseWithCtsOnDropsAndRaisesIt) {
  LineConfig c = Config();
  c.cts_delay = 20 * kMillisecond;
  c.cts_drop_delay = 100 * kMillisecond;
  Line line(c);
  line.SetRts(true, kT0);
  line.SetRts(false, kT0);
  while (line.UpdateCts(kT0 + 20 * kMillisecond)) {
  }
  ASSERT_TRUE(line.cts());
  const Nanos t1 = kT0 + kMillisecond * 1000;
  line.SetRts(true, t1);
  line.SetRts(false, t1);
  EXPECT_EQ(line.NextDeadline(), t1 + 100 * kMillisecond);
  EXPECT_TRUE(line.UpdateCts(t1 + 100 * kMillisecond));
  EXPECT_FALSE(line.cts());
  EXPECT_TRUE(line.UpdateCts(t1 + 120 * kMillisecond));
  EXPECT_TRUE(line.cts());
}

// The PL2303's rate as a divisor, as its Linux driver sends rates outside its table: 12 MHz
// * 32 / (156 * 4^3) (the chips' other encodings go through their drivers in the USB lane).
TEST(SimAdapters, Pl2303DivisorDecodesToTheRate) {
  vk::sim::FlashFs flash;
  vk::sim::Knobs knobs;
  vk::sim::Trace trace;
  std::vector<std::string> lines;
  trace.CaptureTo(&lines);
  auto adapter = vk::sim::MakeAdapter({vk::sim::AdapterKind::Pl2303, {}}, Config(),
                                      std::make_unique<vk::sim::Monitor>(flash, knobs), trace);
  EXPECT_FALSE(adapter->Control({0x21, 0x20, 0, 0, 7}, {156, 6, 0, 0x80, 0, 0, 8}, kT0).stall);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "# baud 38461");
}

}  // namespace

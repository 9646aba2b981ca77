// The simulated target monitor fed byte by byte: the exchanges the tools
// rely on, and each fault knob changing exactly its byte.
#include <gtest/gtest.h>

#include "sim/monitor.h"
#include "sim_feed.h"

using vk::sim::FlashFs;
using vk::sim::Knobs;
using vk::sim::Monitor;
using vk::sim::Output;
using Bytes = std::vector<uint8_t>;

using vktest::Cat;
using vktest::Feed;

namespace {

FlashFs Flash() {
  FlashFs fs;
  vk::sim::Program p;
  p.name = "AB";
  fs.Add(p);
  p.name = "DATA";
  p.type = 2;
  fs.Add(p);
  return fs;
}

const Bytes kSync{0x7F, 0x7F};
const Bytes kStartAb{0x05, 0x41, 0x42, 0x00};
const Bytes kEnd{0x04, 0x0C};

TEST(SimMonitor, StartProgramAndEndSessionWorkedExample) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  EXPECT_EQ(Feed(m, kSync).bytes, Bytes({0x7F, 0x7F}));
  const Output start = Feed(m, kStartAb);
  EXPECT_EQ(start.bytes, Bytes({0x05, 0x41, 0x42, 0x00, 0x88, 0x01}));
  EXPECT_EQ(start.started, std::vector<std::string>{"AB"});
  EXPECT_EQ(start.events, std::vector<std::string>{"started AB"});
  EXPECT_EQ(Feed(m, {0x04}).bytes, Bytes({0x04, 0x04, 0x01}));
  EXPECT_EQ(m.state(), Monitor::State::AwaitClose);
  EXPECT_TRUE(Feed(m, {0x0C}).bytes.empty()) << "the closing byte is not echoed";
  EXPECT_EQ(m.state(), Monitor::State::WaitSync);
}

struct StartCase {
  const char* name;
  Bytes host;  // command byte, name and 0
  Bytes board;
};

class SimMonitorStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(SimMonitorStart, ResultByName) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  Feed(m, kSync);
  const Output out = Feed(m, GetParam().host);
  EXPECT_EQ(out.bytes, GetParam().board);
  EXPECT_EQ(out.started.empty(), GetParam().board.back() != 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimMonitorStart,
    ::testing::Values(
        StartCase{"data_file", {0x05, 'D', 'A', 'T', 'A', 0}, {0x05, 'D', 'A', 'T', 'A', 0, 0x1F, 2}},
        StartCase{"absent", {0x05, 'X', 0}, {0x05, 'X', 0, 0x5D, 0}},
        StartCase{"case_matters", {0x05, 'a', 'b', 0}, {0x05, 'a', 'b', 0, 0xC8, 0}},
        StartCase{"empty_name", {0x05, 0}, {0x05, 0, 0x05, 0}},
        StartCase{"sum_wraps", {0x05, 0xFF, 0x01, 0}, {0x05, 0xFF, 0x01, 0, 0x05, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimMonitor, OverlongNameIsEchoedWholeAndNotFound) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  Feed(m, kSync);
  Bytes host{0x05};
  host.insert(host.end(), 300, 'A');
  host.push_back(0);
  const Output out = Feed(m, host);
  ASSERT_EQ(out.bytes.size(), host.size() + 2);
  EXPECT_TRUE(std::equal(host.begin(), host.end(), out.bytes.begin()));
  EXPECT_EQ(out.bytes[host.size()], static_cast<uint8_t>(0x05 + 300 * 'A'));
  EXPECT_EQ(out.bytes.back(), 0);
}

TEST(SimMonitor, NothingBeforeTheRtsPulseAndNoiseBeforeSyncIgnored) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  EXPECT_TRUE(Feed(m, Cat({kSync, kStartAb})).bytes.empty());
  m.Reset();
  EXPECT_EQ(Feed(m, {0x00, 0x41, 0x05, 0x7F}).bytes, Bytes({0x7F}));
}

TEST(SimMonitor, UnknownCommandIsEchoedOnly) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  Feed(m, kSync);
  EXPECT_EQ(Feed(m, {0x0B}).bytes, Bytes({0x0B}));
  EXPECT_EQ(Feed(m, {0x04}).bytes, Bytes({0x04, 0x04, 0x01}));
}

// In the RAM-loader session only the sync bytes are echoed (the messages
// themselves: sim_ram_test.cpp); a reset brings the flash session back.
TEST(SimMonitor, RamSyncOpensRamSessionUntilReset) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  const Output out = Feed(m, {0x0F, 0x0F, 0x7F, 0x05});
  EXPECT_EQ(out.bytes, Bytes({0x0F, 0x0F}));
  EXPECT_EQ(out.events, (std::vector<std::string>{"ram session", "ram unknown byte 7f"}));
  m.Reset();
  EXPECT_EQ(Feed(m, {0x7F}).bytes, Bytes({0x7F}));
}

TEST(SimMonitor, ResetInTheMiddleOfACommandWaitsForSyncAgain) {
  FlashFs fs = Flash();
  Knobs knobs;
  Monitor m(fs, knobs);
  m.Reset();
  Feed(m, Cat({kSync, {0x05, 0x41}}));
  m.Reset();
  EXPECT_EQ(Feed(m, Cat({{0x42, 0x00}, kSync, kStartAb})).bytes,
            Bytes({0x7F, 0x7F, 0x05, 0x41, 0x42, 0x00, 0x88, 0x01}));
}

// Knobs that act per session act again after the closing byte and a new sync.
TEST(SimMonitor, SecondSessionGetsFillersAndEchoFaultAgain) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.fillers_7f = 1;
  knobs.echo_fault = 2;
  Monitor m(fs, knobs);
  m.Reset();
  const Bytes session = Cat({kSync, kStartAb, kEnd});
  const Bytes expected{0x7F, 0x7F, 0x7F, 0x05, 0xC1, 0x42, 0x00, 0x88, 0x01, 0x04, 0x04, 0x01};
  EXPECT_EQ(Feed(m, session).bytes, expected);
  EXPECT_EQ(Feed(m, session).bytes, expected);
}

struct KnobCase {
  const char* name;
  Knobs knobs;
  Bytes host;
  Bytes board;
  bool started = true;
};

Knobs With(void (*set)(Knobs&)) {
  Knobs k;
  set(k);
  return k;
}

const Bytes kSession = Cat({kSync, kStartAb, kEnd});
// No faults: 7F 7F | 05 41 42 00 88 01 | 04 04 01
const Bytes kClean{0x7F, 0x7F, 0x05, 0x41, 0x42, 0x00, 0x88, 0x01, 0x04, 0x04, 0x01};

Bytes Replace(Bytes b, size_t at, uint8_t value) {
  b.at(at) = value;
  return b;
}
Bytes Insert(Bytes b, size_t at, Bytes what) {
  b.insert(b.begin() + static_cast<long>(at), what.begin(), what.end());
  return b;
}

class SimMonitorKnobs : public ::testing::TestWithParam<KnobCase> {};

TEST_P(SimMonitorKnobs, ChangeExactlyTheirBytes) {
  FlashFs fs = Flash();
  const KnobCase& c = GetParam();
  Monitor m(fs, c.knobs);
  m.Reset();
  const Output out = Feed(m, c.host);
  EXPECT_EQ(out.bytes, c.board);
  EXPECT_EQ(!out.started.empty(), c.started);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimMonitorKnobs,
    ::testing::Values(
        KnobCase{"none", {}, kSession, kClean},
        KnobCase{"fillers_7f", With([](Knobs& k) { k.fillers_7f = 3; }), kSession,
                 Insert(kClean, 2, {0x7F, 0x7F, 0x7F})},
        KnobCase{"fillers_ff_not_before_early_results",
                 With([](Knobs& k) { k.fillers_ff = 3; }), kSession, kClean},
        KnobCase{"echo_fault_name_byte_keeps_true_checksum",
                 With([](Knobs& k) { k.echo_fault = 2; }), kSession, Replace(kClean, 3, 0xC1)},
        KnobCase{"echo_fault_last_parameter", With([](Knobs& k) { k.echo_fault = 4; }), kSession,
                 Replace(kClean, 5, 0x80)},
        KnobCase{"echo_fault_command_byte_is_not_served",
                 With([](Knobs& k) { k.echo_fault = 1; }), Cat({{0x7F, 0x05}, kEnd}),
                 {0x7F, 0x85, 0x04, 0x04, 0x01}, false},
        KnobCase{"echo_fault_end_session", With([](Knobs& k) { k.echo_fault = 5; }),
                 Cat({kSync, kStartAb, {0x04}}),
                 {0x7F, 0x7F, 0x05, 0x41, 0x42, 0x00, 0x88, 0x01, 0x84}},
        KnobCase{"echo_fault_sync_echoes_not_counted",
                 With([](Knobs& k) { k.echo_fault = 1; }), Cat({kSync, {0x7F, 0x04}}),
                 {0x7F, 0x7F, 0x7F, 0x84}, false},
        KnobCase{"checksum_fault_start", With([](Knobs& k) { k.checksum_fault = {5}; }), kSession,
                 Replace(kClean, 6, 0x89)},
        KnobCase{"checksum_fault_end", With([](Knobs& k) { k.checksum_fault = {4}; }), kSession,
                 Replace(kClean, 9, 0x05)},
        KnobCase{"result_start", With([](Knobs& k) { k.result_override = {{5, 7}}; }), kSession,
                 Replace(kClean, 7, 0x07)},
        KnobCase{"result_end", With([](Knobs& k) { k.result_override = {{4, 0}}; }), kSession,
                 Replace(kClean, 10, 0x00)},
        KnobCase{"silent_after_3", With([](Knobs& k) { k.silent_after = 3; }), kSession,
                 {0x7F, 0x7F, 0x05, 0x41}},
        KnobCase{"silent_after_4_program_still_starts", With([](Knobs& k) { k.silent_after = 4; }),
                 kSession, {0x7F, 0x7F, 0x05, 0x41, 0x42}},
        KnobCase{"silent_after_0", With([](Knobs& k) { k.silent_after = 0; }), kSession,
                 {0x7F, 0x7F}},
        KnobCase{"stale", With([](Knobs& k) { k.stale = 2; }), kSession,
                 Insert(kClean, 1, {0x55, 0x55})},
        KnobCase{"sync_junk", With([](Knobs& k) { k.sync_junk = true; }), kSession,
                 Insert(kClean, 0, {0x00})},
        KnobCase{"sync_ignore_1", With([](Knobs& k) { k.sync_ignore = 1; }), kSession,
                 Bytes(kClean.begin() + 1, kClean.end())},
        KnobCase{"sync_ignore_counts_ram_sync", With([](Knobs& k) { k.sync_ignore = 3; }),
                 Cat({{0x0F, 0x7F}, kSession}), Bytes(kClean.begin() + 1, kClean.end())}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

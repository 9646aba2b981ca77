// The simulated board's RAM-loader session, fed byte by byte: replies, the
// RAM image, the start, the fault knob and the dump file.
#include <gtest/gtest.h>

#include "sim/monitor.h"
#include "support/process.h"
#include "sim_feed.h"

using vk::sim::FlashFs;
using vk::sim::Knobs;
using vk::sim::Monitor;
using vk::sim::Output;
using Bytes = std::vector<uint8_t>;

using vktest::Cat;
using vktest::Feed;

namespace {

const Bytes kSync{0x0F, 0x0F};
const Bytes kOneWord{0x00, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x08, 0x00, 0x11, 0x22, 0x33, 0x44};
const Bytes kTwoWords{0x00, 0x00, 0x10, 0x01, 0x00, 0x00, 0x09, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
const Bytes kStart{0x05, 0x00, 0x80, 0x9C, 0x00};
const Bytes kClosing{0x05};

struct RamCase {
  const char* title;
  std::set<int> faults;
  Bytes host;
  Bytes board;
  std::map<uint32_t, uint32_t> image;
  std::optional<uint32_t> started_at;
  std::vector<std::string> events;
};

void PrintTo(const RamCase& c, std::ostream* os) { *os << c.title; }

class SimRam : public ::testing::TestWithParam<RamCase> {};

TEST_P(SimRam, RepliesImageAndStart) {
  const RamCase& c = GetParam();
  FlashFs flash;
  Knobs knobs;
  knobs.ram.checksum_fault = c.faults;
  Monitor m(flash, knobs);
  m.Reset();
  const Output out = Feed(m, c.host);
  EXPECT_EQ(out.bytes, c.board);
  EXPECT_EQ(m.ram().image(), c.image);
  EXPECT_EQ(m.ram().started_at(), c.started_at);
  EXPECT_EQ(out.events, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SimRam,
    ::testing::Values(
        RamCase{"documented_example",
                {},
                Cat({kSync, kOneWord, kStart, kClosing}),
                {0x0F, 0x0F, 0xBF, 0x21},
                {{0x800, 0x11223344}},
                0x00809C00,
                {"ram session", "ram data 00000800 1", "ram entry 00809c00", "ram start 00809c00"}},
        RamCase{"two_records_in_order",
                {},
                Cat({kSync, kOneWord, kTwoWords, kStart, kClosing}),
                {0x0F, 0x0F, 0xBF, 0x5C, 0x21},
                {{0x800, 0x11223344}, {0x900, 0xDEADBEEF}, {0x901, 0x01020304}},
                0x00809C00,
                {"ram session", "ram data 00000800 1", "ram data 00000900 2", "ram entry 00809c00",
                 "ram start 00809c00"}},
        // The fault changes only its reply; the words are kept.
        RamCase{"checksum_fault_second_message",
                {2},
                Cat({kSync, kOneWord, kTwoWords, kStart, kClosing}),
                {0x0F, 0x0F, 0xBF, 0x5D, 0x21},
                {{0x800, 0x11223344}, {0x900, 0xDEADBEEF}, {0x901, 0x01020304}},
                0x00809C00,
                {"ram session", "ram data 00000800 1", "ram data 00000900 2", "ram entry 00809c00",
                 "ram start 00809c00"}},
        RamCase{"checksum_fault_start_message",
                {2},
                Cat({kSync, kOneWord, kStart, kClosing}),
                {0x0F, 0x0F, 0xBF, 0x22},
                {{0x800, 0x11223344}},
                0x00809C00,
                {"ram session", "ram data 00000800 1", "ram entry 00809c00", "ram start 00809c00"}},
        // Nothing is echoed, an unknown byte between messages gets nothing.
        RamCase{"unknown_byte_ignored",
                {},
                Cat({kSync, {0x42}, kOneWord}),
                {0x0F, 0x0F, 0xBF},
                {{0x800, 0x11223344}},
                std::nullopt,
                {"ram session", "ram unknown byte 42", "ram data 00000800 1"}},
        RamCase{"zero_word_message",
                {},
                Cat({kSync, {0x00, 0x00, 0x08, 0x01, 0x12, 0x34, 0x56, 0x78}}),
                {0x0F, 0x0F, 0x1D},
                {},
                std::nullopt,
                {"ram session", "ram data 12345678 0"}},
        RamCase{"length_shorter_than_header",
                {},
                Cat({kSync, {0x00, 0x00, 0x03}, kOneWord}),
                {0x0F, 0x0F, 0x03, 0xBF},
                {{0x800, 0x11223344}},
                std::nullopt,
                {"ram session", "ram message not stored (3 bytes)", "ram data 00000800 1"}},
        RamCase{"wrong_closing_byte",
                {},
                Cat({kSync, kStart, {0x04}}),
                {0x0F, 0x0F, 0x21},
                {},
                std::nullopt,
                {"ram session", "ram entry 00809c00", "ram not started: closing byte 04"}},
        // Once started the monitor is gone: a further sync is not answered.
        RamCase{"monitor_gone_after_start",
                {},
                Cat({kSync, kStart, kClosing, kSync, kOneWord}),
                {0x0F, 0x0F, 0x21},
                {},
                0x00809C00,
                {"ram session", "ram entry 00809c00", "ram start 00809c00"}}),
    [](const auto& info) { return std::string(info.param.title); });

// The flash session's sync byte opens no RAM session and the RAM sync no
// echoed one.
TEST(SimRamSync, OnlyZeroFOpensTheRamSession) {
  FlashFs flash;
  Knobs knobs;
  Monitor m(flash, knobs);
  m.Reset();
  Feed(m, {0x0F});
  EXPECT_EQ(m.state(), Monitor::State::Ram);
  Monitor flash_session(flash, knobs);
  flash_session.Reset();
  Feed(flash_session, {0x7F});
  EXPECT_EQ(flash_session.state(), Monitor::State::Synced);
}

TEST(SimRamDump, WrittenAtStartAndWhenTheConnectionEnds) {
  vktest::TempDir dir;
  FlashFs flash;
  Knobs knobs;
  knobs.ram.dump_path = dir.File("ram.txt");
  const std::string header = "# vksim RAM image: entry, then word address and word, hexadecimal\n";
  {
    Monitor m(flash, knobs);
    m.Reset();
    Feed(m, Cat({kSync, kTwoWords, kStart, kClosing}));
    EXPECT_EQ(vktest::ReadFile(knobs.ram.dump_path),
              header + "entry 00809c00\n00000900 deadbeef\n00000901 01020304\n");
  }
  // A load cut off by the end of the connection still leaves its image.
  {
    Monitor m(flash, knobs);
    m.Reset();
    Feed(m, Cat({kSync, kOneWord}));
    EXPECT_FALSE(vktest::FileExists(knobs.ram.dump_path + ".part"));
  }
  EXPECT_EQ(vktest::ReadFile(knobs.ram.dump_path), header + "entry none\n00000800 11223344\n");
}

}  // namespace

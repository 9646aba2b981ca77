// The simulated board's flash file commands fed byte by byte, where the
// tools' runs cannot reach: every answer of RenameProgram, and where the
// check report's fillers stand.
#include <gtest/gtest.h>

#include "sim/monitor.h"
#include "support/bytes.h"

using vk::sim::FlashFs;
using vk::sim::Knobs;
using vk::sim::Monitor;
using vk::sim::Output;
using vk::sim::Program;
using Bytes = std::vector<uint8_t>;

using vktest::Cat;

namespace {

// AB: program of 2 words; DATA: data file of 1 word.
FlashFs Flash() {
  FlashFs fs;
  Program p;
  p.name = "AB";
  p.date = {1, 2, 3, 4, 5, 6};
  p.words = {1, 2};
  fs.Add(p);
  p.name = "DATA";
  p.type = 2;
  p.words = {3};
  fs.Add(p);
  return fs;
}

// A session opened, then `host` fed; the board's answer to `host`.
Bytes Answer(FlashFs& fs, const Knobs& knobs, const Bytes& host) {
  Monitor m(fs, knobs);
  m.Reset();
  Output out;
  m.Receive(0x7F, out);
  out.bytes.clear();
  for (uint8_t b : host) m.Receive(b, out);
  return out.bytes;
}

uint8_t Sum(const Bytes& b, uint8_t start = 0) {
  for (uint8_t x : b) start = static_cast<uint8_t>(start + x);
  return start;
}

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

Bytes Names(const FlashFs& fs) {
  std::string all;
  for (const Program& p : fs.programs()) all += p.name + " ";
  return Bytes(all.begin(), all.end());
}

struct RenameCase {
  const char* title;
  std::string from, to;
  uint8_t result;
  std::string names_after;
};

class SimRename : public ::testing::TestWithParam<RenameCase> {};

TEST_P(SimRename, LateResultAndFlash) {
  const RenameCase& c = GetParam();
  FlashFs fs = Flash();
  const Bytes host = Cat({{0x06}, Text(c.from), Text(c.to)});
  // Echoes, checksum, one busy filler, the result.
  EXPECT_EQ(Answer(fs, Knobs{}, host), Cat({host, {Sum(host), 0xFF, c.result}}));
  EXPECT_EQ(Names(fs), Bytes(c.names_after.begin(), c.names_after.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Results, SimRename,
    ::testing::Values(RenameCase{"renamed", "AB", "NEW", 1, "NEW DATA "},
                      RenameCase{"not_present", "GONE", "NEW", 0, "AB DATA "},
                      RenameCase{"new_name_in_use", "AB", "DATA", 2, "AB DATA "},
                      RenameCase{"own_name", "AB", "AB", 1, "AB DATA "},
                      RenameCase{"new_name_empty", "AB", "", 3, "AB DATA "},
                      RenameCase{"new_name_of_16", "AB", "ABCDEFGHIJKLMNOP", 3, "AB DATA "}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(SimCheck, DamagedFilesWithFillersStatusAndChecksumFault) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.corrupt = {"AB", "X"};
  knobs.autostart_status = 1;
  knobs.fillers_ff = 2;
  knobs.reply_checksum_fault.insert(10);
  const Bytes head{0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x07, 0xFF, 0xF4};
  const Bytes tail{0x01, 0x02, 0x01};
  const uint8_t sum = Sum(Cat({head, Text("AB"), Text("X"), {0}, tail}), 0x0A);
  EXPECT_EQ(Answer(fs, knobs, {0x0A}),
            Cat({{0x0A}, head, {0xFF, 0xFF}, Text("AB"), {0xFF, 0xFF}, Text("X"), {0xFF, 0xFF, 0x00}, tail,
                 {static_cast<uint8_t>(sum + 1)}}));
}

}  // namespace

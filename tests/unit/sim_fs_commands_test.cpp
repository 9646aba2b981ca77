// The simulated board's flash file commands fed byte by byte: what goes
// back on the line, what happens to the flash, and the knobs that change
// their answers.
#include <gtest/gtest.h>

#include "sim/monitor.h"

using vksim::FlashFs;
using vksim::Knobs;
using vksim::Monitor;
using vksim::Output;
using vksim::Program;
using Bytes = std::vector<uint8_t>;

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

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
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

TEST(SimDelete, AbsentProgramHasOneResult) {
  FlashFs fs = Flash();
  const Bytes host = Cat({{0x07}, Text("GONE")});
  EXPECT_EQ(Answer(fs, Knobs{}, host), Cat({host, {Sum(host), 0x00}}));
  EXPECT_EQ(fs.programs().size(), 2u);
}

TEST(SimDelete, TwoStagesWithFillersBetween) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.fillers_ff = 3;
  const Bytes host = Cat({{0x07}, Text("AB")});
  EXPECT_EQ(Answer(fs, knobs, host), Cat({host, {Sum(host), 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}}));
  EXPECT_EQ(Names(fs), Bytes({'D', 'A', 'T', 'A', ' '}));
}

TEST(SimDelete, FailureKeepsTheFileAndLateOverrideHitsTheSecondResult) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.work_fault.insert(7);
  const Bytes host = Cat({{0x07}, Text("AB")});
  EXPECT_EQ(Answer(fs, knobs, host), Cat({host, {Sum(host), 0x01, 0xFF, 0x00}}));
  EXPECT_EQ(fs.programs().size(), 2u);

  Knobs late;
  late.late_result_override[7] = 0x7F;
  EXPECT_EQ(Answer(fs, late, host), Cat({host, {Sum(host), 0x01, 0xFF, 0x7F}}));
}

Bytes DirectoryOf(const std::string& autoboot, uint32_t free_bytes) {
  Bytes d = Cat({Text("AB"), {1, 1, 2, 3, 4, 5, 6, 0, 0, 0, 8}, Text("DATA"), {2, 1, 2, 3, 4, 5, 6, 0, 0, 0, 4}, {0},
                 Text(autoboot)});
  for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(free_bytes >> shift));
  d.push_back(0);
  return d;
}

TEST(SimList, DirectoryAndItsChecksum) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.autoboot = "AB";
  const Bytes dir = DirectoryOf("AB", FlashFs::kCapacityBytes - 12);
  EXPECT_EQ(Answer(fs, knobs, {0x08}), Cat({{0x08, 0x08}, dir, {Sum(dir)}}));

  knobs.reply_checksum_fault.insert(8);
  knobs.checksum_fault.insert(8);
  EXPECT_EQ(Answer(fs, knobs, {0x08}), Cat({{0x08, 0x09}, dir, {static_cast<uint8_t>(Sum(dir) + 1)}}));
}

TEST(SimList, EmptyFlashIsOneZero) {
  FlashFs fs;
  EXPECT_EQ(Answer(fs, Knobs{}, {0x08}), Bytes({0x08, 0x08, 0x00}));
}

TEST(SimList, OddEntriesFollowTheFiles) {
  FlashFs fs;
  Knobs knobs;
  Program odd;
  odd.name = std::string(20, 'L');
  odd.words.resize(3);
  knobs.odd_entries.push_back(odd);
  const Bytes dir = Cat({Text(odd.name), {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12}, {0}, Text(""),
                         {0x00, 0x08, 0x00, 0x00}, {0}});
  EXPECT_EQ(Answer(fs, knobs, {0x08}), Cat({{0x08, 0x08}, dir, {Sum(dir)}}));
}

TEST(SimFormat, ConfirmedFormatEmptiesTheFlash) {
  FlashFs fs = Flash();
  const Bytes host{0x09, 0x00, 0xFF, 0x55};
  Bytes busy(8, 0xFF);
  EXPECT_EQ(Answer(fs, Knobs{}, host), Cat({host, {0x5D}, busy, {0x01}}));
  EXPECT_TRUE(fs.programs().empty());
}

TEST(SimFormat, FailureKeepsTheFlash) {
  FlashFs fs = Flash();
  Knobs knobs;
  knobs.work_fault.insert(9);
  const Bytes answer = Answer(fs, knobs, {0x09, 0x00, 0xFF, 0x55});
  EXPECT_EQ(answer.back(), 0x00);
  EXPECT_EQ(fs.programs().size(), 2u);
}

// A byte that is not the next confirmation byte drops the format and is
// served as a command: here EndSession.
TEST(SimFormat, WrongConfirmationByteStartsTheNextCommand) {
  for (const Bytes& host : {Bytes{0x09, 0x04}, Bytes{0x09, 0x00, 0x04}, Bytes{0x09, 0x00, 0xFF, 0x04}}) {
    FlashFs fs = Flash();
    Bytes expected(host.begin(), host.end() - 1);
    expected.insert(expected.end(), {0x04, 0x04, 0x01});
    EXPECT_EQ(Answer(fs, Knobs{}, host), expected);
    EXPECT_EQ(fs.programs().size(), 2u);
  }
}

TEST(SimCheck, ReportWithoutCommandChecksum) {
  FlashFs fs = Flash();
  const Bytes report{0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x07, 0xFF, 0xF4, 0x00, 0x00, 0x02, 0x01};
  EXPECT_EQ(Answer(fs, Knobs{}, {0x0A}), Cat({{0x0A}, report, {Sum(report, 0x0A)}}));
}

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

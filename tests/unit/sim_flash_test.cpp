// The simulator's flash file system: limits, and its text file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "sim/flash.h"

using vk::sim::FlashFs;
using vk::sim::Program;
using Status = FlashFs::Status;

namespace {

Program Make(std::string name, uint8_t type = 1, std::vector<uint32_t> words = {1, 2}) {
  Program p;
  p.name = std::move(name);
  p.type = type;
  p.date = {31, 12, 99, 23, 59, 58};
  p.start = 0x00809C00;
  p.words = std::move(words);
  return p;
}

TEST(SimFlash, NameAndCountLimits) {
  FlashFs fs;
  EXPECT_EQ(fs.Add(Make(std::string(15, 'A'))), Status::Ok);
  EXPECT_EQ(fs.Add(Make(std::string(16, 'B'))), Status::BadName);
  EXPECT_EQ(fs.Add(Make("")), Status::BadName);
  EXPECT_EQ(fs.Add(Make(std::string("A\0B", 3))), Status::BadName);
  EXPECT_EQ(fs.Add(Make(std::string(15, 'A'))), Status::Exists);
  for (int i = 1; i < 63; ++i) ASSERT_EQ(fs.Add(Make("P" + std::to_string(i))), Status::Ok) << i;
  EXPECT_EQ(fs.programs().size(), 63u);
  EXPECT_EQ(fs.Add(Make("ONEMORE")), Status::Full);
  // Replacing an existing file is still possible when full.
  EXPECT_EQ(fs.Put(Make("P1", 2)), Status::Ok);
  EXPECT_EQ(fs.Find("P1")->type, 2);
  EXPECT_EQ(fs.programs().size(), 63u);
}

TEST(SimFlash, CapacityCountsWords) {
  FlashFs fs;
  const size_t words = FlashFs::kCapacityBytes / 4;
  EXPECT_EQ(fs.Add(Make("BIG", 1, std::vector<uint32_t>(words - 1))), Status::Ok);
  EXPECT_EQ(fs.FreeBytes(), 4u);
  EXPECT_EQ(fs.Add(Make("TWO", 1, {1, 2})), Status::NoSpace);
  EXPECT_EQ(fs.Add(Make("ONE", 1, {1})), Status::Ok);
  EXPECT_EQ(fs.FreeBytes(), 0u);
}

TEST(SimFlash, FindIsExactAndCaseSensitive) {
  FlashFs fs;
  ASSERT_EQ(fs.Add(Make("PROG")), Status::Ok);
  EXPECT_NE(fs.Find("PROG"), nullptr);
  EXPECT_EQ(fs.Find("prog"), nullptr);
  EXPECT_EQ(fs.Find("PRO"), nullptr);
  EXPECT_EQ(fs.Find("PROGX"), nullptr);
}

TEST(SimFlash, RenameRemoveFormatAndGeneration) {
  FlashFs fs;
  ASSERT_EQ(fs.Add(Make("A")), Status::Ok);
  ASSERT_EQ(fs.Add(Make("B")), Status::Ok);
  uint64_t gen = fs.generation();
  EXPECT_EQ(fs.Rename("A", "B"), Status::Exists);
  EXPECT_EQ(fs.Rename("X", "Y"), Status::NotFound);
  EXPECT_EQ(fs.Rename("A", std::string(16, 'C')), Status::BadName);
  EXPECT_EQ(fs.Remove("X"), Status::NotFound);
  EXPECT_EQ(fs.generation(), gen) << "failed operations change nothing";
  EXPECT_EQ(fs.Rename("A", "C"), Status::Ok);
  EXPECT_NE(fs.Find("C"), nullptr);
  EXPECT_EQ(fs.Find("A"), nullptr);
  EXPECT_GT(fs.generation(), gen);
  gen = fs.generation();
  EXPECT_EQ(fs.Remove("B"), Status::Ok);
  EXPECT_GT(fs.generation(), gen);
  fs.Format();
  EXPECT_TRUE(fs.programs().empty());
}

TEST(SimFlash, TextRoundTripKeepsEveryField) {
  FlashFs fs;
  ASSERT_EQ(fs.Add(Make("PROG")), Status::Ok);
  ASSERT_EQ(fs.Add(Make("A B%\xE9", 7, {0xFFFFFFFF, 0, 0x80000001})), Status::Ok);
  ASSERT_EQ(fs.Add(Make("EMPTY", 0, {})), Status::Ok);
  const std::string text = fs.Serialize();
  EXPECT_NE(text.find("A%20B%25%E9 7 31 12 99 23 59 58 00809c00 ffffffff 00000000 80000001\n"),
            std::string::npos)
      << text;
  FlashFs back;
  std::string error;
  ASSERT_TRUE(back.Parse(text, error)) << error;
  EXPECT_EQ(back.programs(), fs.programs());
}

TEST(SimFlash, ParseAcceptsCommentsBlankLinesAndShortHex) {
  FlashFs fs;
  std::string error;
  ASSERT_TRUE(fs.Parse("# c\n\n  \nX 1 1 2 3 4 5 6 800 a\r\n", error)) << error;
  ASSERT_EQ(fs.programs().size(), 1u);
  EXPECT_EQ(fs.programs()[0].start, 0x800u);
  EXPECT_EQ(fs.programs()[0].words, std::vector<uint32_t>{0xA});
}

struct BadText {
  const char* text;
  const char* error;  // start of the expected message
};

class SimFlashBadText : public ::testing::TestWithParam<BadText> {};

TEST_P(SimFlashBadText, IsRefusedAndChangesNothing) {
  FlashFs fs;
  ASSERT_EQ(fs.Add(Make("KEEP")), Status::Ok);
  std::string error;
  EXPECT_FALSE(fs.Parse(GetParam().text, error));
  EXPECT_EQ(error.rfind(GetParam().error, 0), 0u) << error;
  ASSERT_EQ(fs.programs().size(), 1u);
  EXPECT_EQ(fs.programs()[0].name, "KEEP");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimFlashBadText,
    ::testing::Values(BadText{"A 1 1 2 3 4 5 6\n", "line 1: expected"},
                      BadText{"# x\nA 1 1 2 3 4 5 256 0\n", "line 2: date"},
                      BadText{"A 1x 1 2 3 4 5 6 0\n", "line 1: type"},
                      BadText{"A 1 1 2 3 4 5 6 123456789\n", "line 1: start"},
                      BadText{"A 1 1 2 3 4 5 6 0 1 g\n", "line 1: word 2"},
                      BadText{"A%4 1 1 2 3 4 5 6 0\n", "line 1: bad %XX"},
                      BadText{"A%00 1 1 2 3 4 5 6 0\n", "line 1: name"},
                      BadText{"ABCDEFGHIJKLMNOP 1 1 2 3 4 5 6 0\n", "line 1: name"},
                      BadText{"A 1 1 2 3 4 5 6 0\nA 2 1 2 3 4 5 6 0\n", "line 2: a file"}));

TEST(SimFlash, ParseRefusesTheSixtyFourthFile) {
  std::string text;
  for (int i = 0; i < 64; ++i) text += "F" + std::to_string(i) + " 1 1 1 1 1 1 1 0\n";
  FlashFs fs;
  std::string error;
  EXPECT_FALSE(fs.Parse(text, error));
  EXPECT_EQ(error.rfind("line 64:", 0), 0u) << error;
}

TEST(SimFlash, SaveAndLoadFile) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("vksim_flash_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "flash.txt").string();
  FlashFs fs;
  ASSERT_EQ(fs.Add(Make("PROG")), Status::Ok);
  ASSERT_EQ(fs.Add(Make("DATA", 2, {0xDEADBEEF})), Status::Ok);
  std::string error;
  ASSERT_TRUE(fs.Save(path, error)) << error;
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  FlashFs back;
  ASSERT_TRUE(back.Load(path, error)) << error;
  EXPECT_EQ(back.programs(), fs.programs());

  std::ofstream(path) << "BROKEN\n";
  EXPECT_FALSE(back.Load(path, error));
  EXPECT_NE(error.find(path), std::string::npos);
  EXPECT_FALSE(back.Load((dir / "missing.txt").string(), error));
  EXPECT_FALSE(fs.Save((dir / "no" / "such" / "dir.txt").string(), error));
  std::filesystem::remove_all(dir);
}

}  // namespace

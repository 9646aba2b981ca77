#include "frame/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/process.h"

using namespace vk::frame;
using R = ScanResult;

namespace {

struct ParseCase {
  const char* text;
  bool has_mode;
  Settings expected;
  std::array<ScanResult, 3> results;
};

class ParseSettingsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSettingsTest, ReadsAsFormattedInput) {
  const ParseCase& c = GetParam();
  const ParsedSettings p = ParseSettings(c.text, c.has_mode);
  EXPECT_EQ(p.values.port, c.expected.port);
  EXPECT_EQ(p.values.baud, c.expected.baud);
  EXPECT_EQ(p.values.mode, c.expected.mode);
  EXPECT_EQ(p.results, c.results);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseSettingsTest,
    ::testing::Values(
        ParseCase{"PORT=COM2\nBAUD=38400\nMODE=f\n", true, {2, 38400, 'f'}, {R::Matched, R::Matched, R::Matched}},
        ParseCase{"PORT=COM2\r\nBAUD=38400\r\nMODE=F\r\n", true, {2, 38400, 'F'}, {R::Matched, R::Matched, R::Matched}},
        // White space between the items is skipped, also blank lines.
        ParseCase{"PORT=COM3\n\n\n  BAUD=38400 MODE=s", true, {3, 38400, 's'}, {R::Matched, R::Matched, R::Matched}},
        ParseCase{"", true, {1, 115200, 's'}, {R::EndOfInput, R::EndOfInput, R::EndOfInput}},
        ParseCase{"PORT=COM", false, {1, 115200, 's'}, {R::EndOfInput, R::EndOfInput, R::EndOfInput}},
        // A key word in lower case or indented does not match; the next
        // pattern starts where the failed one stopped.
        ParseCase{"port=COM2\nBAUD=38400\n", false, {1, 115200, 's'}, {R::NoMatch, R::NoMatch, R::EndOfInput}},
        ParseCase{" PORT=COM2\n", false, {1, 115200, 's'}, {R::NoMatch, R::NoMatch, R::EndOfInput}},
        ParseCase{"PORT=COMx\nBAUD=38400\n", false, {1, 115200, 's'}, {R::NoMatch, R::NoMatch, R::EndOfInput}},
        ParseCase{"PORT=COM7\nBAUD=1234\n", false, {7, 1234, 's'}, {R::Matched, R::Matched, R::EndOfInput}},
        ParseCase{"PORT=COM-3\nBAUD=+38400\n", false, {-3, 38400, 's'}, {R::Matched, R::Matched, R::EndOfInput}},
        ParseCase{"PORT=COM99999999999\n", false, {2147483647, 115200, 's'}, {R::Matched, R::EndOfInput, R::EndOfInput}},
        // The mode pattern is read only by the flash loader.
        ParseCase{"PORT=COM1\nBAUD=38400\nMODE=f\n", false, {1, 38400, 's'}, {R::Matched, R::Matched, R::EndOfInput}},
        ParseCase{"PORT=COM1\nBAUD=38400\nMODE=", true, {1, 38400, 's'}, {R::Matched, R::Matched, R::EndOfInput}}));

struct ValidateCase {
  Settings in;
  bool has_mode;
  Settings out;
  bool corrected;
};

class ValidateSettingsTest : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateSettingsTest, CorrectsOutOfRange) {
  const ValidateCase& c = GetParam();
  Settings s = c.in;
  EXPECT_EQ(ValidateSettings(s, c.has_mode), c.corrected);
  EXPECT_EQ(s.port, c.out.port);
  EXPECT_EQ(s.baud, c.out.baud);
  EXPECT_EQ(s.mode, c.out.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValidateSettingsTest,
    ::testing::Values(ValidateCase{{4, 38400, 'f'}, true, {4, 38400, 'f'}, false},
                      ValidateCase{{0, 115200, 's'}, true, {1, 115200, 's'}, true},
                      ValidateCase{{5, 115200, 's'}, false, {1, 115200, 's'}, true},
                      ValidateCase{{2, 9600, 's'}, false, {2, 115200, 's'}, true},
                      // Upper case is read as its lower-case mode, not a correction.
                      ValidateCase{{2, 38400, 'F'}, true, {2, 38400, 'f'}, false},
                      ValidateCase{{2, 38400, 'x'}, true, {2, 38400, 's'}, true},
                      // Without a mode key the mode is not looked at.
                      ValidateCase{{2, 38400, 'x'}, false, {2, 38400, 'x'}, false}));

TEST(FormatSettingsTest, ExactLines) {
  EXPECT_EQ(FormatSettings({3, 38400, 'f'}, true), "PORT=COM3\nBAUD=38400\nMODE=f\n");
  EXPECT_EQ(FormatSettings({1, 115200, 's'}, false), "PORT=COM1\nBAUD=115200\n");
}

TEST(SettingsPathTest, BesideTheProgramAsInvoked) {
  EXPECT_EQ(SettingsPath("/opt/vk/bin/vkstart", "", "/home/u", ""), "/opt/vk/bin/vkstart.SET");
  EXPECT_EQ(SettingsPath("./vkburn", "", "/home/u", ""), "./vkburn.SET");
  // The name of the program's own file counts, not an earlier directory of
  // the same name.
  EXPECT_EQ(SettingsPath("/home/vkstart.d/vkstart", "", "/", ""), "/home/vkstart.d/vkstart.SET");
  EXPECT_EQ(SettingsPath("/tools/vkburn.exe", "", "/", ""), "/tools/vkburn.SET");
}

TEST(SettingsPathTest, BareNameSearchedOnPath) {
  vktest::TempDir dir;
  std::filesystem::create_directories(dir.File("a"));
  std::filesystem::create_directories(dir.File("b"));
  vktest::WriteFile(dir.File("b/vklist"), "");
  const std::string path_env = dir.File("a") + ":" + dir.File("b");
  EXPECT_EQ(SettingsPath("vklist", path_env, "/cwd", ""), dir.File("b/vklist.SET"));
  // Not found anywhere: the current directory.
  EXPECT_EQ(SettingsPath("vkwipe", path_env, "/cwd", ""), "/cwd/vkwipe.SET");
}

TEST(SettingsPathTest, WindowsSuffixSearchesCurrentDirectoryFirst) {
  vktest::TempDir dir;
  vktest::WriteFile(dir.File("VKSTART.EXE"), "");
  EXPECT_EQ(SettingsPath("VKSTART", "/nonexistent", dir.path(), ".EXE"), dir.File("VKSTART.SET"));
}

TEST(SettingsFileTest, WriteThenReadRoundTrip) {
  vktest::TempDir dir;
  const std::string path = dir.File("x.SET");
  ASSERT_TRUE(WriteSettingsFile(path, {4, 38400, 'f'}, true));
  std::string text;
  ASSERT_TRUE(ReadSettingsText(path, text));
  const ParsedSettings p = ParseSettings(text, true);
  EXPECT_EQ(p.values.port, 4);
  EXPECT_EQ(p.values.baud, 38400);
  EXPECT_EQ(p.values.mode, 'f');
  EXPECT_FALSE(ReadSettingsText(dir.File("missing.SET"), text));
  EXPECT_FALSE(ReadSettingsText(dir.path(), text));  // a directory is no settings file
  EXPECT_FALSE(WriteSettingsFile(dir.path(), {}, false));
}

}  // namespace

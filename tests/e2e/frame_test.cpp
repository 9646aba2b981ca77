// The tool frame seen from outside: usage texts, the settings file and its
// location, run through VKSTART (the frame is the same for every program).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/process.h"

using namespace vktest;

namespace {

const char* kNowhere = "rfc2217://127.0.0.1:1";
const std::string kOpenFails = "\nOpen Of rfc2217://127.0.0.1:1 Failed: 111\n";
const std::string kStartUsage =
    "\nVeskar DSP Family Run Utility For WIN-NT/WIN2000 V 3.0\n\n"
    "Usage: VKSTART <Name> [-C<n>]\n\n"
    "-C<n>   - Desired COM Port (1..4, Default = 1)\n\n"
    "Autodetect Baudrate Is 38400 Or 115200 Baud\n\n";

struct Rig {
  TempDir dir;
  std::string tool = dir.File("vkstart");
  std::string settings = dir.File("vkstart.SET");
  Rig() { CopyExecutable(BinDir() + "/vkstart", tool); }
  RunResult Run(std::vector<std::string> args, const std::string& com1 = kNowhere) {
    args.insert(args.begin(), tool);
    return RunProgram(args, ToolEnv(com1), dir.path());
  }
};

TEST(FrameUsage, UsageTextExitsZeroAndWritesNothing) {
  for (const char* ask : {"-h", "-H", "?", "?anything"}) {
    Rig rig;
    const RunResult r = rig.Run({"-C2", ask, "-C3"});
    EXPECT_EQ(r.out, kStartUsage) << ask;
    EXPECT_EQ(r.exit_code, 0) << ask;
    EXPECT_FALSE(FileExists(rig.settings)) << ask;
  }
}

// Settings file before the run -> settings file after a run whose port
// cannot be opened (the first rewrite happens before the open).
struct SettingsCase {
  const char* title;
  const char* before;  // nullptr: no file
  std::vector<std::string> args;
  const char* after;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.title; }

class FrameSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(FrameSettings, FirstRewrite) {
  const SettingsCase& c = GetParam();
  Rig rig;
  if (c.before) WriteFile(rig.settings, c.before);
  const RunResult r = rig.Run(c.args);
  EXPECT_EQ(r.out, kOpenFails);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(rig.settings), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rewrite, FrameSettings,
    ::testing::Values(
        SettingsCase{"missing_file_gets_defaults", nullptr, {"prog"}, "PORT=COM1\nBAUD=115200\n"},
        SettingsCase{"bad_values_corrected", "PORT=COM7\nBAUD=1234\n", {"prog"}, "PORT=COM1\nBAUD=115200\n"},
        SettingsCase{"empty_file_left_alone", "", {"prog"}, ""},
        SettingsCase{"good_file_left_alone", "PORT=COM1\nBAUD=38400\n", {"prog"}, "PORT=COM1\nBAUD=38400\n"},
        SettingsCase{"info_flag_does_not_rewrite", "PORT=COM1\nBAUD=38400\n", {"-i", "prog"},
                     "PORT=COM1\nBAUD=38400\n"},
        SettingsCase{"unknown_options_ignored", "PORT=COM1\nBAUD=38400\n", {"-X", "-", "-Q5", "prog"},
                     "PORT=COM1\nBAUD=38400\n"},
        SettingsCase{"port_option_always_rewrites", "PORT=COM1\nBAUD=38400\n", {"-C1"},
                     "PORT=COM1\nBAUD=38400\n"},
        SettingsCase{"bare_port_option_rewrites", "garbage", {"-C"}, "PORT=COM1\nBAUD=115200\n"},
        SettingsCase{"out_of_range_port_option", "PORT=COM1\nBAUD=38400\n", {"-c9"},
                     "PORT=COM1\nBAUD=38400\n"},
        SettingsCase{"unmatched_lines_not_looked_at", "PORT=COM1\nBAUX=38400\n", {"prog"},
                     "PORT=COM1\nBAUX=38400\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(FrameSettings, PortOptionWithSpaceTakesTheNumberAsName) {
  SimProcess sim({"--program", "2"});
  Rig rig;
  WriteFile(rig.settings, "PORT=COM1\nBAUD=115200\n");
  const RunResult r = rig.Run({"-C", "2"}, sim.Url());
  EXPECT_EQ(r.out, "\n2 Started On Target.\n");
  EXPECT_EQ(ReadFile(rig.settings), "PORT=COM1\nBAUD=115200\n");
}

TEST(FrameSettings, FoundOnPathSettingsBesideTheProgram) {
  TempDir dir;
  const std::string bin = dir.path() + "/bin";
  const std::string work = dir.path() + "/work";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(work);
  CopyExecutable(BinDir() + "/vkstart", bin + "/vkstart");
  auto env = ToolEnv(kNowhere);
  env["PATH"] = "/nonexistent:" + bin + ":/usr/bin:/bin";
  const RunResult r = RunProgram({"vkstart", "prog"}, env, work);
  EXPECT_EQ(r.out, kOpenFails);
  EXPECT_EQ(ReadFile(bin + "/vkstart.SET"), "PORT=COM1\nBAUD=115200\n");
  EXPECT_FALSE(FileExists(work + "/vkstart.SET"));
}

TEST(FrameSettings, UnwritableSettingsFileIsReportedAndTheRunGoesOn) {
  SimProcess sim({"--program", "PROG"});
  Rig rig;
  std::filesystem::create_directory(rig.settings);  // a directory cannot be written as a file
  const RunResult r = rig.Run({"prog"}, sim.Url());
  const std::string warn = "\nSettings File " + rig.settings + " Could Not Be Written\n";
  EXPECT_EQ(r.out, warn + warn + "\nPROG Started On Target.\n");
  EXPECT_EQ(r.exit_code, 2);
}

}  // namespace

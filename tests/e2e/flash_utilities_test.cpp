// The flash file utilities together: their usage texts, and the life of a
// program on one simulated board.
#include <gtest/gtest.h>

#include "support/process.h"

using namespace vktest;

namespace {

struct UsageCase {
  const char* tool;
  const char* title;
  const char* usage_line;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.tool; }

class UtilityUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UtilityUsage, BannerUsageLineAndNoPrompt) {
  const UsageCase& c = GetParam();
  TempDir dir;
  CopyExecutable(BinDir() + "/" + c.tool, dir.File(c.tool));
  // The usage comes before any check (VKWIPE's prompt, VKNAME's names).
  const RunResult r =
      RunProgram({dir.File(c.tool), "-C2", "?"}, ToolEnv("rfc2217://127.0.0.1:1"), dir.path(), "y\n");
  EXPECT_EQ(r.out, std::string(c.title) + "V 3.0\n\n" + c.usage_line +
                       "-C<n>   - Desired COM Port (1..4, Default = 1)\n\n"
                       "Autodetect Baudrate Is 38400 Or 115200 Baud\n\n");
  EXPECT_EQ(r.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Utilities, UtilityUsage,
    ::testing::Values(
        UsageCase{"vklist", "\nVeskar DSP Family Directory Utility For WIN-NT/WIN2000 ", "Usage: VKLIST [-C<n>]\n\n"},
        UsageCase{"vkcheck", "\nVeskar DSP Family Checkdisk Utility For WIN-NT/WIN2000 ",
                  "Usage: VKCHECK [-C<n>]\n\n"},
        UsageCase{"vkerase", "\nVeskar DSP Family Delete Utility For WIN-NT/WIN2000 ",
                  "Usage: VKERASE <Name> [-C<n>]\n\n"},
        UsageCase{"vkname", "\nVeskar DSP Family Rename Utility For WIN-NT/WIN2000 ",
                  "Usage: VKNAME <Oldname Newname> [-C<n>]\n\n"},
        UsageCase{"vkwipe", "\nVeskar DSP Family Format Utility For WIN-NT/WIN2000 ",
                  "Usage: VKWIPE [-C<n>]\n\n"}),
    [](const auto& info) { return std::string(info.param.tool); });

// One board, one tool after the other, each seeing what the last one did.
TEST(UtilityLife, ListCheckRenameStartDeleteFormat) {
  TempDir dir;
  WriteFile(dir.File("flash.txt"),
            "PROG 1 24 5 25 14 3 0 00809c00 00000001 00000002\n"
            "TABLES 2 1 1 25 0 0 0 00000000 00000003\n");
  SimProcess sim({"--flash", dir.File("flash.txt"), "--autoboot", "PROG"});
  for (const char* tool : {"vklist", "vkcheck", "vkname", "vkstart", "vkerase", "vkwipe"})
    CopyExecutable(BinDir() + "/" + tool, dir.File(tool));
  auto run = [&](std::vector<std::string> args, const std::string& input = "") {
    args[0] = dir.File(args[0]);
    return RunProgram(args, ToolEnv(sim.Url()), dir.path(), input);
  };

  RunResult r = run({"vklist"});
  EXPECT_EQ(r.out,
            "\nPROG            PRG   24.05.25   14:03:00   8\n"
            "TABLES          DAT   01.01.25   00:00:00   4\n"
            "\nAuto Booting Program: PROG\n"
            "\n524276 Bytes Free On Target Flash Memory\n");
  EXPECT_EQ(r.exit_code, 254);

  r = run({"vkcheck"});
  EXPECT_EQ(r.out,
            "\nNo File Errors On Target\n\n"
            "Number Of Present Files On Target:  2"
            "\nCommon Flash Memory Size On Target: 524288 Bytes"
            "\nFree Flash Memory Size On Target:   524276 Bytes"
            "\nFile Software Version On Target:    V 2.1\n");
  EXPECT_EQ(r.exit_code, 0);

  r = run({"vkname", "prog", "main"});
  EXPECT_EQ(r.out, "\nTarget Is Working...  Done.\n");
  EXPECT_EQ(r.exit_code, 254);

  r = run({"vkstart", "main"});
  EXPECT_EQ(r.out, "\nMAIN Started On Target.\n");
  EXPECT_NE(sim.Output().find("started MAIN"), std::string::npos);

  r = run({"vkerase", "tables"});
  EXPECT_EQ(r.out, "\nTarget Is Working...  Done.\n");
  EXPECT_EQ(r.exit_code, 2);

  r = run({"vklist"});
  EXPECT_EQ(r.out,
            "\nMAIN            PRG   24.05.25   14:03:00   8\n"
            "\nAuto Booting Program: PROG\n"
            "\n524280 Bytes Free On Target Flash Memory\n");

  r = run({"vkwipe"}, "y\n");
  EXPECT_EQ(r.out, "\nAre You Sure ? (y/n) y\n\nTarget Is Working...  Done.\n");
  EXPECT_EQ(r.exit_code, 254);

  r = run({"vklist"});
  EXPECT_EQ(r.out, "\nNo Files Present On Target Flash\n");
  EXPECT_EQ(r.exit_code, 0);
}

}  // namespace

// Sessions recorded by the tool (VK_TRACE) or by vksim, or kept, played back
// with vksim --replay: same output and exit code; a host that strays is caught.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

const std::string kTwoFiles =
    "TEST 1 12 6 1 19 56 3 00809c00 1 2 3\n"
    "TABLES 2 31 12 99 23 59 59 00000000 1 2 3 4 5 6 7 8\n";

// A run with the sample program beside the tool, its .X0 date as in samples/.
RunResult RunWithBlink(ToolRig& rig, const std::vector<std::string>& args,
                       std::map<std::string, std::string> env = {}) {
  namespace fs = std::filesystem;
  for (const char* lane : {"BLINK.X0", "BLINK.X1", "BLINK.X2", "BLINK.X3"}) {
    const fs::path from = fs::path(VK_SOURCE_DIR) / "samples/blink" / lane;
    fs::copy_file(from, rig.dir().File(lane), fs::copy_options::overwrite_existing);
    fs::last_write_time(rig.dir().File(lane), fs::last_write_time(from));
  }
  env["TZ"] = "UTC0";
  return rig.Run(args, "", 30000, env);
}

// The download time differs from run to run.
std::string Steady(const std::string& out) {
  return std::regex_replace(out, std::regex("Download Time = [0-9.]+ Seconds"), "Download Time");
}

struct Case {
  const char* title;
  std::string tool;
  std::vector<std::string> args, sim;
  std::string flash;
  int exit_code;
  // Played back: the tool's recording, vksim's trace.txt, or a path under the source tree.
  std::string play = "recording.txt";
};

class Replays : public ::testing::TestWithParam<Case> {};

TEST_P(Replays, SameOutputAndExitCode) {
  const Case& c = GetParam();
  std::vector<std::string> sim = c.sim;
  sim.push_back("--trace-times");
  ToolRig recorded(c.tool, sim, c.flash);
  const RunResult first = RunWithBlink(recorded, c.args, {{"VK_TRACE", recorded.dir().File("recording.txt")}});
  ASSERT_EQ(first.exit_code, c.exit_code) << first.out;
  EXPECT_EQ(first.err, "");

  const bool kept = c.play.find('/') != std::string::npos;
  ToolRig replayed(c.tool, {"--replay", kept ? VK_SOURCE_DIR "/" + c.play : recorded.dir().File(c.play)});
  const RunResult again = RunWithBlink(replayed, c.args);
  EXPECT_EQ(Steady(again.out), Steady(first.out));
  EXPECT_EQ(again.exit_code, first.exit_code);
  EXPECT_EQ(replayed.sim().Wait(5000), 0) << replayed.sim().Output();
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, Replays,
    ::testing::Values(Case{"vkburn_fast_mode", "vkburn", {"blink", "-mf"}, {}, "", 0},
                      // The tool tries 115200 first: lost on the line, not compared.
                      Case{"vklist_two_programs_at_38400", "vklist", {}, {"--baud", "38400"}, kTwoFiles, 254},
                      Case{"vklist_echo_fault", "vklist", {}, {"--echo-fault", "1"}, kTwoFiles, 2},
                      Case{"vkburn_save_mode_board_trace", "vkburn", {"blink", "-ms"}, {}, "", 0, "trace.txt"},
                      Case{"kept_vkstart_tool", "vkstart", {"prog"}, {"--program", "PROG"}, "", 2,
                           "tests/data/replay/vkstart-tool.trace"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(ReplayRecording, AFileThatCannotBeWrittenIsReportedOnceAndTheRunGoesOn) {
  ToolRig rig("vkstart", {"--program", "PROG"});
  const RunResult r = rig.Run({"prog"}, "", 20000, {{"VK_TRACE", "/nonexistent/dir/recording.txt"}});
  EXPECT_EQ(r.out, "\nPROG Started On Target.\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "vkstart: VK_TRACE: /nonexistent/dir/recording.txt cannot be written (No such file or directory); "
            "the run goes on unrecorded\n");
}

TEST(ReplayDivergence, AnotherProgramIsStoppedAtItsFirstOwnByte) {
  ToolRig recorded("vklist", {}, kTwoFiles);
  ASSERT_EQ(recorded.Run({}).exit_code, 254);
  ToolRig replayed("vkstart", {"--replay", recorded.dir().File("trace.txt")});
  EXPECT_EQ(replayed.Run({"test"}).exit_code, 2);
  EXPECT_EQ(replayed.sim().Wait(5000), 3);
  EXPECT_NE(replayed.sim().Output().find("vksim: replay diverged at host byte 3: expected 0x08, received 0x05\n"),
            std::string::npos)
      << replayed.sim().Output();
}

}  // namespace

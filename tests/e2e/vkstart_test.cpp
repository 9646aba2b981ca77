// VKSTART run as a process against the simulator: exact output, exit code,
// settings file and the bytes on the wire.
#include <gtest/gtest.h>

#include <regex>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

std::vector<int> Bytes(std::initializer_list<int> b) { return b; }

// vkstart with a simulator of its own.
struct StartRig : ToolRig {
  explicit StartRig(std::vector<std::string> options) : ToolRig("vkstart", std::move(options)) {}
  RunResult Run(std::vector<std::string> args, int timeout_ms = 20000) {
    return ToolRig::Run(std::move(args), "", timeout_ms);
  }
};

using Case = ToolCase;

// PROG: 05 50 52 4F 47 00, checksum 3D.
const std::vector<int> kStartProg{0x05, 0x50, 0x52, 0x4F, 0x47, 0x00};
std::vector<int> Then(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::vector<int> kEnd{0x04, 0x0C};

class StartCases : public ::testing::TestWithParam<Case> {};

TEST_P(StartCases, OutputExitCodeAndWire) {
  CheckToolCase("vkstart", "", GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Results, StartCases,
    ::testing::Values(
        Case{"started", {"--program", "PROG"}, {"prog"}, "\nPROG Started On Target.\n", 2,
             Then(kStartProg, kEnd)},
        Case{"not_present", {"--program", "OTHER"}, {"prog"},
             "\nProgram Name PROG Is Not Present On Target\n", 2, Then(kStartProg, kEnd)},
        Case{"not_executable", {"--program", "DATA:2"}, {"data"},
             "\nDATA Is Not An Executable Program\n", 254,
             Bytes({0x05, 0x44, 0x41, 0x54, 0x41, 0x00, 0x04, 0x0C})},
        Case{"unknown_result", {"--program", "PROG", "--result", "5=7"}, {"prog"},
             "\nERROR: UNKNOWN RESULT CODE 0x07 RECEIVED\n", 2, Then(kStartProg, kEnd)},
        Case{"no_name_sends_single_zero", {}, {"-C1"},
             "\nProgram Name  Is Not Present On Target\n", 2, Bytes({0x05, 0x00, 0x04, 0x0C})},
        Case{"last_name_wins", {"--program", "B"}, {"a", "b"}, "\nB Started On Target.\n", 2,
             Bytes({0x05, 0x42, 0x00, 0x04, 0x0C})},
        Case{"fillers_before_first_echo", {"--program", "PROG", "--fillers-7f", "40"}, {"prog"},
             "\nPROG Started On Target.\n", 2, Then(kStartProg, kEnd)},
        Case{"stale_bytes_drained", {"--program", "PROG", "--stale", "25"}, {"prog"},
             "\nPROG Started On Target.\n", 2, Then(kStartProg, kEnd)},
        Case{"command_echo_wrong_is_fatal", {"--program", "PROG", "--echo-fault", "1"}, {"prog"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x05 RECEIVED DATA:0x85\n", 2,
             Bytes({0x05, 0x04, 0x0C})},
        Case{"name_echo_wrong_goes_on", {"--program", "PROG", "--echo-fault", "2"}, {"prog"},
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x50 RECEIVED DATA:0xd0\n"
             "\nCHECKSUM ERROR: Checksum: bd   ReceivedChecksum: 3d \n"
             "\nPROG Started On Target.\n",
             2, Then(kStartProg, kEnd)},
        Case{"checksum_wrong_goes_on", {"--program", "PROG", "--checksum-fault", "5"}, {"prog"},
             "\nCHECKSUM ERROR: Checksum: 3d   ReceivedChecksum: 3e \n\nPROG Started On Target.\n", 2,
             Then(kStartProg, kEnd)},
        Case{"end_session_not_started", {"--program", "DATA:2", "--result", "4=0"}, {"data"},
             "\nDATA Is Not An Executable Program\n\nERROR: TARGET PROGRAM NOT STARTED\n", 2,
             Bytes({0x05, 0x44, 0x41, 0x54, 0x41, 0x00, 0x04})},
        Case{"end_session_unknown_result", {"--program", "PROG", "--result", "4=9"}, {"prog"},
             "\nPROG Started On Target.\n\nERROR: UNKNOWN RESULT CODE RECEIVED\n", 2,
             Then(kStartProg, {0x04})},
        Case{"end_session_echo_wrong", {"--program", "PROG", "--echo-fault", "7"}, {"prog"},
             "\nPROG Started On Target.\n"
             "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x84\n",
             2, Then(kStartProg, {0x04})},
        Case{"end_session_checksum_wrong", {"--program", "PROG", "--checksum-fault", "4"}, {"prog"},
             "\nPROG Started On Target.\n\nCHECKSUM ERROR: Checksum: 04   ReceivedChecksum: 05 \n", 2,
             Then(kStartProg, {0x04})},
        Case{"silent_target_times_out", {"--program", "PROG", "--silent-after", "3"}, {"prog"},
             "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n", 2,
             Bytes({0x05, 0x50, 0x52})}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(StartConnect, TraceLineAndConnectTimeWithInfoFlag) {
  StartRig rig({"--program", "PROG"});
  const RunResult r = rig.Run({"prog", "-i"});
  EXPECT_EQ(r.exit_code, 2);
  const std::regex expected(
      "\nSent 0x7F Twice At Timestamp [0-9]+ With 115200 Baud"
      "\nTarget Connected In +[0-9]+ Milliseconds, 1 Attempt\\(s\\) Required\n"
      "\nPROG Started On Target.\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
  // -i alone does not rewrite an existing settings file.
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM1\nBAUD=115200\n");
}

TEST(StartConnect, BoardAtTheOtherRateIsFoundAndSaved) {
  StartRig rig({"--program", "PROG", "--baud", "38400"});
  WriteFile(rig.SettingsFile(), "PORT=COM1\nBAUD=115200\n");
  const RunResult r = rig.Run({"prog", "-I"});
  EXPECT_EQ(r.exit_code, 2);
  const std::regex expected(
      "\nSent 0x7F Twice At Timestamp [0-9]+ With 115200 Baud"
      "\nSent 0x7F Twice At Timestamp [0-9]+ With 115200 Baud"
      "\nSent 0x7F Twice At Timestamp [0-9]+ With 38400 Baud"
      "\nTarget Connected In +[0-9]+ Milliseconds, 3 Attempt\\(s\\) Required\n"
      "\nPROG Started On Target.\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM1\nBAUD=38400\n");
  // The four sync bytes at 115200 never reached the board.
  EXPECT_EQ(TraceBytes(rig.Trace(), 'x'), Bytes({0x7F, 0x7F, 0x7F, 0x7F}));
}

TEST(StartConnect, PacedLineStillDeliversTheClosingByte) {
  // At the line's real speed the closing byte is still on its way when the
  // program ends and closes the connection; the board must still get it.
  StartRig rig({"--program", "PROG", "--baud", "38400", "--pace", "--latency", "20"});
  WriteFile(rig.SettingsFile(), "PORT=COM1\nBAUD=38400\n");
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.out, "\nPROG Started On Target.\n");
  EXPECT_EQ(rig.Sent(), Then(kStartProg, kEnd));
}

TEST(StartConnect, StoredLowRateIsTriedFirst) {
  StartRig rig({"--program", "PROG", "--baud", "38400"});
  WriteFile(rig.SettingsFile(), "PORT=COM1\nBAUD=38400\n");
  const RunResult r = rig.Run({"prog", "-i"});
  EXPECT_NE(r.out.find("1 Attempt(s) Required"), std::string::npos) << r.out;
  EXPECT_EQ(TraceBytes(rig.Trace(), 'x'), Bytes({}));
}

struct SyncCase {
  const char* title;
  std::vector<std::string> sim;
  int attempts;
};

void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.title; }

class StartSync : public ::testing::TestWithParam<SyncCase> {};

TEST_P(StartSync, AttemptsCounted) {
  StartRig rig(GetParam().sim);
  const RunResult r = rig.Run({"prog", "-i"});
  EXPECT_EQ(r.exit_code, 2);
  const std::string needle =
      "Milliseconds, " + std::to_string(GetParam().attempts) + " Attempt(s) Required\n";
  EXPECT_NE(r.out.find(needle), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nPROG Started On Target.\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Connection, StartSync,
    ::testing::Values(SyncCase{"first_attempt", {"--program", "PROG"}, 1},
                      SyncCase{"second_attempt", {"--program", "PROG", "--sync-ignore", "2"}, 2},
                      SyncCase{"junk_before_echo", {"--program", "PROG", "--sync-junk"}, 2},
                      SyncCase{"cts_already_high_drops_and_rises", {"--program", "PROG", "--cts-high"}, 1}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(StartConnect, CtsThatNeverRisesIsWaitedForWithStars) {
  StartRig rig({"--program", "PROG", "--no-cts"});
  const RunResult r = rig.Run({"prog"}, 2500);
  EXPECT_TRUE(r.timed_out);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("\\*+"))) << r.out;
  EXPECT_EQ(TraceBytes(rig.Trace(), '>'), Bytes({}));
}

TEST(StartConnect, CtsStuckHighIsNeverTakenAsReady) {
  StartRig rig({"--program", "PROG", "--cts-stuck"});
  const RunResult r = rig.Run({"prog"}, 1500);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(TraceBytes(rig.Trace(), '>'), Bytes({}));
}

TEST(StartPort, RefusedConnectionIsAnOpenFailure) {
  TempDir dir;
  CopyExecutable(BinDir() + "/vkstart", dir.File("vkstart"));
  const RunResult r = RunProgram({dir.File("vkstart"), "prog"}, ToolEnv("rfc2217://127.0.0.1:1"), dir.path());
  EXPECT_EQ(r.out, "\nOpen Of rfc2217://127.0.0.1:1 Failed: 111\n");
  EXPECT_EQ(r.exit_code, 2);
}

TEST(StartPort, PortOptionSelectsTheMappedDevice) {
  StartRig rig({"--program", "PROG"});
  auto env = ToolEnv("rfc2217://127.0.0.1:1");
  env["VK_COM3"] = rig.Url();
  const RunResult r = RunProgram({rig.tool(), "prog", "-c3"}, env, rig.dir().path());
  EXPECT_EQ(r.out, "\nPROG Started On Target.\n");
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM3\nBAUD=115200\n");
  // COM9 does not exist: it is COM1.
  const RunResult r9 = RunProgram({rig.tool(), "prog", "-C9"}, env, rig.dir().path());
  EXPECT_EQ(r9.out, "\nOpen Of rfc2217://127.0.0.1:1 Failed: 111\n");
  EXPECT_EQ(ReadFile(rig.SettingsFile()), "PORT=COM1\nBAUD=115200\n");
}

}  // namespace

// VKBURN run as a process against the simulator: exact output, exit codes,
// the bytes on the wire, and what the board's flash holds afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <algorithm>
#include <memory>
#include <regex>

#include "support/tool_rig.h"

using namespace vktest;

namespace {

// Writes BASE.X0..X3 with the records and (when given) a termination record,
// CR LF line ends.
void WriteProgram(const std::string& base, const std::vector<Block>& recs, const uint32_t* start) {
  WriteLanes(base, recs, start ? std::optional(*start) : std::nullopt, "\r\n");
  // 2 January 2001, 03:04:05 UTC; the tool runs with TZ=UTC0.
  struct tm t {};
  t.tm_year = 101;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 3;
  t.tm_min = 4;
  t.tm_sec = 5;
  const time_t when = timegm(&t);
  struct timeval times[2] = {{when, 0}, {when, 0}};
  utimes((base + ".X0").c_str(), times);
}

const std::vector<Block> kProgram{{0x800, {0x11223344}},
                                {0x900, {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10, 0x11121314, 0x15161718,
                                         0x191A1B1C, 0xFFFFFFFF}}};
const uint32_t kStart = 0x00809C00;

std::vector<int> Concat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The bytes of the whole download for kProgram named PROG.
const std::vector<int> kDescriptor{0x00, 'P', 'R', 'O', 'G', 0x00, 2, 1, 1, 3, 4, 5, 0x01};
const std::vector<int> kData1{0x02, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x08, 0x00, 0x11, 0x22, 0x33, 0x44};
const std::vector<int> kData2{0x02, 0x00, 0x28, 0x01, 0x00, 0x00, 0x09, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                              0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14,
                              0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0xFF, 0xFF, 0xFF, 0xFF};
const std::vector<int> kStartMsg{0x01, 0x00, 0x80, 0x9C, 0x00};
const std::vector<int> kEndDownload{0x03};
const std::vector<int> kEndSession{0x04, 0x0C};

const std::string kHead =
    "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\n"
    "Using Port  : COM1\n"
    "Loading File: PROG.X0\nLoading File: PROG.X1\nLoading File: PROG.X2\nLoading File: PROG.X3\n"
    "\nConnected To Target\n";
const std::string kProgress =
    "\rWriting Target Address: 00000800(HEX)\rWriting Target Address: 00000900(HEX)";
const std::string kLoaded = "\n56   38(HEX) Bytes Loaded\n";
const std::string kStarted = "\nPROG Started At Address 00809C00(HEX)\n";

// vkburn with a simulator of its own that keeps its flash in a file; the
// tool runs with TZ=UTC0 so the .X0 file date is known.
struct BurnRig : ToolRig {
  explicit BurnRig(std::vector<std::string> options = {}) : ToolRig("vkburn", std::move(options), "# empty\n") {}
  RunResult Run(std::vector<std::string> args, const std::string& input = "") {
    return ToolRig::Run(std::move(args), input, 30000, {{"TZ", "UTC0"}});
  }
  std::string File(const std::string& name) const { return dir().File(name); }
};

// Splits the output at the download time line, which varies.
void ExpectOutput(const RunResult& r, const std::string& expected_before_time) {
  const std::regex tail("\nDownload Time = [0-9]+\\.[0-9] Seconds\n$");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, tail)) << r.out;
  EXPECT_EQ(r.out.substr(0, static_cast<size_t>(m.position(0))), expected_before_time);
}

TEST(BurnDownload, SaveAndFastModePutTheSameBytesOnTheWire) {
  std::vector<int> sent[2], received[2];
  int i = 0;
  for (const char* mode : {"-Ms", "-MF"}) {
    BurnRig rig;
    WriteProgram(rig.File("PROG"), kProgram, &kStart);
    const RunResult r = rig.Run({"prog", mode});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    ExpectOutput(r, kHead + kProgress + kLoaded + kStarted);
    sent[i] = rig.Sent();
    received[i] = rig.Received();
    EXPECT_EQ(sent[i], Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})) << mode;
    // The board's flash holds the program with its date and words.
    EXPECT_EQ(rig.Flash(),
              "PROG 1 2 1 1 3 4 5 00809c00 11223344 01020304 05060708 090a0b0c 0d0e0f10 11121314 15161718 "
              "191a1b1c ffffffff\n");
    ++i;
  }
  EXPECT_EQ(received[0], received[1]);
  // Checksums on the wire: descriptor 0x94 is the documented value for AB;
  // here for PROG, then C1 for the 12-byte data message and 1D for the start.
  const auto& rx = received[0];
  EXPECT_NE(std::search(rx.begin(), rx.end(), kData1.begin(), kData1.end()), rx.end());
  const std::vector<int> data1_answer = Concat({kData1, {0xC1, 0x01}});
  EXPECT_NE(std::search(rx.begin(), rx.end(), data1_answer.begin(), data1_answer.end()), rx.end());
  const std::vector<int> start_answer = Concat({kStartMsg, {0x1D, 0x01}});
  EXPECT_NE(std::search(rx.begin(), rx.end(), start_answer.begin(), start_answer.end()), rx.end());
}

TEST(BurnDownload, SettingsFileKeepsTheMode) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  EXPECT_EQ(rig.Run({"prog", "-mf"}).exit_code, 0);
  EXPECT_EQ(ReadFile(rig.File("vkburn.SET")), "PORT=COM1\nBAUD=115200\nMODE=f\n");
}

TEST(BurnDownload, FirstRecordTerminationSendsNoData) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), {}, &kStart);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0);
  ExpectOutput(r, kHead + "\n4   4(HEX) Bytes Loaded\n" + kStarted);
  EXPECT_EQ(rig.Sent(), Concat({kDescriptor, kStartMsg, kEndDownload, kEndSession}));
}

TEST(BurnDownload, ZeroWordRecordIsAnEightByteMessage) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), {{0x10, {}}}, &kStart);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0);
  ExpectOutput(r, kHead + "\rWriting Target Address: 00000010(HEX)\n12   C(HEX) Bytes Loaded\n" + kStarted);
  EXPECT_EQ(rig.Sent(), Concat({kDescriptor, {0x02, 0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x10}, kStartMsg,
                                kEndDownload, kEndSession}));
}

struct FailCase {
  const char* title;
  std::vector<std::string> sim;
  std::vector<std::string> args;
  std::string after_head;  // output after the connected line
  std::vector<int> sent;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.title; }

class BurnFailures : public ::testing::TestWithParam<FailCase> {};

TEST_P(BurnFailures, MessageEndSessionExit2) {
  const FailCase& c = GetParam();
  BurnRig rig(c.sim);
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  const RunResult r = rig.Run(c.args);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, kHead + c.after_head);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(rig.Sent(), c.sent);
}

const std::string kUnknownData = "\n\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n";
// After a failure in the middle of an exchange the board still has bytes
// of that exchange to send (or waits for more), so the session end that
// follows reads them: its own message follows the failure's.
std::string EndSessionEcho(const char* received) {
  return std::string("\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x") + received + "\n";
}
const std::string kBoardStillListening = "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n";

INSTANTIATE_TEST_SUITE_P(
    Results, BurnFailures,
    ::testing::Values(
        FailCase{"name_exists", {"--program", "PROG"}, {"prog"}, "Filename PROG Already Exists On Target\n",
                 Concat({kDescriptor, kEndSession})},
        FailCase{"start_unknown", {"--result", "0=9"}, {"prog"}, "\nERROR: UNKNOWN RESULT CODE RECEIVED\n\n",
                 Concat({kDescriptor, kEndSession})},
        FailCase{"start_checksum", {"--checksum-fault", "0"}, {"prog"}, "\nTARGET COMMUNICATION CHECKSUM ERROR" + EndSessionEcho("01"),
                 Concat({kDescriptor, {0x04}})},
        FailCase{"start_command_echo", {"--echo-fault", "1"}, {"prog"},
                 "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x00 RECEIVED DATA:0x80\n\n",
                 Concat({{0x00}, kEndSession})},
        FailCase{"start_name_echo", {"--echo-fault", "3"}, {"prog"},
                 "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x52 RECEIVED DATA:0xd2\n\n" + kBoardStillListening,
                 Concat({{0x00, 'P', 'R'}, {0x04}})},
        FailCase{"flash_full", {"--result", "2=0"}, {"prog"},
                 "\rWriting Target Address: 00000800(HEX)\nTarget Flash Memory Full\n",
                 Concat({kDescriptor, kData1, kEndSession})},
        FailCase{"data_unknown", {"--result", "2=5"}, {"prog", "-mf"},
                 "\rWriting Target Address: 00000800(HEX)" + kUnknownData,
                 Concat({kDescriptor, kData1, kEndSession})},
        FailCase{"data_checksum", {"--checksum-fault", "2"}, {"prog"},
                 "\rWriting Target Address: 00000800(HEX)\n\nTARGET COMMUNICATION CHECKSUM ERROR\n\n" + EndSessionEcho("01"),
                 Concat({kDescriptor, kData1, {0x04}})},
        // Echo 14 is the fifth byte of the first data message (13 echoes of
        // the descriptor come first).
        FailCase{"data_echo_save", {"--echo-fault", "18"}, {"prog"},
                 "\rWriting Target Address: 00000800(HEX)"
                 "\n\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x00 RECEIVED DATA:0x80\n\n" + kBoardStillListening,
                 Concat({kDescriptor, {0x02, 0x00, 0x0C, 0x01, 0x00}, {0x04}})},
        FailCase{"data_echo_fast", {"--echo-fault", "18"}, {"prog", "-Mf"},
                 "\rWriting Target Address: 00000800(HEX)"
                 "\n\nERROR AT RECEIVED ECHO: \nTRANSMITTED DATA:0x00 RECEIVED DATA:0x80\n\n"
                 "Please Try Again With Security Option: \"VKBURN <NAME> -Ms\"\n\n" + EndSessionEcho("c1"),
                 Concat({kDescriptor, kData1, {0x04}})},
        FailCase{"start_address_refused", {"--result", "1=0"}, {"prog"},
                 kProgress + "\n\nERROR: PROGRAM START ADDRESS WAS NOT CORRECTLY\n\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndSession})},
        FailCase{"start_address_unknown", {"--result", "1=7"}, {"prog"}, kProgress + kUnknownData,
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndSession})},
        FailCase{"start_address_checksum", {"--checksum-fault", "1"}, {"prog", "-mf"},
                 kProgress + "\n\nTARGET COMMUNICATION CHECKSUM ERROR\n\n" + EndSessionEcho("01"),
                 Concat({kDescriptor, kData1, kData2, kStartMsg, {0x04}})},
        FailCase{"end_download_checksum", {"--checksum-fault", "3"}, {"prog"},
                 kProgress + kLoaded + "\nTARGET COMMUNICATION CHECKSUM ERROR\n\n" + EndSessionEcho("ff"),
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, {0x04}})},
        FailCase{"end_download_no_start", {"--result", "3=0", "--fillers-ff", "300"}, {"prog"},
                 kProgress + kLoaded + "\nERROR: PREVIOUS START DOWNLOAD PROTOCOL WAS NOT CORRECTLY\n\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})},
        FailCase{"end_download_no_address", {"--result", "3=1"}, {"prog"},
                 kProgress + kLoaded + "\nERROR: PREVIOUS LOAD START ADDRESS PROTOCOL WAS NOT CORRECTLY\n\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})},
        FailCase{"end_download_data", {"--result", "3=2"}, {"prog"},
                 kProgress + kLoaded + "\nERROR: LOAD DATA PROTOCOL WAS NOT CORRECTLY\n\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})},
        FailCase{"end_download_too_many", {"--result", "3=3"}, {"prog"},
                 kProgress + kLoaded + "More Than 63 Programs Present In Flash\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})},
        FailCase{"end_download_unknown", {"--result", "3=127"}, {"prog"},
                 kProgress + kLoaded + "\nERROR: UNKNOWN RESULT CODE 0x7f RECEIVED\n\n",
                 Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession})}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(BurnDownload, FillersBeforeTheEndDownloadResultAreWaitedThrough) {
  BurnRig rig({"--fillers-ff", "2000", "--fillers-7f", "50"});
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  ExpectOutput(r, kHead + kProgress + kLoaded + kStarted);
}

TEST(BurnDownload, MissingTerminationRecordLetsTheBoardDecide) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, nullptr);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.out, kHead + kProgress + kLoaded +
                       "\nERROR: PREVIOUS LOAD START ADDRESS PROTOCOL WAS NOT CORRECTLY\n\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(rig.Sent(), Concat({kDescriptor, kData1, kData2, kEndDownload, kEndSession}));
}

TEST(BurnReader, FormatErrorMidDownloadEndsTheSession) {
  BurnRig rig;
  // The second record's .X2 line has a block length of its own.
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  std::string x2 = ReadFile(rig.File("PROG.X2"));
  x2[x2.find('\n') + 2] = '2';
  WriteFile(rig.File("PROG.X2"), x2);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.out, kHead + "\rWriting Target Address: 00000800(HEX)" +
                       "ERROR: Block Lengths Of .X1 File And .X2 File Must Be The Same\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(rig.Sent(), Concat({kDescriptor, kData1, kEndSession}));
}

// Local-phase refusals: nothing reaches the board, not even a connection.
struct LocalCase {
  const char* title;
  std::vector<std::string> args;
  std::string input;
  std::vector<int> lanes;  // lane files that exist
  std::string out_after_banner;
  std::string err = {};  // standard error
};

void PrintTo(const LocalCase& c, std::ostream* os) { *os << c.title; }

class BurnLocal : public ::testing::TestWithParam<LocalCase> {};

TEST_P(BurnLocal, RefusedBeforeThePortIsOpened) {
  const LocalCase& c = GetParam();
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  for (int lane = 0; lane < 4; ++lane)
    if (std::find(c.lanes.begin(), c.lanes.end(), lane) == c.lanes.end())
      std::remove(rig.File("PROG.X" + std::to_string(lane)).c_str());
  const RunResult r = rig.Run(c.args, c.input);
  EXPECT_EQ(r.out, "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\nUsing Port  : COM1\n" +
                       c.out_after_banner);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(rig.Trace().find("# connect"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BurnLocal,
    ::testing::Values(
        LocalCase{"missing_x3", {"prog"}, "", {0, 1, 2},
                  "Loading File: PROG.X0\nLoading File: PROG.X1\nLoading File: PROG.X2\n\nCan't Open File PROG.X3\n",
                  "vkburn: PROG.X3: there is no such file\n"},
        LocalCase{"missing_x0", {"prog"}, "", {1, 2, 3}, "\nCan't Open File PROG.X0\n",
                  "vkburn: PROG.X0: there is no such file\n"},
        LocalCase{"extension", {"prog.x0"}, "", {0, 1, 2, 3}, "\nFilename Extension Is Not Allowed"},
        LocalCase{"dot_in_directory", {"../x/prog"}, "", {0, 1, 2, 3}, "\nFilename Extension Is Not Allowed"},
        LocalCase{"prompted_extension", {}, "prog.X0 rest\n", {0, 1, 2, 3},
                  "File To Load : \n\nFilename Extension Is Not Allowed"},
        // The board keeps names of at most 15 characters; a directory part
        // is sent as part of the name.
        LocalCase{"name_over_15", {"abcdefghijklmnop"}, "", {0, 1, 2, 3},
                  "\nName ABCDEFGHIJKLMNOP Is Longer Than 15 Characters\n"},
        LocalCase{"path_over_15", {"subdir/deep/prog"}, "", {0, 1, 2, 3},
                  "\nName SUBDIR/DEEP/PROG Is Longer Than 15 Characters\n"},
        LocalCase{"name_too_long", {std::string(257, 'a')}, "", {0, 1, 2, 3},
                  "\nSource Name Longer Than 256 Characters Is Not Allowed\n"},
        LocalCase{"prompted_name_too_long", {}, std::string(300, 'b') + "\n", {0, 1, 2, 3},
                  "File To Load : \n\nSource Name Longer Than 256 Characters Is Not Allowed\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(BurnSource, AFifoInPlaceOfTheX0FileIsAFileThatCannotBeOpened) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  std::remove(rig.File("PROG.X0").c_str());
  ASSERT_EQ(mkfifo(rig.File("PROG.X0").c_str(), 0600), 0);
  const RunResult r = rig.Run({"prog"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\nUsing Port  : COM1\n"
                   "\nCan't Open File PROG.X0\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "vkburn: PROG.X0: it is not a regular file (a FIFO, socket or device)\n");
}

TEST(BurnSource, ALaneFileTheUserMayNotReadCannotBeOpened) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can become nobody (and reads anything itself)";
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  chmod(rig.File("PROG.X2").c_str(), 0);
  chmod(rig.dir().path().c_str(), 0777);
  const RunResult r = RunProgram({rig.tool(), "prog"}, ToolEnv(rig.Url()), rig.dir().path(), "", 20000, NobodyUid());
  EXPECT_EQ(r.out, "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\nUsing Port  : COM1\n"
                   "Loading File: PROG.X0\nLoading File: PROG.X1\n\nCan't Open File PROG.X2\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "vkburn: PROG.X2: you may not read it (permission denied)\n");
}

TEST(BurnDownload, FastModeBoardSilentMidMessageFailsWithinOneTimeOut) {
  // Silent from the fifth byte of the first data message on.
  BurnRig rig({"--silent-after", "18"});
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  const RunResult r = rig.Run({"prog", "-mf"});
  EXPECT_EQ(r.out, kHead + "\rWriting Target Address: 00000800(HEX)"
                          "\n\nERROR AT RECEIVED ECHO: \nTRANSMITTED DATA:0x00 RECEIVED DATA:0xff\n\n"
                          "Please Try Again With Security Option: \"VKBURN <NAME> -Ms\"\n\n" +
                       kBoardStillListening);
  EXPECT_EQ(r.exit_code, 2);
  // One read time-out for the message's echoes, one for the session end.
  EXPECT_LT(r.elapsed_ms, 6500);
}

TEST(BurnSource, PromptedLowerCaseNameIsUpperCased) {
  BurnRig rig;
  WriteProgram(rig.File("PROG"), kProgram, &kStart);
  const RunResult r = rig.Run({"-mS"}, "prog\n");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  ExpectOutput(r, "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\nUsing Port  : COM1\n"
                  "File To Load : \n" +
                      kHead.substr(kHead.find("Loading")) + kProgress + kLoaded + kStarted);
}

TEST(BurnSource, LaneFilesFoundAsTypedOnACaseSensitiveFileSystem) {
  BurnRig rig;
  WriteProgram(rig.File("prog"), kProgram, &kStart);
  const RunResult r = rig.Run({"prog"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Loading File: prog.X0\nLoading File: prog.X1\n"), std::string::npos) << r.out;
  // The board is told the upper-case name.
  EXPECT_EQ(rig.Sent(), Concat({kDescriptor, kData1, kData2, kStartMsg, kEndDownload, kEndSession}));
}

TEST(BurnUsage, UsageShowsCurrentSettingsAndWritesNothing) {
  BurnRig rig;
  const RunResult r = rig.Run({"-C2", "-mf", "-H"});
  EXPECT_EQ(r.out,
            "\nVeskar C4x DSP Family Flash-Loader For WIN-NT/2000 V 3.0\n\n"
            "Extended Tektronix Hex Object Format\n\n"
            "Usage: VKBURN <Source> [-C<n>] [-M<n>]\n\n"
            "Source  - Filename Without Extension\n"
            "         (Default Extension Is .X0...X3)\n"
            "-C<n>   - Desired COM Port (1..4, Default = 1)\n\n"
            "-M<n>   - Download Mode (s = Save, f = Fast; Default = s)\n\n"
            "Parameters -C<n> And -M<n> Are Saved On Disk\n\n"
            "Autodetect Baudrate Is 38400 Or 115200 Baud\n\n"
            "Current Settings: PORT = COM2, BAUD = 115200, MODE = f\n\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(FileExists(rig.File("vkburn.SET")));
}

}  // namespace

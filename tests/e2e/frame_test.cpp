// The tool frame seen from outside: usage texts, the settings file and its
// location, run through VKSTART (the frame is the same for every program).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "support/process.h"
#include "support/pty_pair.h"
#include "support/tool_rig.h"

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
    // How ports are mapped, on standard error only.
    EXPECT_NE(r.err.find("VK_COM<n>"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("VK_COM1=rfc2217://HOST:PORT, else "), std::string::npos) << r.err;
  }
  // "/?" is a name, as it always was; standard error tells what asks for the usage.
  Rig rig;
  const RunResult r = rig.Run({"/?"});
  EXPECT_EQ(r.out, kOpenFails);
  EXPECT_NE(r.err.find("vkstart: /? is taken as a name; -H or ? prints the usage\n"), std::string::npos) << r.err;
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
  EXPECT_NE(r.err.find("vkstart: settings file " + rig.settings + " cannot be written: a directory"), std::string::npos)
      << r.err;
}

// The loader prints its banner first in every run, but not for --version.
TEST(FrameUsage, HelpAndVersionExitZero) {
  TempDir dir;
  const std::string tool = dir.File("vkburn");
  CopyExecutable(BinDir() + "/vkburn", tool);
  const RunResult version = RunProgram({tool, "prog", "--version"}, ToolEnv(kNowhere), dir.path());
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("vkburn [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
  const RunResult help = RunProgram({tool, "--help"}, ToolEnv(kNowhere), dir.path());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out, RunProgram({tool, "-H"}, ToolEnv(kNowhere), dir.path()).out);
  EXPECT_FALSE(FileExists(dir.File("vkburn.SET")));
}

// Installed where the user may not write, a program keeps its settings in
// the user's configuration directory, unless a settings file it may write
// already lies beside it; no settings message either way.
TEST(FrameSettings, AnInstalledProgramRemembersItsSettings) {
  const bool root = geteuid() == 0;  // root writes anywhere: the program runs as nobody
  const int uid = root ? NobodyUid() : -1;
  for (const bool beside_writable : {false, true}) {
    SCOPED_TRACE(beside_writable ? "writable settings file beside it" : "nothing beside it");
    Rig rig;
    TempDir config;
    chmod(config.path().c_str(), 0777);
    if (beside_writable) {
      WriteFile(rig.settings, "PORT=COM1\nBAUD=38400\n");
      chmod(rig.settings.c_str(), 0666);
    }
    chmod(rig.dir.path().c_str(), root ? 0755 : 0555);
    auto env = ToolEnv(kNowhere);
    env["XDG_CONFIG_HOME"] = config.path();
    const std::string kept = beside_writable ? rig.settings : config.File("vktools/vkstart.SET");
    RunResult r = RunProgram({rig.tool, "-C2", "prog", "-i"}, env, config.path(), "", 20000, uid);
    EXPECT_EQ(r.out, kOpenFails);
    EXPECT_NE(r.err.find("vkstart: settings file " + kept + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(kept), beside_writable ? "PORT=COM2\nBAUD=38400\n" : "PORT=COM2\nBAUD=115200\n");
    r = RunProgram({rig.tool, "prog"}, env, config.path(), "", 20000, uid);  // COM2 remembered
    EXPECT_EQ(r.out, kOpenFails);
    chmod(rig.dir.path().c_str(), 0755);
  }
}

// Root runs an installed program (in /usr/local/bin: a directory of the
// test's own bound there in a mount namespace): its settings go to root's
// configuration directory, unless a settings file already lies beside it.
TEST(FrameSettings, AnInstalledProgramRunByRootKeepsItsSettingsInRootsConfiguration) {
  if (geteuid() != 0) GTEST_SKIP() << "only root binds a directory over /usr/local/bin";
  for (const bool beside : {false, true}) {
    Rig rig;
    TempDir config;
    if (beside) WriteFile(rig.settings, "PORT=COM1\nBAUD=38400\n");
    auto env = ToolEnv(kNowhere);
    env["XDG_CONFIG_HOME"] = config.path();
    EXPECT_EQ(RunProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                          "mount --bind \"$0\" /usr/local/bin && exec /usr/local/bin/vkstart -C2 prog", rig.dir.path()},
                         env, config.path()).out, kOpenFails);
    EXPECT_EQ(ReadFile(beside ? rig.settings : config.File("vktools/vkstart.SET")),
              beside ? "PORT=COM2\nBAUD=38400\n" : "PORT=COM2\nBAUD=115200\n");
    EXPECT_EQ(FileExists(rig.settings), beside);
  }
}

// After a failure of the port or the server, plain words on standard
// error; standard output as always.
struct DiagnosisCase {
  const char* title;
  std::string com1;
  std::vector<std::string> err;  // lines standard error holds
  bool as_nobody = false;
  std::string out = {};  // standard output; "" for the open's failure
};

TEST(FrameDiagnosis, FailuresToOpenSayWhatToDo) {
  PtyPair busy;
  const std::string slave = busy.slave_path();
  const int lock = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  SimProcess closing({"/usr/bin/python3", std::string(VK_SOURCE_DIR) + "/tests/interop/hostile_peer.py",
                      "close-text"}, true);
  TempDir files;
  const std::string plain = files.File("plain");
  WriteFile(plain, "");
  const std::vector<DiagnosisCase> cases = {
      {"no such device", "/nonexistent/ttyX",
       {"vkstart: /nonexistent/ttyX: No such file or directory\n", "VK_COM1="}},
      {"in use", slave,
       {"vkstart: " + slave + ": Resource temporarily unavailable\n",
        slave + " is in use by process " + std::to_string(getpid())}},
      {"no permission", slave, {": Permission denied\n", "sudo usermod -aG "}, true},
      {"nothing listens", kNowhere, {"Connection refused\n", "nothing listens there"}},
      {"host not found", "rfc2217://no-such-host.invalid:2217",
       {"vkstart: rfc2217://no-such-host.invalid:2217: host not found\n", "host name could not be found"}},
      {"server closes with a reason", closing.Url(), {"the server said: \"Port already in use\""}},
      {"scheme in capitals", "RFC2217://127.0.0.1:1", {"Connection refused\n", "nothing listens there"}},
      {"another scheme", "tcp://127.0.0.1:4000", {"VK_COM1=rfc2217://HOST:PORT"}},
      {"one slash", "rfc2217:/127.0.0.1:4000", {"VK_COM1=rfc2217://HOST:PORT"}},
      {"host and port", "127.0.0.1:4000", {"VK_COM1=rfc2217://HOST:PORT"}},
      {"regular file", plain, {plain + " is not a serial device (it is a regular file)"}, false,
       "\nPurgeComm() Failed: 25\n"},
  };
  for (const DiagnosisCase& c : cases) {
    SCOPED_TRACE(c.title);
    if (c.as_nobody && geteuid() != 0) continue;  // only root can become another user
    Rig rig;
    chmod(rig.dir.path().c_str(), 0777);
    const RunResult r =
        RunProgram({rig.tool, "prog"}, ToolEnv(c.com1), rig.dir.path(), "", 20000, c.as_nobody ? NobodyUid() : -1);
    EXPECT_EQ(r.exit_code, 2);
    if (c.out.empty())
      EXPECT_EQ(r.out.rfind("\nOpen Of " + c.com1 + " Failed: ", 0), 0u) << r.out;
    else
      EXPECT_EQ(r.out, c.out);
    for (const std::string& line : c.err) EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
  }
  close(lock);
}

// The settings file is only ever a regular file of its own: anything else
// in its place counts as a file that cannot be opened, and a link there is
// replaced by the rewrite, never written through.
struct PlaceCase {
  const char* title;
  void (*make)(const Rig& rig);  // puts something in the settings file's place
  bool written;                  // the rewrite succeeds (a regular file results)
};

TEST(FrameSettings, OnlyARegularFileIsReadOrWritten) {
  const std::vector<PlaceCase> cases = {
      {"fifo", [](const Rig& r) { ASSERT_EQ(mkfifo(r.settings.c_str(), 0600), 0); }, false},
      {"link to another file",
       [](const Rig& r) {
         WriteFile(r.dir.File("victim.txt"), "victim\n");
         std::filesystem::create_symlink("victim.txt", r.settings);
       },
       true},
      {"dangling link", [](const Rig& r) { std::filesystem::create_symlink("missing.txt", r.settings); }, true},
      {"hard link",
       [](const Rig& r) {
         WriteFile(r.dir.File("victim.txt"), "victim\n");
         std::filesystem::create_hard_link(r.dir.File("victim.txt"), r.settings);
       },
       true},
  };
  for (const PlaceCase& c : cases) {
    SCOPED_TRACE(c.title);
    Rig rig;
    c.make(rig);
    const RunResult r = rig.Run({"-C2", "prog"});
    EXPECT_FALSE(r.timed_out);
    const std::string warn = "\nSettings File " + rig.settings + " Could Not Be Written\n";
    EXPECT_EQ(r.out, (c.written ? "" : warn) + kOpenFails);
    EXPECT_EQ(std::filesystem::is_regular_file(std::filesystem::symlink_status(rig.settings)), c.written);
    if (c.written) {
      EXPECT_EQ(ReadFile(rig.settings), "PORT=COM2\nBAUD=115200\n");
    }
    if (FileExists(rig.dir.File("victim.txt"))) {
      EXPECT_EQ(ReadFile(rig.dir.File("victim.txt")), "victim\n");
    }
    EXPECT_FALSE(FileExists(rig.dir.File("missing.txt")));
  }
}

// Runs rewriting one settings file at once each read it whole: none falls
// back to the defaults and writes them.
TEST(FrameSettings, ConcurrentRewritesNeverShowAHalfWrittenFile) {
  Rig rig;
  WriteFile(rig.settings, "PORT=COM2\nBAUD=38400\n");
  for (int round = 0; round < 10; ++round) {
    std::vector<std::thread> runs;
    for (int i = 0; i < 8; ++i) runs.emplace_back([&] { (void)rig.Run({"-C2", "prog"}); });
    for (std::thread& t : runs) t.join();
    ASSERT_EQ(ReadFile(rig.settings), "PORT=COM2\nBAUD=38400\n") << "round " << round;
  }
}

// With -I the time the sync echo took goes to standard error, and when it
// is far longer than the line needs, the likely cause.
TEST(FrameConnect, InfoNamesTheEchoTimeAndASlowEchosCause) {
  for (const int latency_ms : {0, 10}) {
    SCOPED_TRACE(latency_ms);
    SimProcess sim({"--program", "PROG", "--latency", std::to_string(latency_ms)});
    Rig rig;
    const RunResult r = RunProgram({rig.tool, "prog", "-i"}, ToolEnv(sim.Url()), rig.dir.path());
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\nSent 0x7F Twice At Timestamp [0-9]+ With 115200 Baud"
                                                   "\nTarget Connected In +[0-9]+ Milliseconds, 1 Attempt\\(s\\) "
                                                   "Required\n\nPROG Started On Target.\n")))
        << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, std::regex("the sync echo came back after ([0-9.]+) ms"))) << r.err;
    EXPECT_GE(std::stod(m[1]), latency_ms);
    EXPECT_EQ(r.err.find("a network serial server holds bytes back") != std::string::npos, latency_ms > 0) << r.err;
  }
}

// Whatever the board or a server does, a run ends in bounded time with exit
// code 2: the connection attempt by VK_CONNECT_TIMEOUT (without it and
// without a terminal to press a key on, by 60 s: ConnectLimit in
// tests/link/port_routines_test.cpp), every wait by its own bound.
struct BoundCase {
  std::vector<std::string> peer;  // vksim's options, or a mode of tests/interop/hostile_peer.py
  const char* tool;
  std::string tail;  // how the output ends; "{port}" stands for the server's port
  long min_ms, max_ms;
  const char* limit = nullptr;  // VK_CONNECT_TIMEOUT
  int exit_code = 2;
  std::string err = {};  // a line standard error holds ("{port}" as in `tail`)
};

void ExpectBounded(const BoundCase& c) {
  SCOPED_TRACE(c.peer[0] + " " + c.peer.back() + " " + c.tool);
  std::vector<std::string> hostile{"/usr/bin/python3", std::string(VK_SOURCE_DIR) + "/tests/interop/hostile_peer.py"};
  hostile.insert(hostile.end(), c.peer.begin(), c.peer.end());
  SimProcess peer = c.peer[0][0] != '-' ? SimProcess(hostile, true) : SimProcess(c.peer);
  TempDir dir;
  CopyExecutable(BinDir() + "/" + c.tool, dir.File(c.tool));
  auto env = ToolEnv(peer.Url());
  if (c.limit) env["VK_CONNECT_TIMEOUT"] = c.limit;
  const RunResult r = RunProgram({dir.File(c.tool), "prog"}, env, dir.path(), "", c.max_ms + 20000);
  const auto with_port = [&](std::string text) {
    if (const size_t at = text.find("{port}"); at != std::string::npos) text.replace(at, 6, std::to_string(peer.port()));
    return text;
  };
  const std::string tail = with_port(c.tail);
  EXPECT_NE(r.err.find(with_port(c.err)), std::string::npos) << r.err;
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_GE(r.elapsed_ms, c.min_ms);
  EXPECT_LE(r.elapsed_ms, c.max_ms);
  ASSERT_GE(r.out.size(), tail.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
}

const std::string kTimeOut = "\nConnectTarget(): Time-Out, Target Did Not Answer Within ";

TEST(FrameBounds, EveryRunEndsInBoundedTimeWithTwo) {
  const std::string open_failed = "\nOpen Of rfc2217://127.0.0.1:{port} Failed: ";
  const std::string silent = "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n";
  const std::string time_out = kTimeOut;
  const std::string echo_lost = "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x55\n";
  const std::vector<BoundCase> cases = {
      {{"--no-cts"}, "vkstart", time_out + "1 Seconds\n", 1000, 4000, "1", 2,
       "vkstart: no answer on rfc2217://127.0.0.1:{port} (COM1): the board never raised CTS after the RTS pulse\n"},
      {{"--sync-ignore", "1000000"}, "vkstart", time_out + "2 Seconds\n", 2000, 5000, "2", 2,
       "vkstart: no answer on rfc2217://127.0.0.1:{port} (COM1): the sync byte 0x7F never came back, neither at "
       "115200 nor at 38400 baud\n"},
      {{"refuse"}, "vklist", open_failed + std::to_string(EPROTONOSUPPORT) + "\n", 0, 2000},
      {{"silent"}, "vklist", open_failed + std::to_string(ETIMEDOUT) + "\n", 0, 5000},
      {{"close-text"}, "vklist", open_failed + std::to_string(ECONNRESET) + "\n", 0, 2000},
      {{"flood-cts"}, "vklist", "**" + time_out + "2 Seconds\n", 0, 5000, "2"},  // the stars go on
  };
  for (const BoundCase& c : cases) ExpectBounded(c);
}

// A server that sends as fast as the socket carries (data, Telnet NOPs,
// negotiations, or a subnegotiation that never ends) while the tool waits
// for the agreement, reads the reply, or closes: each run still ends in its
// bounds, its output whole.
class FullSpeedFloods : public ::testing::TestWithParam<std::string> {};

TEST_P(FullSpeedFloods, EndInTimeWithTheOutputWhole) {
  const std::string& when = GetParam();
  const std::string echo_lost = "\nERROR AT RECEIVED ECHO: TRANSMITTED DATA:0x04 RECEIVED DATA:0x55\n";
  std::vector<BoundCase> cases;
  for (const std::string kind : {"data", "nops", "negotiations", "endless-sb"}) {
    if (when == "open")
      cases.push_back({{kind, when}, "vklist",
                       "\nOpen Of rfc2217://127.0.0.1:{port} Failed: " + std::to_string(ETIMEDOUT) + "\n", 3000, 5000});
    else if (when == "close")
      cases.push_back({{kind, when}, "vklist", "\nNo Files Present On Target Flash\n", 0, 3000, nullptr, 0});
    else if (kind != "data")
      cases.push_back({{kind, when}, "vklist", "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n",
                       2000, 5000});
  }
  if (when == "reply") {
    const std::string list = "\nERROR: DIRECTORY REPLY DID NOT END, NOT LISTED\n";
    const std::string check = "\nERROR: FLASH REPORT DID NOT END, NOT SHOWN\n";
    cases.push_back({{"data", when}, "vklist", list + echo_lost, 0, 5000});
    cases.push_back({{"data", when}, "vkcheck", check + echo_lost, 0, 5000});
  }
  for (const BoundCase& c : cases) ExpectBounded(c);
}

INSTANTIATE_TEST_SUITE_P(FrameBounds, FullSpeedFloods, ::testing::Values("open", "reply", "close"),
                         [](const auto& info) { return info.param; });

// Interrupted with standard output on a pipe, as `timeout` does it (to the
// tool and then to its group): everything printed arrives, an open line
// (stars, the load's address) is ended, the lines are put to rest, the
// server is free at once for the next run, and the process ends by the
// signal.
TEST(FrameInterrupt, EndsLikeAnyOtherRun) {
  std::vector<Block> blocks;
  for (uint32_t a = 0; a < 2048; a += 8) blocks.push_back({a, std::vector<uint32_t>(8, a * 0x01010101u)});
  const std::string load = "\n.*\n\nUsing Port  : COM1\n(Loading File: PROG\\.X[0-3]\n){4}\nConnected To Target\n"
                           "(\rWriting Target Address: [0-9A-F]{8}\\(HEX\\))+\n";
  for (const bool loading : {true, false}) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(loading ? "vkburn " : "vklist ") + strsignal(sig));
      ToolRig rig(loading ? "vkburn" : "vklist", {loading ? "--pace" : "--no-cts"}, "# empty\n");
      WriteLanes(rig.dir().File("PROG"), blocks, 0);
      const RunResult r = RunProgram({"/usr/bin/timeout", "--preserve-status", "-s", std::to_string(sig),
                                      loading ? "0.8" : "1.0", rig.tool(), "prog", "-ms"},
                                     ToolEnv(rig.Url()), rig.dir().path());
      EXPECT_EQ(r.exit_code, 128 + sig);
      EXPECT_TRUE(std::regex_match(r.out, std::regex(loading ? load : "\\*+\n"))) << r.out;
      EXPECT_EQ(r.err, "");
      rig.AwaitDisconnect();
      const std::string trace = rig.Trace();
      EXPECT_NE(trace.find("# flow none\n# rts 0\n", trace.rfind("# flow hw")), std::string::npos) << trace;
      if (!loading) continue;
      CopyExecutable(BinDir() + "/vklist", rig.dir().File("vklist"));
      const RunResult next = RunProgram({rig.dir().File("vklist"), "-i"}, ToolEnv(rig.Url()), rig.dir().path());
      EXPECT_LT(next.elapsed_ms, 3000);
      EXPECT_NE(next.out.find("Target Connected In"), std::string::npos) << next.out;
    }
  }
}

}  // namespace

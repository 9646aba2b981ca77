// The serial routines of the link, the connection attempt and the runner's
// ways out, in the test process: open failures on the real backends, the
// rest on a scripted line (support/scripted_line.h) and a fake clock. A
// failing routine prints its message and throws the run's end, which the
// runner turns into the exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "frame/frame.h"
#include "link/connect.h"
#include "link/diagnose.h"
#include "link/port_names.h"
#include "link/ending.h"
#include "link/link.h"
#include "support/pty_pair.h"
#include "support/process.h"
#include "support/scripted_line.h"

namespace {

using vk::link::Leave;
using vk::link::Link;
using vk::link::RunEnd;
using namespace vktest;

const char* const kNowhere = "rfc2217://127.0.0.1:1";

// COM1 names `com1`, the other ports a loopback address nothing listens on.
void MapPorts(const std::string& com1) {
  setenv("VK_COM1", com1.c_str(), 1);
  for (const char* other : {"VK_COM2", "VK_COM3", "VK_COM4"}) setenv(other, kNowhere, 1);
}

// What a step printed, and the end it threw (none when it returned).
struct Outcome {
  std::string out;
  std::string err;
  std::optional<RunEnd> end;
};

Outcome Step(const std::function<void()>& step) {
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    step();
  } catch (const RunEnd& end) {
    o.end = end;
  } catch (...) {
    ADD_FAILURE() << "an exception that is no run's end got out";
  }
  std::fflush(stdout);
  o.out = testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  return o;
}

void ExpectEnd(const Outcome& o, Leave leave) {
  ASSERT_TRUE(o.end.has_value()) << o.out;
  EXPECT_EQ(o.end->code, 2);
  EXPECT_EQ(o.end->leave, leave);
}

struct OpenFailureCase {
  const char* name;
  std::string com1;
  int port;
  int baud;
  std::string expected;
};

TEST(PortRoutines, OpenFailuresPrintTheStepAndEndDirectly) {
  PtyPair held;
  int error = 0;
  auto holder = vk::link::OpenTermiosPort(held.slave_path(), error);
  ASSERT_TRUE(holder);
  vktest::TempDir dir;
  const std::string plain = dir.File("not-a-tty");
  vktest::WriteFile(plain, "x");
  PtyPair pty;
  pty.KeepSlaveOpen();

  const std::vector<OpenFailureCase> cases = {
      {"missing device", "/nonexistent/tty", 1, 115200, "\nOpen Of /nonexistent/tty Failed: 2\n"},
      {"port held by another user", held.slave_path(), 1, 115200,
       "\nOpen Of " + held.slave_path() + " Failed: " + std::to_string(EWOULDBLOCK) + "\n"},
      {"COM2 where nothing listens", pty.slave_path(), 2, 115200,
       std::string("\nOpen Of ") + kNowhere + " Failed: " + std::to_string(ECONNREFUSED) + "\n"},
      {"not a serial device", plain, 1, 115200, "\nPurgeComm() Failed: " + std::to_string(ENOTTY) + "\n"},
      {"rate the driver lacks", pty.slave_path(), 1, 12345,
       "\nSetCommState() Failed: " + std::to_string(EINVAL) + "\n"},
  };
  for (const OpenFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    MapPorts(c.com1);
    Link link;
    const Outcome o = Step([&] { link.OpenPort(c.port, c.baud); });
    ExpectEnd(o, Leave::Direct);
    EXPECT_EQ(o.out, c.expected);
    EXPECT_FALSE(link.IsOpen());
    // Nothing to put to rest: the code stands.
    EXPECT_EQ(vk::frame::FinishRun(link, *o.end), 2);
  }
}

// Port numbers outside 1..4 open COM1; an empty VK_COM1 counts as not set, as
// standard error says (the default device is only named to the scripted line).
TEST(PortRoutines, PortNumbersOutsideOneToFourOpenCom1) {
  for (const std::string com1 : {"com1-device", ""}) {
    MapPorts(com1);
    const std::string device = com1.empty() ? vk::link::DefaultDeviceName(1) : com1;
    const std::string note = "vkstart: VK_COM1 is set but empty, which counts as not set: COM1 is " + device + "\n";
    for (int port : {0, 5, -1, 4711}) {
      SCOPED_TRACE(port);
      ScriptedLine line;
      Link link(line.Opener());
      const Outcome o = Step([&] {
        vk::link::PrintEmptyPortVariable("vkstart", port);
        link.OpenPort(port, 115200);
        link.Transmit(0xC3);
      });
      EXPECT_FALSE(o.end.has_value()) << o.out;
      EXPECT_EQ(o.err, com1.empty() ? note : "");
      EXPECT_EQ(line.opened, std::vector<std::string>{device});
      EXPECT_EQ(line.written, Bytes{0xC3});
    }
  }
}

TEST(PortRoutines, ModemLineFailuresEndTheRunWithTwo) {
  MapPorts("com1-device");
  const std::string rts_failed = "\nSetRtsSignal() Failed: 25 \n";
  const std::string cts_failed = "\nCTSSignalSet() Failed: 25\n";

  struct Case {
    const char* name;
    std::function<void(Link&)> step;
    std::optional<Leave> leave;  // none: the step returns
    std::string printed;
    std::string finished;  // what the runner's way out adds
  };
  const std::vector<Case> cases = {
      // Direct: nothing after the message.
      {"raise RTS", [](Link& l) { l.SetRtsSignal(1); }, Leave::Direct, rts_failed, ""},
      {"clear RTS with level 2", [](Link& l) { l.SetRtsSignal(2); }, Leave::Direct, rts_failed, ""},
      // Through ExitTool, whose own RTS clearing then fails too.
      {"read CTS", [](Link& l) { (void)l.CTSSignalSet(); }, Leave::ExitTool, cts_failed, rts_failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line{.rts_error = 25, .cts_error = 25};
    Link link(line.Opener());
    link.OpenPort(1, 115200);
    link.EnableAuto_RTS_CTS(1);
    const Outcome o = Step([&] { c.step(link); });
    ExpectEnd(o, *c.leave);
    EXPECT_EQ(o.out, c.printed);
    int code = 0;
    const Outcome finished = Step([&] { code = vk::frame::FinishRun(link, *o.end); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(finished.out, c.finished);
  }

  // A good run still ends with 2 when the lines cannot be put to rest.
  ScriptedLine line{.rts_error = 25};
  Link link(line.Opener());
  link.OpenPort(1, 115200);
  link.EnableAuto_RTS_CTS(1);
  EXPECT_TRUE(line.settings.handshake);
  int code = -1;
  const Outcome o = Step([&] { code = vk::frame::FinishRun(link, {0, Leave::ExitTool}); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(o.out, rts_failed);
  EXPECT_FALSE(line.settings.handshake);
}

// Against a peer answering 5A with A5 01 02: bytes and blocks out (an
// empty block sends nothing), pending without waiting, a block whose last
// places do not come (one read time-out, the places keep their content), a
// rate change that reaches the driver and purges, and a silent target.
TEST(PortRoutines, BytesBlocksPendingRateAndTimeOuts) {
  MapPorts("com1-device");
  ScriptedLine line{.replies = {{0x5A, {0xA5, 0x01, 0x02}}}};
  Link link(line.Opener());
  link.OpenPort(1, 115200);
  EXPECT_EQ(link.RxPending(), 0);
  const Bytes block{0x00, 0xFF, 0x7F};
  link.TransmitBlock(block.data(), 0);
  link.TransmitBlock(block.data(), 3);
  link.Transmit(0x5A);
  EXPECT_EQ(link.RxPending(), 1);
  EXPECT_EQ(static_cast<uint8_t>(link.ReceiveWait()), 0xA5);
  Bytes buffer(5, 0xEE);
  Outcome o = Step([&] { link.ReceiveBlock(buffer.data(), 5); });
  EXPECT_FALSE(o.end.has_value());
  EXPECT_EQ(buffer, (Bytes{0x01, 0x02, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(line.elapsed.count(), 2000) << "one time-out, not one per place";
  EXPECT_EQ(line.written, (Bytes{0x00, 0xFF, 0x7F, 0x5A}));

  link.Transmit(0x5A);
  link.SetBaudRate(38400);
  EXPECT_EQ(link.RxPending(), 0);
  EXPECT_EQ(line.settings.baud, 38400);

  o = Step([&] { (void)link.ReceiveWait(); });
  ExpectEnd(o, Leave::ExitTool);
  EXPECT_EQ(o.out, "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n");
  EXPECT_EQ(line.elapsed.count(), 4000);
}

// The runner ends an exception that is no run's end through ExitTool with
// 2: a word on standard error, nothing on standard output, the lines at rest.
TEST(PortRoutines, AnyOtherExceptionEndsThroughExitToolWithTwo) {
  MapPorts("com1-device");
  ScriptedLine line;
  vktest::TempDir dir;
  std::string tool = dir.File("vkstart"), name = "prog";
  std::array<char*, 2> argv{tool.data(), name.data()};
  vk::frame::Frame frame(vk::frame::Traits(vk::frame::Tool::Vkstart), line.Opener());
  int code = -1;
  const Outcome o = Step([&] {
    code = vk::frame::RunTool(frame, 2, argv.data(), [](vk::frame::Frame& f) -> RunEnd {
      f.link.OpenPort(1, 115200);
      f.link.EnableAuto_RTS_CTS(1);
      f.link.SetRtsSignal(1);
      throw std::runtime_error("out of order");
    });
  });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "vkstart: internal error: out of order\n");
  EXPECT_FALSE(line.settings.handshake);
  EXPECT_EQ(line.rts, (std::vector<bool>{true, false}));
}

// The connection attempt's surroundings on the line's fake clock.
struct FakeSurroundings : vk::link::Surroundings {
  FakeSurroundings(ScriptedLine& l, bool t, std::chrono::seconds k) : line(l), terminal(t), key_at(k) {}
  vk::link::SteadyClock::time_point Now() override { return vk::link::SteadyClock::time_point(line.elapsed); }
  void Sleep(int ms) override { line.elapsed += std::chrono::milliseconds(ms); }
  bool WatchKeys() override { return ++watching, terminal; }
  bool KeyPressed() override { return line.elapsed >= key_at; }
  void StopWatchingKeys() override { --watching; }

  ScriptedLine& line;
  bool terminal;
  std::chrono::seconds key_at;
  int watching = 0;  // back to 0 once the terminal is given back
};

// VK_CONNECT_TIMEOUT's seconds when given (0: none); else none on a
// terminal, where a key press ends the wait, and one minute without one.
TEST(ConnectLimit, TheGivenSecondsElseNoneOnATerminalAndAMinuteWithout) {
  MapPorts("com1-device");
  using std::chrono::seconds;
  const std::string time_out = "\nConnectTarget(): Time-Out, Target Did Not Answer Within ";
  // The limit, a terminal, its key pressed and CTS raised at, how the output
  // ends after the stars ("" when connected), when it ended on the fake clock.
  const std::vector<std::tuple<std::optional<int>, bool, seconds, seconds, std::string, seconds>> cases = {
      {std::nullopt, false, seconds(1), seconds(3600), time_out + "60 Seconds\n", seconds(60)},
      {2, true, seconds(3600), seconds(3600), time_out + "2 Seconds\n", seconds(2)},
      {0, false, seconds(3600), seconds(100), "", seconds(100)},
      {std::nullopt, true, seconds(90), seconds(3600), "*", seconds(90)},  // a key ends the wait
  };
  for (const auto& [limit_s, terminal, key_at, cts_at, tail, ended] : cases) {
    SCOPED_TRACE(ended.count());
    ScriptedLine line{.replies = {{vk::link::kSyncByte, {vk::link::kSyncByte}}}, .cts_at = cts_at};
    FakeSurroundings around(line, terminal, key_at);
    Link link(line.Opener());
    link.OpenPort(1, 115200);
    vk::link::Connection connection{.limit_s = limit_s, .program = "vkstart"};
    const Outcome o = Step([&] { vk::link::ConnectTarget(link, connection, around); });
    EXPECT_GE(line.elapsed, ended);
    EXPECT_LE(line.elapsed, ended + std::chrono::milliseconds(100));
    EXPECT_EQ(around.watching, 0) << "the terminal given back";
    // On a terminal, once the wait has gone on for 3 s, what it waits for.
    EXPECT_EQ(o.err.find("to raise CTS; a key press ends the wait") != std::string::npos,
              terminal && ended > seconds(3));
    EXPECT_EQ(o.end.has_value(), !tail.empty()) << o.out;
    EXPECT_EQ(o.out.substr(std::min(o.out.find_first_not_of('*'), o.out.size())), tail == "*" ? "" : tail);
  }
}

}  // namespace

// The serial routines of the link, the connection attempt and the runner's
// ways out, in the test process: the open failures over the real backends,
// everything else over a scripted line (tests/support/scripted_line.h) and a
// fake clock. A failing routine prints its message and throws the run's
// end, which the runner turns into the exit code.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frame/frame.h"
#include "link/connect.h"
#include "link/ending.h"
#include "link/link.h"
#include "support/pty_pair.h"
#include "support/process.h"
#include "support/scripted_line.h"

namespace {

using vk::link::Leave;
using vk::link::Link;
using vk::link::RunEnd;
using vktest::Bytes;
using vktest::PtyPair;
using vktest::LineOp;
using vktest::ScriptedLine;

const char* const kNowhere = "rfc2217://127.0.0.1:1";

// COM1 names `com1`, the other ports a loopback address nothing listens on.
void MapPorts(const std::string& com1) {
  setenv("VK_COM1", com1.c_str(), 1);
  for (const char* other : {"VK_COM2", "VK_COM3", "VK_COM4"}) setenv(other, kNowhere, 1);
}

// What a step printed on standard output and error, and the end it threw
// (none when it returned).
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

TEST(PortRoutines, PortNumbersOutsideOneToFourOpenCom1) {
  MapPorts("com1-device");
  for (int port : {0, 5, -1, 4711}) {
    SCOPED_TRACE(port);
    ScriptedLine line;
    Link link(line.Opener());
    const Outcome o = Step([&] {
      link.OpenPort(port, 115200);
      link.Transmit(0xC3);
    });
    EXPECT_FALSE(o.end.has_value()) << o.out;
    EXPECT_EQ(line.opened, std::vector<std::string>{"com1-device"});
    EXPECT_EQ(line.written, Bytes{0xC3});
  }
}

// The steps of the open and the line routines that fail: each prints its
// message with the system's code and ends the run its way; ExitTool then
// puts the lines to rest, unless that fails too.
TEST(PortRoutines, FailuresPrintTheStepAndEndTheRunTheirWay) {
  MapPorts("com1-device");
  constexpr int e = 25;
  const std::string rts_failed = "\nSetRtsSignal() Failed: 25 \n";
  using vk::link::PrepareStep;
  struct Case {
    const char* name;
    std::map<LineOp, int> errors;
    std::function<void(Link&)> step;  // after the open, with the handshake on
    Leave leave;
    std::string printed;
    std::string finished;  // what the runner's way out adds
    PrepareStep failing_step = PrepareStep::Purge;
  };
  const std::vector<Case> cases = {
      {"open", {{LineOp::Open, e}}, nullptr, Leave::Direct, "\nOpen Of com1-device Failed: 25\n", ""},
      {"queue sizes", {{LineOp::Prepare, e}}, nullptr, Leave::Direct, "\nSetupComm() Failed: 25\n", "",
       PrepareStep::QueueSizes},
      {"purge at the open", {{LineOp::Prepare, e}}, nullptr, Leave::Direct, "\nPurgeComm() Failed: 25\n", ""},
      {"time-outs", {{LineOp::Prepare, e}}, nullptr, Leave::Direct, "\nSetCommTimeouts() Failed: 25\n", "",
       PrepareStep::Timeouts},
      {"settings read at the open", {{LineOp::ReadSettings, e}}, nullptr, Leave::Direct,
       "\nGetCommState() Failed: 25\n", ""},
      {"settings written at the open", {{LineOp::WriteSettings, e}}, nullptr, Leave::Direct,
       "\nSetCommState() Failed: 25\n", ""},
      // Direct: nothing after the message.
      {"raise RTS", {{LineOp::SetRts, e}}, [](Link& l) { l.SetRtsSignal(1); }, Leave::Direct, rts_failed, ""},
      {"clear RTS with level 2", {{LineOp::SetRts, e}}, [](Link& l) { l.SetRtsSignal(2); }, Leave::Direct,
       rts_failed, ""},
      {"handshake", {{LineOp::WriteSettings, e}}, [](Link& l) { l.EnableAuto_RTS_CTS(0); }, Leave::Direct,
       "\nEnableAuto_RTS_CTS() Failed: 25\n", ""},
      // Through ExitTool, whose own RTS clearing then fails too.
      {"read CTS", {{LineOp::ReadCts, e}, {LineOp::SetRts, e}}, [](Link& l) { (void)l.CTSSignalSet(); },
       Leave::ExitTool, "\nCTSSignalSet() Failed: 25\n", rts_failed},
      // Through ExitTool, which puts the lines to rest.
      {"rate", {{LineOp::Purge, e}}, [](Link& l) { l.SetBaudRate(38400); }, Leave::ExitTool,
       "\nPurgeComm() Failed: 25\n", ""},
      {"byte out", {{LineOp::Write, e}}, [](Link& l) { l.Transmit(1); }, Leave::ExitTool,
       "\nTransmit(): Communiction Error: 25\n", ""},
      {"block out", {{LineOp::Write, e}}, [](Link& l) { l.TransmitBlock(Bytes{1}.data(), 1); }, Leave::ExitTool,
       "\nTransmitBlock(): Communiction Error: 25\n", ""},
      {"byte in", {{LineOp::Read, e}}, [](Link& l) { (void)l.ReceiveWait(); }, Leave::ExitTool,
       "\nReceiveWait(): Communiction Error: 25\n", ""},
      {"block in", {{LineOp::Read, e}}, [](Link& l) { l.ReceiveBlock(Bytes(2).data(), 2); }, Leave::ExitTool,
       "\nReceiveBlock(): Communiction Error: 25\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    line.failing_step = c.failing_step;
    Link link(line.Opener());
    if (c.step) {
      link.OpenPort(1, 115200);
      link.EnableAuto_RTS_CTS(1);
    }
    line.errors = c.errors;
    const Outcome o = Step([&] { c.step ? c.step(link) : link.OpenPort(1, 115200); });
    ExpectEnd(o, c.leave);
    EXPECT_EQ(o.out, c.printed);
    EXPECT_EQ(link.IsOpen(), c.step != nullptr);
    int code = 0;
    const size_t settings_before = line.settings.size();
    const Outcome finished = Step([&] { code = vk::frame::FinishRun(link, *o.end); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(finished.out, c.finished);
    if (c.leave == Leave::ExitTool && c.finished.empty()) {
      // The handshake off and RTS down.
      ASSERT_GT(line.settings.size(), settings_before);
      EXPECT_FALSE(line.settings.back().handshake);
      ASSERT_FALSE(line.rts.empty());
      EXPECT_FALSE(line.rts.back());
    }
  }

  // A good run still ends with 2 when the lines cannot be put to rest, with
  // the handshake taken off first.
  ScriptedLine line;
  Link link(line.Opener());
  link.OpenPort(1, 115200);
  link.EnableAuto_RTS_CTS(1);
  line.errors[LineOp::SetRts] = e;
  int code = -1;
  const Outcome o = Step([&] { code = vk::frame::FinishRun(link, {0, Leave::ExitTool}); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(o.out, rts_failed);
  EXPECT_FALSE(line.settings.back().handshake);
}

// Against a peer answering 5A with A5 01 02: bytes and blocks out (an
// empty block sends nothing), pending without waiting, a block whose last
// places do not come (one read time-out, the places keep their content), a
// rate change that reaches the line and purges, and a silent target.
TEST(PortRoutines, BytesBlocksPendingRateAndTimeOuts) {
  MapPorts("com1-device");
  ScriptedLine line;
  std::vector<int> waits;
  line.waited = [&](int ms) { waits.push_back(ms); };
  line.replies = {{0x5A, {0xA5, 0x01, 0x02}}};
  Link link(line.Opener());
  link.OpenPort(1, 115200);
  EXPECT_EQ(line.settings.back().baud, 115200);
  EXPECT_FALSE(line.settings.back().handshake);
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
  EXPECT_EQ(waits, std::vector<int>{vk::link::kReadTimeoutMs}) << "one time-out, not one per place";
  EXPECT_EQ(line.written, (Bytes{0x00, 0xFF, 0x7F, 0x5A}));

  link.Transmit(0x5A);
  const int purges = line.purges;
  link.SetBaudRate(38400);
  EXPECT_EQ(link.RxPending(), 0);
  EXPECT_EQ(line.purges, purges + 1);
  EXPECT_EQ(line.settings.back().baud, 38400);

  waits.clear();
  o = Step([&] { (void)link.ReceiveWait(); });
  ASSERT_TRUE(o.end.has_value());
  EXPECT_EQ(o.end->code, 2);
  EXPECT_EQ(o.end->leave, Leave::ExitTool);
  EXPECT_EQ(o.out, "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n");
  EXPECT_EQ(waits, std::vector<int>{vk::link::kReadTimeoutMs});
}

// The connection attempt's time and terminal: a fake clock that sleeps in no
// time, and a terminal that is there or not and has a key pressed at a time.
class FakeSurroundings : public vk::link::Surroundings {
 public:
  explicit FakeSurroundings(ScriptedLine& line) : line_(line) {
    line.waited = [this](int ms) { Sleep(ms); };
  }
  vk::link::SteadyClock::time_point Now() override { return now_; }
  void Sleep(int ms) override {
    now_ += std::chrono::milliseconds(ms);
    if (cts_at_ms && Elapsed() >= *cts_at_ms) line_.cts = true;
  }
  bool WatchKeys() override {
    ++watching;
    return terminal;
  }
  bool KeyPressed() override { return key_at_ms && Elapsed() >= *key_at_ms; }
  void StopWatchingKeys() override { --watching; }
  long Elapsed() const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now_.time_since_epoch()).count());
  }

  bool terminal = false;
  std::optional<long> key_at_ms;
  std::optional<long> cts_at_ms;
  int watching = 0;  // 0 once the terminal is given back

 private:
  ScriptedLine& line_;
  vk::link::SteadyClock::time_point now_{};
};

// The connection's limit: VK_CONNECT_TIMEOUT's seconds when given (0: none);
// without it none on a terminal, where a key ends the wait, and one minute
// without one. Each case runs minutes of waiting in no time.
TEST(ConnectLimit, TheGivenSecondsElseNoneOnATerminalAndAMinuteWithout) {
  MapPorts("com1-device");
  const std::string time_out = "\nConnectTarget(): Time-Out, Target Did Not Answer Within ";
  const std::string cts_hint =
      "vkstart: waiting for the board on com1-device to raise CTS; a key press ends the wait\n";
  struct Case {
    const char* name;
    std::optional<int> limit_s;
    bool terminal;
    std::optional<long> key_at_ms, cts_at_ms;
    bool echo;
    std::string tail;  // how the output ends; "" for a connection made
    long min_ms, max_ms;
    std::string err;  // standard error
  };
  const std::vector<Case> cases = {
      {"no terminal: one minute", std::nullopt, false, 100, std::nullopt, true, time_out + "60 Seconds\n", 60000,
       60010, ""},
      {"given seconds", 1, false, std::nullopt, std::nullopt, true, time_out + "1 Seconds\n", 1000, 1010, ""},
      {"given seconds on a terminal", 2, true, std::nullopt, std::nullopt, true, time_out + "2 Seconds\n", 2000,
       2010, ""},
      {"0 is no limit", 0, false, std::nullopt, 100000, true, "", 100000, 100100, ""},
      {"a terminal: no limit, a key ends the wait", std::nullopt, true, 90000, std::nullopt, true, "*", 90000,
       90010, cts_hint},
      {"the limit holds in the sync tries too", 1, false, std::nullopt, 100, false, time_out + "1 Seconds\n", 1000,
       1100, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    if (c.echo) line.replies = {{vk::link::kSyncByte, {vk::link::kSyncByte}}};
    FakeSurroundings around(line);
    around.terminal = c.terminal;
    around.key_at_ms = c.key_at_ms;
    around.cts_at_ms = c.cts_at_ms;
    Link link(line.Opener());
    link.OpenPort(1, 115200);
    vk::link::Connection connection;
    connection.limit_s = c.limit_s;
    connection.program = "vkstart";
    int attempts = 0;
    const Outcome o = Step([&] { attempts = vk::link::ConnectTarget(link, connection, around); });
    EXPECT_GE(around.Elapsed(), c.min_ms);
    EXPECT_LE(around.Elapsed(), c.max_ms);
    EXPECT_EQ(around.watching, 0) << "the terminal given back";
    EXPECT_EQ(o.err, c.err);
    if (c.tail.empty()) {
      EXPECT_FALSE(o.end.has_value()) << o.out;
      EXPECT_EQ(attempts, 1);
      continue;
    }
    ASSERT_TRUE(o.end.has_value()) << o.out;
    EXPECT_EQ(o.end->code, 2);
    EXPECT_EQ(o.end->leave, Leave::ExitTool);
    ASSERT_GE(o.out.size(), c.tail.size()) << o.out;
    EXPECT_EQ(o.out.substr(o.out.size() - c.tail.size()), c.tail) << o.out;
    EXPECT_EQ(o.out.find_first_not_of('*'), c.tail == "*" ? std::string::npos : o.out.size() - c.tail.size());
  }
}

// The runner ends an exception that is no run's end through ExitTool with
// 2: the lines back to rest, a word on standard error, nothing on standard
// output.
TEST(PortRoutines, AnyOtherExceptionEndsThroughExitToolWithTwo) {
  MapPorts("com1-device");
  using vk::frame::Frame;
  const vk::frame::ToolBody throwing_error = [](Frame& frame) -> RunEnd {
    frame.link.OpenPort(1, 115200);
    frame.link.EnableAuto_RTS_CTS(1);
    frame.link.SetRtsSignal(1);
    throw std::runtime_error("out of order");
  };
  const vk::frame::ToolBody throwing_other = [](Frame& frame) -> RunEnd {
    frame.link.OpenPort(1, 115200);
    frame.link.EnableAuto_RTS_CTS(1);
    frame.link.SetRtsSignal(1);
    throw 42;
  };
  for (const auto& [body, said] : {std::pair{throwing_error, "vkstart: internal error: out of order\n"},
                                   std::pair{throwing_other, "vkstart: internal error\n"}}) {
    SCOPED_TRACE(said);
    ScriptedLine line;
    vktest::TempDir dir;
    std::string tool = dir.File("vkstart"), name = "prog";
    std::array<char*, 2> argv{tool.data(), name.data()};
    Frame frame(vk::frame::Traits(vk::frame::Tool::Vkstart), line.Opener());
    int code = -1;
    const Outcome o = Step([&] { code = vk::frame::RunTool(frame, 2, argv.data(), body); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, said);
    EXPECT_FALSE(line.settings.back().handshake);
    EXPECT_EQ(line.rts, (std::vector<bool>{true, false}));
  }
}

}  // namespace

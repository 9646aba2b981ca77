// The serial routines of the link over the termios backend, run in the test
// process against a pseudo-terminal whose master side the test plays. A
// failing routine prints its message and throws the run's end, which the
// runner turns into the exit code.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "link/ending.h"
#include "link/link.h"
#include "pty_pair.h"
#include "support/process.h"

namespace {

using vk::link::Leave;
using vk::link::Link;
using vk::link::RunEnd;
using vklinktest::Bytes;
using vklinktest::PtyPair;
using vklinktest::PtyPeer;

const char* const kNowhere = "rfc2217://127.0.0.1:1";

// COM1 names `com1`, the other ports a loopback address nothing listens on.
void MapPorts(const std::string& com1) {
  setenv("VK_COM1", com1.c_str(), 1);
  for (const char* other : {"VK_COM2", "VK_COM3", "VK_COM4"}) setenv(other, kNowhere, 1);
}

// What a step printed, and the end it threw (none when it returned).
struct Outcome {
  std::string out;
  std::optional<RunEnd> end;
  long ms = 0;
};

Outcome Step(const std::function<void()>& step) {
  Outcome o;
  testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  try {
    step();
  } catch (const RunEnd& end) {
    o.end = end;
  }
  o.ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
  std::fflush(stdout);
  o.out = testing::internal::GetCapturedStdout();
  return o;
}

void ExpectEnd(const Outcome& o, Leave leave) {
  ASSERT_TRUE(o.end.has_value()) << o.out;
  EXPECT_EQ(o.end->code, 2);
  EXPECT_EQ(o.end->leave, leave);
}

// The error a pty gives for modem-line requests, as the system reports it.
int PtyModemLineError(const std::string& slave) {
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  int bits = TIOCM_RTS;
  const int e = ioctl(fd, TIOCMBIS, &bits) == 0 ? 0 : errno;
  close(fd);
  return e;
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
  PtyPair pty;
  pty.KeepSlaveOpen();
  MapPorts(pty.slave_path());
  for (int port : {0, 5, -1, 4711}) {
    SCOPED_TRACE(port);
    Link link;
    const Outcome o = Step([&] {
      link.OpenPort(port, 115200);
      link.Transmit(0xC3);
    });
    EXPECT_FALSE(o.end.has_value()) << o.out;
    EXPECT_EQ(pty.Receive(1, 1000), Bytes{0xC3});
  }
}

TEST(PortRoutines, ModemLineFailuresOnAPtyEndTheRunWithTwo) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  MapPorts(pty.slave_path());
  const int e = PtyModemLineError(pty.slave_path());
  ASSERT_GT(e, 0);
  const std::string rts_failed = "\nSetRtsSignal() Failed: " + std::to_string(e) + " \n";
  const std::string cts_failed = "\nCTSSignalSet() Failed: " + std::to_string(e) + "\n";

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
    Link link;
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
  Link link;
  link.OpenPort(1, 115200);
  link.EnableAuto_RTS_CTS(1);
  int code = -1;
  const Outcome o = Step([&] { code = vk::frame::FinishRun(link, {0, Leave::ExitTool}); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(o.out, rts_failed);
  // The handshake switch itself works on a pty, and ExitTool took it off.
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
}

// Against a peer answering 5A with A5 01 02: bytes and blocks out (an
// empty block sends nothing), pending without waiting, a block whose last
// places do not come (one read time-out, the places keep their content), a
// rate change that reaches the driver and purges, and a silent target.
TEST(PortRoutines, BytesBlocksPendingRateAndTimeOuts) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  MapPorts(pty.slave_path());
  PtyPeer peer(pty, {{0x5A, {0xA5, 0x01, 0x02}}});
  Link link;
  link.OpenPort(1, 115200);
  const Outcome pending = Step([&] { EXPECT_EQ(link.RxPending(), 0); });
  EXPECT_LT(pending.ms, 50) << "RxPending must not wait";
  const Bytes block{0x00, 0xFF, 0x7F};
  link.TransmitBlock(block.data(), 0);
  link.TransmitBlock(block.data(), 3);
  link.Transmit(0x5A);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (link.RxPending() == 0 && std::chrono::steady_clock::now() < deadline) vk::link::SleepMs(5);
  EXPECT_EQ(static_cast<uint8_t>(link.ReceiveWait()), 0xA5);
  Bytes buffer(5, 0xEE);
  Outcome o = Step([&] { link.ReceiveBlock(buffer.data(), 5); });
  EXPECT_FALSE(o.end.has_value());
  EXPECT_EQ(buffer, (Bytes{0x01, 0x02, 0xEE, 0xEE, 0xEE}));
  EXPECT_GE(o.ms, 1950);  // the line went silent: one time-out, not one per place
  EXPECT_LT(o.ms, 3500);
  EXPECT_EQ(peer.Received(), (Bytes{0x00, 0xFF, 0x7F, 0x5A}));

  link.Transmit(0x5A);
  vk::link::SleepMs(100);
  link.SetBaudRate(38400);
  EXPECT_EQ(link.RxPending(), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));

  o = Step([&] { (void)link.ReceiveWait(); });
  ExpectEnd(o, Leave::ExitTool);
  EXPECT_EQ(o.out, "\nReceiveWait(): Time-Out, Target Did Not Answer Within 2000 ms\n");
  EXPECT_GE(o.ms, 1950);
  EXPECT_LT(o.ms, 3500);
}

}  // namespace

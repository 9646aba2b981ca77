// The serial routines of port.h over the termios backend, run in a child
// process (they end the process on failure) against a pseudo-terminal whose
// master side the test plays.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "link/backend.h"
#include "pty_pair.h"
#include "support/process.h"

namespace {

using vklinktest::Bytes;
using vklinktest::PtyPair;
using vklinktest::PtyPeer;

const char* const kNowhere = "rfc2217://127.0.0.1:1";

vktest::RunResult RunDriver(const std::string& com1, std::vector<std::string> args,
                            int timeout_ms = 10000) {
  args.insert(args.begin(), vktest::TestBinDir() + "/link_driver");
  return vktest::RunProgram(args, vktest::ToolEnv(com1), "/", "", timeout_ms);
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

// The number after "key=" in the line starting with `prefix`, or -1.
long Field(const std::string& out, const std::string& prefix, const std::string& key) {
  std::smatch m;
  const std::regex re("(^|\n)" + prefix + "[^\n]*" + key + "=([0-9]+)");
  return std::regex_search(out, m, re) ? std::atol(m[2].str().c_str()) : -1;
}

struct OpenFailureCase {
  const char* name;
  std::string com1;
  std::vector<std::string> args;
  std::string expected;
};

TEST(PortRoutines, OpenFailuresPrintTheStepAndExitTwo) {
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
      {"missing device", "/nonexistent/tty", {"open", "1", "115200"},
       "\nOpen Of /nonexistent/tty Failed: 2\n"},
      {"port held by another user", held.slave_path(), {"open", "1", "115200"},
       "\nOpen Of " + held.slave_path() + " Failed: " + std::to_string(EWOULDBLOCK) + "\n"},
      {"COM2 where nothing listens", pty.slave_path(), {"open", "2", "115200"},
       std::string("\nOpen Of ") + kNowhere + " Failed: " + std::to_string(ECONNREFUSED) + "\n"},
      {"not a serial device", plain, {"open", "1", "115200"},
       "\nPurgeComm() Failed: " + std::to_string(ENOTTY) + "\n"},
      {"rate the driver lacks", pty.slave_path(), {"open", "1", "12345"},
       "\nSetCommState() Failed: " + std::to_string(EINVAL) + "\n"},
  };
  for (const OpenFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const vktest::RunResult r = RunDriver(c.com1, c.args);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, c.expected);
  }
}

TEST(PortRoutines, PortNumbersOutsideOneToFourOpenCom1) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  for (const char* port : {"0", "5", "-1", "4711"}) {
    SCOPED_TRACE(port);
    const vktest::RunResult r = RunDriver(pty.slave_path(), {"open", port, "115200", "tx", "c3"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "open ok\ntx ok\n");
    EXPECT_EQ(pty.Receive(1, 1000), Bytes{0xC3});
  }
}

struct LineFailureCase {
  const char* name;
  std::vector<std::string> args;
  std::string expected_tail;
};

TEST(PortRoutines, ModemLineFailuresOnAPtyEndTheRunWithTwo) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  const int e = PtyModemLineError(pty.slave_path());
  ASSERT_GT(e, 0);
  const std::string rts_failed = "\nSetRtsSignal() Failed: " + std::to_string(e) + " \n";
  const std::vector<LineFailureCase> cases = {
      // Fatal directly: nothing after the message.
      {"raise RTS", {"rts", "1"}, rts_failed},
      {"clear RTS with level 2", {"rts", "2"}, rts_failed},
      // Through ExitTool, whose own RTS clearing then fails too.
      {"read CTS", {"cts"}, "\nCTSSignalSet() Failed: " + std::to_string(e) + "\n" + rts_failed},
      // A good run still ends with 2 when the lines cannot be put to rest.
      {"exit 0", {"exit", "0"}, rts_failed},
  };
  for (const LineFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"open", "1", "115200", "hs", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const vktest::RunResult r = RunDriver(pty.slave_path(), args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "open ok\nhs ok\n" + c.expected_tail);
  }
  // The handshake switch itself works on a pty, and ExitTool took it off.
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
}

TEST(PortRoutines, BlocksPendingAndZeroLengthTransmit) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  PtyPeer peer(pty, {{0x5A, {0xA5}}});
  const vktest::RunResult r =
      RunDriver(pty.slave_path(), {"open", "1", "115200", "pending", "txb0", "txb", "00ff7f",
                                   "tx", "5a", "pendwait", "1000", "rx", "1", "pending"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const std::regex expected(
      "open ok\npending 0 ms=\\d+\ntxb0 ok\ntxb ok\ntx ok\npendwait 1\nrx a5\npending 0 ms=\\d+\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
  EXPECT_LT(Field(r.out, "pending 0", "ms"), 50) << "RxPending must not wait";
  EXPECT_EQ(peer.Received(), (Bytes{0x00, 0xFF, 0x7F, 0x5A}));
}

TEST(PortRoutines, BaudChangeReachesTheDriverAndPurges) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  PtyPeer peer(pty, {{0x5A, {0x01, 0x02, 0x03}}});
  const vktest::RunResult r = RunDriver(
      pty.slave_path(), {"open", "1", "115200", "tx", "5a", "pendwait", "1000", "sleep", "50",
                         "baud", "38400", "pending"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("open ok\ntx ok\npendwait 1\nsleep ok\n"
                                                 "baud ok\npending 0 ms=\\d+\n")))
      << r.out;
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
}

TEST(PortRoutines, MissingBytesTimeOutAndKeepTheirPlaces) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  PtyPeer peer(pty, {{0x55, {0x01, 0x02}}});
  const vktest::RunResult r =
      RunDriver(pty.slave_path(), {"open", "1", "115200", "tx", "55", "rxb", "3"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("open ok\ntx ok\nrxb 01 02 ee ms=\\d+\n")))
      << r.out;
  // One missing byte costs one read time-out.
  const long ms = Field(r.out, "rxb", "ms");
  EXPECT_GE(ms, 1950);
  EXPECT_LT(ms, 3500);
}

TEST(PortRoutines, SilentTargetEndsReceiveWaitWithTwo) {
  PtyPair pty;
  pty.KeepSlaveOpen();
  const vktest::RunResult r =
      RunDriver(pty.slave_path(), {"open", "1", "115200", "rx", "1", "quit", "0"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out.rfind("open ok\n", 0), 0u);
  EXPECT_EQ(r.out.find("rx "), std::string::npos) << "no byte may be handed back";
  EXPECT_GE(r.elapsed_ms, 1950);
  EXPECT_LT(r.elapsed_ms, 6000);
}

}  // namespace

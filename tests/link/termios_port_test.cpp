// The termios backend on a pseudo-terminal: line settings as the driver
// sees them, bytes both ways, time-outs and the exclusive open.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "link/backend.h"
#include "support/pty_pair.h"

namespace {

using vk::link::LineState;
using vk::link::OpenTermiosPort;
using vk::link::PortBackend;
using namespace vktest;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

Bytes AllByteValues() {
  Bytes b;
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i));
  return b;
}

class TermiosPortTest : public ::testing::Test {
 protected:
  void Open(const LineState& state = LineState{}) {
    int error = -1;
    port_ = OpenTermiosPort(pty_.slave_path(), error);
    ASSERT_TRUE(port_) << "errno " << error;
    ASSERT_EQ(port_->Purge(), 0);
    ASSERT_EQ(port_->WriteSettings(state), 0);
  }

  // Waits (bounded) until the backend reports input.
  bool WaitPending(int timeout_ms) {
    const auto start = Clock::now();
    while (MsSince(start) < timeout_ms) {
      if (port_->InputPending()) return true;
      usleep(2000);
    }
    return false;
  }

  termios MasterView() const {
    // On Linux the master reports the slave's settings.
    termios t{};
    EXPECT_EQ(tcgetattr(pty_.master(), &t), 0);
    return t;
  }

  PtyPair pty_;
  std::unique_ptr<PortBackend> port_;
};

struct StateCase {
  LineState state;
  speed_t speed;
};

TEST_F(TermiosPortTest, WriteSettingsLeavesARawEightBitLine) {
  // Start from a cooked line with everything on that the link must not have.
  termios cooked = MasterView();
  cooked.c_cflag |= HUPCL | PARENB | CSTOPB | CRTSCTS;
  cooked.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_oflag |= OPOST;
  ASSERT_EQ(tcsetattr(pty_.master(), TCSANOW, &cooked), 0);

  int error = -1;
  port_ = OpenTermiosPort(pty_.slave_path(), error);
  ASSERT_TRUE(port_);
  EXPECT_FALSE(MasterView().c_cflag & HUPCL) << "open leaves the lines to drop on close";

  const StateCase cases[] = {
      {{38400, false}, B38400},
      {{115200, true}, B115200},
      {{9600, false}, B9600},
      {{115200, false}, B115200},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.state.baud);
    ASSERT_EQ(port_->WriteSettings(c.state), 0);
    const termios t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | HUPCL));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.state.handshake);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    LineState back{0, !c.state.handshake};
    ASSERT_EQ(port_->ReadSettings(back), 0);
    EXPECT_EQ(back.baud, c.state.baud);
    EXPECT_EQ(back.handshake, c.state.handshake);
  }
}

TEST_F(TermiosPortTest, UnsupportedRateIsRefusedAndLeavesTheLine) {
  Open({38400, false});
  EXPECT_EQ(port_->WriteSettings({12345, false}), EINVAL);
  EXPECT_EQ(port_->WriteSettings({0, false}), EINVAL);
  const termios t = MasterView();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
}

TEST_F(TermiosPortTest, EveryByteValuePassesUnchangedBothWays) {
  Open();
  const Bytes all = AllByteValues();
  // Out: no CR/LF mapping, no output processing.
  ASSERT_EQ(port_->Write(all.data(), all.size()), 0);
  EXPECT_EQ(pty_.Receive(all.size(), 2000), all);

  // In: no signals, no XON/XOFF, no line editing, no echo.
  ASSERT_TRUE(pty_.Send(all));
  Bytes got;
  for (size_t i = 0; i < all.size(); ++i) {
    uint8_t b = 0;
    ReadResult r = ReadResult::Timeout;
    ASSERT_EQ(ReadByte(*port_, b, 1000, r), 0);
    ASSERT_EQ(r, ReadResult::Byte) << "after " << i << " bytes";
    got.push_back(b);
  }
  EXPECT_EQ(got, all);
  EXPECT_TRUE(pty_.Receive(1, 100).empty()) << "input was echoed";
}

TEST_F(TermiosPortTest, ReadTimesOutOnASilentLineAndReturnsEarlyOnData) {
  Open();
  uint8_t b = 0x5A;
  ReadResult r = ReadResult::Byte;
  auto start = Clock::now();
  ASSERT_EQ(ReadByte(*port_, b, 150, r), 0);
  const long waited = MsSince(start);
  EXPECT_EQ(r, ReadResult::Timeout);
  EXPECT_EQ(b, 0x5A);
  EXPECT_GE(waited, 150);
  EXPECT_LT(waited, 1000);

  std::thread late([this] {
    usleep(100 * 1000);
    (void)pty_.Send({0x42});
  });
  start = Clock::now();
  const int e = ReadByte(*port_, b, 2000, r);
  const long took = MsSince(start);
  late.join();
  ASSERT_EQ(e, 0);
  EXPECT_EQ(r, ReadResult::Byte);
  EXPECT_EQ(b, 0x42);
  EXPECT_GE(took, 50);
  EXPECT_LT(took, 1000);
}

TEST_F(TermiosPortTest, BlockReadTakesBurstsAndStopsAtALateByte) {
  Open();
  // Two bursts 50 ms apart fill the first five places; the sixth byte does
  // not come, so the read ends one time-out after the last byte.
  auto start = Clock::now();  // before the first burst can be sent
  std::thread bursts([this] {
    (void)pty_.Send({0x10, 0x20, 0x30});
    usleep(50 * 1000);
    (void)pty_.Send({0x40, 0x50});
  });
  Bytes buf(6, 0xEE);
  size_t got = 0;
  const int e = port_->Read(buf.data(), buf.size(), 200, got);
  const long took = MsSince(start);
  bursts.join();
  ASSERT_EQ(e, 0);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(buf, (Bytes{0x10, 0x20, 0x30, 0x40, 0x50, 0xEE}));
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 1500);

  // Bytes beyond the block stay for the next read.
  ASSERT_TRUE(pty_.Send({0x61, 0x62, 0x63}));
  start = Clock::now();
  ASSERT_EQ(port_->Read(buf.data(), 2, 2000, got), 0);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[0], 0x61);
  EXPECT_EQ(buf[1], 0x62);
  uint8_t b = 0;
  ReadResult r = ReadResult::Timeout;
  ASSERT_EQ(ReadByte(*port_, b, 1000, r), 0);
  EXPECT_EQ(r, ReadResult::Byte);
  EXPECT_EQ(b, 0x63);
  EXPECT_LT(MsSince(start), 1000);
}

TEST_F(TermiosPortTest, InputPendingAnswersAtOnceAndPurgeEmptiesIt) {
  Open();
  auto start = Clock::now();
  EXPECT_FALSE(port_->InputPending());
  EXPECT_LT(MsSince(start), 50);

  ASSERT_TRUE(pty_.Send({0x01, 0x02, 0x03}));
  ASSERT_TRUE(WaitPending(1000));
  uint8_t b = 0;
  ReadResult r = ReadResult::Timeout;
  ASSERT_EQ(ReadByte(*port_, b, 100, r), 0);
  EXPECT_EQ(b, 0x01);
  EXPECT_TRUE(port_->InputPending());

  ASSERT_EQ(port_->Purge(), 0);
  EXPECT_FALSE(port_->InputPending());
  ASSERT_EQ(ReadByte(*port_, b, 100, r), 0);
  EXPECT_EQ(r, ReadResult::Timeout);
}

TEST_F(TermiosPortTest, WriteThatCannotLeaveIsDroppedWithinItsTimeOut) {
  Open();
  // Nobody reads the master: the pty fills up and the rest must be given up
  // after the write time-out, not block and not fail.
  const Bytes big(1 << 20, 0x55);
  const auto start = Clock::now();
  EXPECT_EQ(port_->Write(big.data(), big.size()), 0);
  const long took = MsSince(start);
  EXPECT_GE(took, 90);
  EXPECT_LT(took, 1500);
  const Bytes arrived = pty_.Receive(big.size(), 300);
  EXPECT_GT(arrived.size(), 0u);
  EXPECT_LT(arrived.size(), big.size());
}

TEST_F(TermiosPortTest, UnpluggedLineIsAnErrorNotATimeOut) {
  Open();
  pty_.CloseMaster();
  uint8_t b = 0;
  ReadResult r = ReadResult::Timeout;
  const auto start = Clock::now();
  EXPECT_EQ(ReadByte(*port_, b, 2000, r), EIO);
  EXPECT_LT(MsSince(start), 1000);
  const uint8_t x = 0x33;
  EXPECT_NE(port_->Write(&x, 1), 0);
}

TEST_F(TermiosPortTest, ModemLinesOfAPtyReportTheSystemError) {
  Open();
  // A pty has no modem lines; the backend must pass the system's code on.
  const int probe = open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  int bits = 0;
  const int expected = ioctl(probe, TIOCMGET, &bits) == 0 ? 0 : errno;
  close(probe);
  ASSERT_NE(expected, 0);
  bool cts = true;
  EXPECT_EQ(port_->ReadCts(cts), expected);
  EXPECT_EQ(port_->SetRts(true), expected);
  EXPECT_EQ(port_->SetRts(false), expected);
}

TEST_F(TermiosPortTest, PortIsHeldExclusivelyUntilClosed) {
  Open();
  int error = 0;
  auto second = OpenTermiosPort(pty_.slave_path(), error);
  EXPECT_FALSE(second);
  // The lock refuses (EWOULDBLOCK); without root the tty's exclusive mode
  // refuses first (EBUSY).
  EXPECT_TRUE(error == EWOULDBLOCK || error == EBUSY) << error;

  port_.reset();
  second = OpenTermiosPort(pty_.slave_path(), error);
  EXPECT_TRUE(second) << "errno " << error;
}

TEST(TermiosPortOpen, MissingDeviceReportsErrno) {
  int error = 0;
  EXPECT_FALSE(OpenTermiosPort("/nonexistent/tty", error));
  EXPECT_EQ(error, ENOENT);
}

}  // namespace

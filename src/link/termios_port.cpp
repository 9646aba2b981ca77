// The termios backend: a local serial device (or a pseudo-terminal).
//
// The descriptor is non-blocking; every wait is a poll() against a deadline
// on the monotonic clock, so a read or write never outlives its time-out
// even when signals interrupt it (the tty layer sizes its own queues, and
// there are no driver time-outs to install). Errors are errno values.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <utility>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "link/backend.h"
#include "link/clock.h"
#include "link/interrupt.h"
#include "link/link.h"
#include "link/port_names.h"

namespace vk::link {
namespace {

using Clock = SteadyClock;

struct BaudEntry {
  int baud;
  speed_t speed;
};

constexpr std::array kBaudTable{
    BaudEntry{50, B50},         BaudEntry{75, B75},         BaudEntry{110, B110},
    BaudEntry{134, B134},       BaudEntry{150, B150},       BaudEntry{200, B200},
    BaudEntry{300, B300},       BaudEntry{600, B600},       BaudEntry{1200, B1200},
    BaudEntry{1800, B1800},     BaudEntry{2400, B2400},     BaudEntry{4800, B4800},
    BaudEntry{9600, B9600},     BaudEntry{19200, B19200},   BaudEntry{38400, B38400},
    BaudEntry{57600, B57600},   BaudEntry{115200, B115200}, BaudEntry{230400, B230400},
#ifdef B460800
    BaudEntry{460800, B460800},
#endif
#ifdef B921600
    BaudEntry{921600, B921600},
#endif
};

bool SpeedForBaud(int baud, speed_t& speed) {
  for (const BaudEntry& e : kBaudTable) {
    if (e.baud == baud) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

int BaudForSpeed(speed_t speed) {
  for (const BaudEntry& e : kBaudTable) {
    if (e.speed == speed) return e.baud;
  }
  return 0;  // a rate we never set ourselves; WriteSettings replaces it anyway
}

// Waits for `events` on `fd` until `deadline`. Returns the poll revents
// (0 on time-out) or -1 with errno set.
int PollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n > 0) return p.revents;
    if (n == 0) return 0;
    if (errno != EINTR || Interruption()) return -1;  // errno EINTR: cut short by an interrupt
    if (Clock::now() >= deadline) return 0;
  }
}

class TermiosPort final : public PortBackend {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override {
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the flock
  }
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  int Purge() override { return ::tcflush(fd_, TCIOFLUSH) == 0 ? 0 : errno; }

  int ReadSettings(LineState& state) override {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    state.baud = BaudForSpeed(::cfgetospeed(&t));
    state.handshake = (t.c_cflag & CRTSCTS) != 0;
    return 0;
  }

  int WriteSettings(const LineState& state) override {
    speed_t speed{};
    if (!SpeedForBaud(state.baud, speed)) return EINVAL;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    // Raw bytes: no line editing, no translation, no signals, no echo.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                        ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (state.handshake) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return errno;
    return ::tcsetattr(fd_, TCSANOW, &t) == 0 ? 0 : errno;
  }

  int SetRts(bool on) override {
    int bits = TIOCM_RTS;
    return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
  }

  int ReadCts(bool& on) override {
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) return errno;
    on = (bits & TIOCM_CTS) != 0;
    return 0;
  }

  int Write(const uint8_t* data, size_t n) override {
    size_t done = 0;
    // Each wait for room gets the full write time-out; what still cannot
    // leave after it is dropped, as a timed-out write on the port would be.
    auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (done < n) {
      const ssize_t w = ::write(fd_, data + done, n - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
        deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        continue;
      }
      if (w < 0 && errno == EINTR && !Interruption()) continue;
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      const int revents = PollUntil(fd_, POLLOUT, deadline);
      if (revents < 0) return errno;
      if (revents == 0) return 0;  // no room in time: the rest is dropped
      if ((revents & POLLOUT) == 0) return EIO;  // hung up or error
    }
    return 0;
  }

  // Takes whatever has arrived with each read, so a block costs a system
  // call per burst the driver hands over rather than one per byte.
  int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) override {
    got = 0;
    const auto timeout = std::chrono::milliseconds(timeout_ms);
    auto deadline = Clock::now() + timeout;
    while (got < n) {
      const int revents = PollUntil(fd_, POLLIN, deadline);
      if (revents < 0) return errno;
      if (revents == 0) return 0;  // data[got] did not come in time
      if ((revents & POLLIN) == 0) return EIO;
      const ssize_t r = ::read(fd_, data + got, n - got);
      if (r > 0) {
        got += static_cast<size_t>(r);
        deadline = Clock::now() + timeout;  // the next place waits from here
        continue;
      }
      if (r == 0) return EIO;
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      if (Clock::now() >= deadline) return 0;
    }
    return 0;
  }

  bool InputPending() override {
    int n = 0;
    return ::ioctl(fd_, FIONREAD, &n) == 0 && n > 0;
  }

 private:
  int fd_;
};

// Best effort: ask the driver to hand over received bytes at once instead
// of batching them (USB adapters otherwise add several ms per exchange).
void RequestLowLatency(int fd) {
#ifdef __linux__
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
    ss.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &ss);
  }
#else
  (void)fd;
#endif
}

}  // namespace

std::unique_ptr<PortBackend> OpenTermiosPort(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  // One user per port: an advisory lock that every well-behaved serial
  // program honours, plus the tty's own exclusive mode (which root bypasses
  // and ptys may refuse, so only the lock decides).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);

  // Opening a tty raises DTR and RTS; drop them at once so the target sees
  // the lines at rest, and keep them from toggling again when we close.
  int bits = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIC, &bits);
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  RequestLowLatency(fd);
  return std::make_unique<TermiosPort>(fd);
}

std::unique_ptr<PortBackend> OpenLocalPort(const std::string& name, int& error) {
  return OpenTermiosPort(name, error);
}

std::string DefaultDeviceName(int n) { return "/dev/ttyS" + std::to_string(n - 1); }

std::string ExampleDeviceName() { return "/dev/ttyUSB0"; }

}  // namespace vk::link

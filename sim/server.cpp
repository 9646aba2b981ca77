// TCP listener and poll() loop of the simulator.
#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "sim/session.h"
#include "sim/usbip.h"

namespace vk::sim {
namespace {

// The longest single wait of the loop, so a signal is noticed soon even if
// it lands just before poll().
constexpr Nanos kMaxWait = 200 * kMillisecond;
// A client that leaves this much of our output unread is dropped.
constexpr size_t kMaxPendingOutput = 16 << 20;
// One turn of the loop reads at most this much of a client, and takes at
// most this many connections: a peer that sends (or connects) faster than
// the loop reads must not keep it from the line, the clock and the signals.
constexpr size_t kMaxReadPerTurn = 256 * 1024;
constexpr int kMaxAcceptsPerTurn = 16;
// With pacing, the loop sleeps in the kernel until this long before a line
// deadline and spins the rest: a timer wakes tens of microseconds late,
// which at 115200 baud (87 us a byte) would stretch every echo noticeably.
constexpr Nanos kSpinBefore = 100'000;

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) { g_stop = 1; }

Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Nanos RealNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// When the kernel took in the data of the last receive (SO_TIMESTAMPNS),
// on the steady clock; 0 when the message carries no time stamp.
Nanos ReceivedAt(msghdr& msg) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    timespec ts{};
    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
    const Nanos stamp = Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
    return Now() - (RealNow() - stamp);
  }
  return 0;
}

void InstallSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// Waits until something happens on `fds` or `wake` has come. With `spin`
// the last stretch before `wake` is spent polling without sleeping, so the
// loop is on time to the microsecond. False on a poll error.
bool WaitUntil(pollfd* fds, nfds_t count, Nanos wake, bool spin) {
  for (;;) {
    const Nanos left = wake - Now();
    Nanos sleep = std::max<Nanos>(0, spin ? left - kSpinBefore : left);
    const timespec timeout{static_cast<time_t>(sleep / 1'000'000'000),
                           static_cast<long>(sleep % 1'000'000'000)};
    const int n = ::ppoll(fds, count, &timeout, nullptr);
    if (n < 0 && errno != EINTR) return false;
    if (n != 0 || !spin || Now() >= wake || g_stop != 0) return true;
    // The client we have just woken may have been put on this processor;
    // spinning without yielding would keep it off until the next tick.
    if (sleep == 0) ::sched_yield();
  }
}

std::unique_ptr<Board> MakeBoard(const ServerConfig& config, FlashFs& flash) {
  if (config.replay) return std::make_unique<Replay>(*config.replay);
  return std::make_unique<Monitor>(flash, config.knobs);
}

std::unique_ptr<Front> MakeFront(const ServerConfig& config, FlashFs& flash, Trace& trace) {
  if (config.adapter) {
    return std::make_unique<UsbipFront>(
        MakeAdapter(*config.adapter, config.line, MakeBoard(config, flash), trace));
  }
  return std::make_unique<Session>(config.line, MakeBoard(config, flash), trace);
}

}  // namespace

class Server::Client {
 public:
  Client(int fd, const ServerConfig& config, FlashFs& flash, Trace& trace)
      : fd_(fd), session_(MakeFront(config, flash, trace)), drained_at_(Now()) {
    session_->Start();
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int fd() const { return fd_; }
  Front& session() { return *session_; }
  bool WantsWrite() const { return !pending_.empty(); }

  // Reads what the socket holds, kMaxReadPerTurn at most. False when the
  // client has gone.
  //
  // The bytes reach the line at the time the kernel took them in, not when
  // this loop got round to reading them, so the simulator's own wake-up
  // delay does not count as line time. That time lies between the last
  // read that found the socket empty and now.
  bool Read() {
    std::array<uint8_t, 4096> buf{};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
    for (size_t taken = 0; taken < kMaxReadPerTurn;) {
      iovec iov{buf.data(), buf.size()};
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control.data();
      msg.msg_controllen = control.size();
      const ssize_t r = ::recvmsg(fd_, &msg, 0);
      if (r > 0) {
        const Nanos latest = Now();
        Nanos at = ReceivedAt(msg);
        if (at == 0 || at > latest) at = latest;
        if (at < drained_at_) at = drained_at_;
        session_->FromNetwork(buf.data(), static_cast<size_t>(r), at);
        taken += static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      drained_at_ = Now();
      if (r == 0) {
        // The host has finished sending; what it sent is still on the
        // (paced) line and is served before the connection is dropped.
        if (!finished_at_) finished_at_ = drained_at_;
        return true;
      }
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;  // more waits: the next turn takes it
  }

  // The host shut down its sending side, and everything it sent has reached
  // the board (or the grace time for that has passed).
  bool Finished(Nanos now) {
    if (!finished_at_) return false;
    return !session_->NextDeadline() || now - *finished_at_ >= kFinishGrace;
  }
  bool ReadEnded() const { return finished_at_.has_value(); }

  // Sends what the socket takes now. False when the client has gone or
  // stopped reading.
  bool Write() {
    pending_ += session_->TakeOutput();
    while (!pending_.empty()) {
      const ssize_t w = ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL);
      if (w > 0) {
        pending_.erase(0, static_cast<size_t>(w));
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return false;
    }
    return pending_.size() <= kMaxPendingOutput;
  }

 private:
  int fd_;
  std::unique_ptr<Front> session_;
  std::string pending_;
  Nanos drained_at_;  // the socket was last found empty then
  std::optional<Nanos> finished_at_;  // the host's end of input
  static constexpr Nanos kFinishGrace = 2000 * kMillisecond;
};

Server::Server(const ServerConfig& config, FlashFs& flash, Trace& trace)
    : config_(config), flash_(flash), trace_(trace), saved_generation_(flash.generation()) {}

Server::~Server() {
  client_.reset();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool Server::Listen(std::string& error) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(config_.port);
  if (::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    error = "bind 127.0.0.1:" + std::to_string(config_.port) + ": " + std::strerror(errno);
    return false;
  }
  if (::listen(listen_fd_, 8) != 0) {
    error = std::string("listen: ") + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void Server::Accept() {
  for (int taken = 0; taken < kMaxAcceptsPerTurn; ++taken) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN, or a connection that went before we took it
    }
    if (client_ != nullptr) {
      ::close(fd);
      trace_.Event("refused");
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    trace_.Event("connect");
    client_ = std::make_unique<Client>(fd, config_, flash_, trace_);
    if (!client_->Write()) {  // the server's option requests go out at once
      client_.reset();
      trace_.Event("disconnect");
    }
  }
}

void Server::SaveFlash() {
  if (flash_.generation() == saved_generation_) return;
  saved_generation_ = flash_.generation();
  if (config_.flash_path.empty()) return;
  std::string error;
  if (!flash_.Save(config_.flash_path, error)) std::fprintf(stderr, "vksim: %s\n", error.c_str());
}

int Server::Run() {
  InstallSignals();
  // Timers as exact as the kernel makes them (the default slack is 50 us).
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const Nanos idle_limit = Nanos{config_.idle_timeout_s} * 1000 * kMillisecond;
  Nanos idle_since = Now();
  while (g_stop == 0) {
    Nanos now = Now();
    if (client_ == nullptr && idle_limit > 0 && now - idle_since >= idle_limit) return 0;

    Nanos wake = now + kMaxWait;
    if (client_ == nullptr && idle_limit > 0) wake = std::min(wake, idle_since + idle_limit);
    bool spin = false;
    if (client_ != nullptr) {
      if (const auto due = client_->session().NextDeadline(); due && *due <= wake) {
        wake = *due;
        spin = config_.line.pace;
      }
    }

    std::array<pollfd, 2> fds{};
    fds[0] = {listen_fd_, POLLIN, 0};
    nfds_t count = 1;
    if (client_ != nullptr) {
      const short in = client_->ReadEnded() ? 0 : POLLIN;
      fds[1] = {client_->fd(), static_cast<short>(in | (client_->WantsWrite() ? POLLOUT : 0)), 0};
      count = 2;
    }
    if (!WaitUntil(fds.data(), count, wake, spin)) {
      std::fprintf(stderr, "vksim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    now = Now();

    bool gone = false;
    if (client_ != nullptr) {
      if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) gone = !client_->Read();
      client_->session().Advance(now);
      for (const std::string& name : client_->session().TakeStarted()) {
        std::printf("vksim: started %s\n", name.c_str());
        std::fflush(stdout);
      }
      SaveFlash();
      if (!gone) gone = client_->session().Cut() || !client_->Write() || client_->Finished(now);
      Board& board = client_->session().board();
      if (gone) board.HostClosed();
      if (const std::string failure = board.Failure(); !failure.empty()) {
        std::fprintf(stderr, "vksim: %s\n", failure.c_str());
        trace_.Event(failure);
        client_.reset();
        trace_.Event("disconnect");
        return kExitReplayDiverged;
      }
      if (gone) {
        client_.reset();
        trace_.Event("disconnect");
        if (config_.once) return 0;
        idle_since = now;
      }
    }
    if (fds[0].revents & POLLIN) Accept();
  }
  return 0;
}

}  // namespace vk::sim

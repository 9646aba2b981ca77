// TCP listener and poll() loop of the simulator.
#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "sim/session.h"

namespace vksim {
namespace {

// The longest single wait of the loop, so a signal is noticed soon even if
// it lands just before poll().
constexpr Nanos kMaxWait = 200 * kMillisecond;
// A client that leaves this much of our output unread is dropped.
constexpr size_t kMaxPendingOutput = 16 << 20;

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) { g_stop = 1; }

Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void InstallSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

class Server::Client {
 public:
  Client(int fd, const ServerConfig& config, FlashFs& flash, Trace& trace)
      : fd_(fd), session_(config.line, config.knobs, flash, trace) {
    session_.Start();
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int fd() const { return fd_; }
  Session& session() { return session_; }
  bool WantsWrite() const { return !pending_.empty(); }

  // Reads what the socket holds. False when the client has gone.
  bool Read(Nanos now) {
    std::array<uint8_t, 4096> buf{};
    for (;;) {
      const ssize_t r = ::recv(fd_, buf.data(), buf.size(), 0);
      if (r > 0) {
        session_.FromNetwork(buf.data(), static_cast<size_t>(r), now);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }

  // Sends what the socket takes now. False when the client has gone or
  // stopped reading.
  bool Write() {
    pending_ += session_.TakeOutput();
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
  Session session_;
  std::string pending_;
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
  for (;;) {
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
  const Nanos idle_limit = Nanos{config_.idle_timeout_s} * 1000 * kMillisecond;
  Nanos idle_since = Now();
  while (g_stop == 0) {
    Nanos now = Now();
    if (client_ == nullptr && idle_limit > 0 && now - idle_since >= idle_limit) return 0;

    Nanos wake = now + kMaxWait;
    if (client_ == nullptr && idle_limit > 0) wake = std::min(wake, idle_since + idle_limit);
    if (client_ != nullptr) {
      if (const auto due = client_->session().NextDeadline()) wake = std::min(wake, *due);
    }
    const Nanos wait = std::max<Nanos>(0, wake - now);
    const int timeout_ms = static_cast<int>((wait + kMillisecond - 1) / kMillisecond);

    std::array<pollfd, 2> fds{};
    fds[0] = {listen_fd_, POLLIN, 0};
    nfds_t count = 1;
    if (client_ != nullptr) {
      fds[1] = {client_->fd(), static_cast<short>(POLLIN | (client_->WantsWrite() ? POLLOUT : 0)),
                0};
      count = 2;
    }
    if (::poll(fds.data(), count, timeout_ms) < 0 && errno != EINTR) {
      std::fprintf(stderr, "vksim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    now = Now();

    bool gone = false;
    if (client_ != nullptr) {
      if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) gone = !client_->Read(now);
      client_->session().Advance(now);
      for (const std::string& name : client_->session().TakeStarted()) {
        std::printf("vksim: started %s\n", name.c_str());
        std::fflush(stdout);
      }
      SaveFlash();
      if (!gone) gone = !client_->Write();
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

}  // namespace vksim

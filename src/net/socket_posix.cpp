// Stream sockets on POSIX systems.
//
// The socket is non-blocking while it connects, so the connection attempt
// keeps its deadline. Once connected it blocks, and every call but
// ReceiveWaiting asks not to (MSG_DONTWAIT): a waiting read is then one
// system call, bounded by the socket's receive time-out.
#include "net/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace vk::net {
namespace {

using Clock = std::chrono::steady_clock;

int Fd(std::uintptr_t handle) { return static_cast<int>(handle); }

bool IsNothingNow(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// A transfer's result from the system call's.
Moved Result(ssize_t r, bool receiving) {
  if (r > 0) return {static_cast<size_t>(r), false, 0};
  if (r == 0) return {0, receiving, 0};
  return {0, false, IsNothingNow(errno) ? 0 : errno};
}

ConnectError Failure(int code) {
  if (code == ECONNREFUSED) return {ConnectFailure::Refused, code};
  if (code == ETIMEDOUT) return {ConnectFailure::TimedOut, code};
  return {ConnectFailure::System, code};
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// How a connection under way ends: 0 once connected, else the error, or
// ETIMEDOUT at the deadline (a signal only cuts one wait short).
int AwaitConnect(int fd, Clock::time_point deadline) {
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLOUT, 0};
    const int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n < 0 && errno != EINTR) return errno;
    if (n > 0) {
      int code = 0;
      socklen_t len = sizeof code;
      return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &len) == 0 ? code : errno;
    }
  }
  return ETIMEDOUT;
}

// Connects to one address within `deadline`: the socket, or -1 with `error`.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, ConnectError& error) {
  const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
  if (fd < 0) {
    error = Failure(errno);
    return -1;
  }
  int code = ::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0 ? 0 : errno;
  if (code == EINPROGRESS || code == EINTR) code = AwaitConnect(fd, deadline);
  if (code != 0) {
    error = Failure(code);
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int SystemCode(Errc errc) {
  switch (errc) {
    case Errc::InvalidArgument:
      return EINVAL;
    case Errc::TimedOut:
      return ETIMEDOUT;
    case Errc::ConnectionReset:
      return ECONNRESET;
    case Errc::ProtocolNotSupported:
      return EPROTONOSUPPORT;
  }
  return EINVAL;
}

Stream::~Stream() { ::close(Fd(handle_)); }

Moved Stream::Send(const void* data, size_t n) {
  // A peer that has gone must give an error, not a signal.
  return Result(::send(Fd(handle_), data, n, MSG_NOSIGNAL | MSG_DONTWAIT), false);
}

Moved Stream::Receive(void* data, size_t n) { return Result(::recv(Fd(handle_), data, n, MSG_DONTWAIT), true); }

Moved Stream::ReceiveWaiting(void* data, size_t n, int timeout_ms) {
  if (timeout_ms <= 0) return Receive(data, n);  // a time-out of 0 on the socket would mean none
  if (timeout_ms != receive_timeout_ms_) {
    const timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (::setsockopt(Fd(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return {0, false, errno};
    receive_timeout_ms_ = timeout_ms;
  }
  return Result(::recv(Fd(handle_), data, n, 0), true);
}

unsigned Stream::Wait(unsigned want, int timeout_ms, int& error) {
  error = 0;
  pollfd p{Fd(handle_), 0, 0};
  if (want & kReadable) p.events |= POLLIN;
  if (want & kWritable) p.events |= POLLOUT;
  const int n = ::poll(&p, 1, timeout_ms);
  if (n < 0) {
    if (errno != EINTR) error = errno;
    return 0;
  }
  unsigned found = 0;
  if (p.revents & POLLIN) found |= kReadable;
  if (p.revents & POLLOUT) found |= kWritable;
  // A hang-up or an error: what was asked for is ready, and the transfer
  // that follows reports it.
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) found |= want;
  return found;
}

void Stream::ShutdownSend() { ::shutdown(Fd(handle_), SHUT_WR); }

std::unique_ptr<Stream> Stream::Connect(const std::string& host, const std::string& port, int timeout_ms,
                                        ConnectError& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list); rc != 0) {
    error = rc == EAI_SYSTEM ? ConnectError{ConnectFailure::System, errno}
                             : ConnectError{ConnectFailure::HostNotFound, ENXIO};
    return nullptr;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  error = {ConnectFailure::HostNotFound, ENXIO};  // no address at all
  int fd = -1;
  for (const addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) fd = ConnectOne(*ai, deadline, error);
  ::freeaddrinfo(list);
  if (fd < 0) return nullptr;
  error = {};
  return std::unique_ptr<Stream>(new Stream(static_cast<std::uintptr_t>(fd)));
}

}  // namespace vk::net

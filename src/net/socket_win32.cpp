// Stream sockets on Windows (Winsock 2).
//
// The socket is non-blocking for its whole life; ReceiveWaiting waits with
// select() first. select() rather than WSAPoll: older WSAPoll never reports
// a refused non-blocking connect, which select() shows in its exception set.
#include "net/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

namespace vk::net {
namespace {

using Clock = std::chrono::steady_clock;

SOCKET Handle(std::uintptr_t handle) { return static_cast<SOCKET>(handle); }

// Winsock is started once per process before its first call and stays up
// until the process ends. 0, or why it could not start.
int StartSockets() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

// A transfer's result from the call's; Winsock moves at most 64 KiB a call.
Moved Result(int r, bool receiving) {
  if (r > 0) return {static_cast<size_t>(r), false, 0};
  if (r == 0) return {0, receiving, 0};
  const int e = WSAGetLastError();
  return {0, false, e == WSAEWOULDBLOCK ? 0 : e};
}

int Chunk(size_t n) { return n > 0x10000 ? 0x10000 : static_cast<int>(n); }

ConnectError Failure(int code) {
  if (code == WSAECONNREFUSED) return {ConnectFailure::Refused, code};
  if (code == WSAETIMEDOUT) return {ConnectFailure::TimedOut, code};
  return {ConnectFailure::System, code};
}

bool IsResolverFailure(int rc) {
  return rc == WSAHOST_NOT_FOUND || rc == WSATRY_AGAIN || rc == WSANO_RECOVERY || rc == WSANO_DATA;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// What `s` is ready for within timeout_ms: the failure set counts as all
// that was asked for (the call that follows reports it). -1 on an error.
int Select(SOCKET s, unsigned want, int timeout_ms, unsigned& found) {
  found = 0;
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  if (want & kReadable) FD_SET(s, &readable);
  if (want & kWritable) FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (::select(0, &readable, &writable, &failed, &tv) == SOCKET_ERROR) return -1;
  if (FD_ISSET(s, &readable)) found |= kReadable;
  if (FD_ISSET(s, &writable)) found |= kWritable;
  if (FD_ISSET(s, &failed)) found |= want;
  return 0;
}

// Connects to one address within `deadline`: the socket, or INVALID_SOCKET
// with `error`.
SOCKET ConnectOne(const addrinfo& ai, Clock::time_point deadline, ConnectError& error) {
  const SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
  if (s == INVALID_SOCKET) {
    error = Failure(WSAGetLastError());
    return INVALID_SOCKET;
  }
  u_long non_blocking = 1;
  int code = ::ioctlsocket(s, FIONBIO, &non_blocking) == 0 ? 0 : WSAGetLastError();
  if (code == 0 && ::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS) {
      code = WSAETIMEDOUT;
      unsigned found = 0;
      while (code == WSAETIMEDOUT && Clock::now() < deadline) {
        if (Select(s, kWritable, RemainingMs(deadline), found) != 0) {
          code = WSAGetLastError();
        } else if (found != 0) {
          int so_error = 0;
          int len = sizeof so_error;
          code = ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) == 0
                     ? so_error
                     : WSAGetLastError();
          break;
        }
      }
    }
  }
  if (code != 0) {
    error = Failure(code);
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return s;
}

}  // namespace

int SystemCode(Errc errc) {
  switch (errc) {
    case Errc::InvalidArgument:
      return WSAEINVAL;
    case Errc::TimedOut:
      return WSAETIMEDOUT;
    case Errc::ConnectionReset:
      return WSAECONNRESET;
    case Errc::ProtocolNotSupported:
      return WSAEPROTONOSUPPORT;
  }
  return WSAEINVAL;
}

Stream::~Stream() { ::closesocket(Handle(handle_)); }

Moved Stream::Send(const void* data, size_t n) {
  return Result(::send(Handle(handle_), static_cast<const char*>(data), Chunk(n), 0), false);
}

Moved Stream::Receive(void* data, size_t n) {
  return Result(::recv(Handle(handle_), static_cast<char*>(data), Chunk(n), 0), true);
}

Moved Stream::ReceiveWaiting(void* data, size_t n, int timeout_ms) {
  int error = 0;
  if (Wait(kReadable, timeout_ms, error) == 0) return {0, false, error};
  return Receive(data, n);
}

unsigned Stream::Wait(unsigned want, int timeout_ms, int& error) {
  unsigned found = 0;
  error = Select(Handle(handle_), want, timeout_ms, found) == 0 ? 0 : WSAGetLastError();
  return found;
}

void Stream::ShutdownSend() { ::shutdown(Handle(handle_), SD_SEND); }

std::unique_ptr<Stream> Stream::Connect(const std::string& host, const std::string& port, int timeout_ms,
                                        ConnectError& error) {
  if (const int e = StartSockets(); e != 0) {
    error = {ConnectFailure::System, e};
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  // getaddrinfo's result is a Winsock code already.
  if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list); rc != 0) {
    error = {IsResolverFailure(rc) ? ConnectFailure::HostNotFound : ConnectFailure::System, rc};
    return nullptr;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  error = {ConnectFailure::HostNotFound, WSAHOST_NOT_FOUND};  // no address at all
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* ai = list; ai != nullptr && s == INVALID_SOCKET; ai = ai->ai_next)
    s = ConnectOne(*ai, deadline, error);
  ::freeaddrinfo(list);
  if (s == INVALID_SOCKET) return nullptr;
  error = {};
  return std::unique_ptr<Stream>(new Stream(static_cast<std::uintptr_t>(s)));
}

}  // namespace vk::net

// Stream sockets behind one small set of names, on POSIX and on Winsock.
//
// The RFC 2217 backend is written against these functions only, so its
// protocol code reads the same on both systems. Every socket made here is
// non-blocking for its whole life. Error codes are the platform's own:
// errno values on POSIX, WSAGetLastError values on Windows (the numbers the
// system's documentation lists for its socket calls).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vk::net {

#ifdef _WIN32
using Socket = SOCKET;
inline const Socket kNoSocket = INVALID_SOCKET;

constexpr int kErrInvalid = WSAEINVAL;
constexpr int kErrTimedOut = WSAETIMEDOUT;
constexpr int kErrConnReset = WSAECONNRESET;
constexpr int kErrNoHost = WSAHOST_NOT_FOUND;
constexpr int kErrIo = WSAECONNABORTED;
constexpr int kErrRefused = WSAEPROTONOSUPPORT;
#else
using Socket = int;
inline const Socket kNoSocket = -1;

constexpr int kErrInvalid = EINVAL;
constexpr int kErrTimedOut = ETIMEDOUT;
constexpr int kErrConnReset = ECONNRESET;
constexpr int kErrNoHost = ENXIO;
constexpr int kErrIo = EIO;
constexpr int kErrRefused = EPROTONOSUPPORT;
#endif

// The calls, alike on both systems:
//   StartSockets()            0, or the error that keeps sockets from working
//   OpenStream(...)           a non-blocking socket, or kNoSocket with `error`
//   Connect(...)              0, or -1 (LastError; IsConnectPending: wait for it)
//   Wait(s, want, ms, found)  >0 ready (what, in `found`), 0 time-out, -1 error
//   SendSome / ReceiveSome    bytes moved; 0 from ReceiveSome: the peer closed;
//                             -1: error (LastError; IsWouldBlock: try later)
//   ReceiveWaiting(s, ..., ms, installed)
//                             like ReceiveSome, but waits up to ms (> 0) for
//                             the first byte; -1 with IsWouldBlock: none came
//   PendingError(s)           how a non-blocking connect ended (0: connected)
//   ResolveError(rc)          a failed getaddrinfo as an error code

// What a wait asks for and what it found (several may be set at once).
enum WaitFlags : unsigned {
  kReadable = 1,
  kWritable = 2,
  kFailed = 4,
};

#ifdef _WIN32

// Winsock must be started once per process before its first call; the
// library stays up until the process ends.
inline int StartSockets() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

inline int LastError() { return WSAGetLastError(); }
inline bool IsInterrupted(int) { return false; }
inline bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }
inline bool IsConnectPending(int error) {
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

inline void Close(Socket s) { ::closesocket(s); }

// getaddrinfo's own result is already a socket error code here.
inline int ResolveError(int rc) { return rc; }

inline Socket OpenStream(int family, int type, int protocol, int& error) {
  const Socket s = ::socket(family, type, protocol);
  if (s == INVALID_SOCKET) {
    error = LastError();
    return kNoSocket;
  }
  u_long non_blocking = 1;
  if (::ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    error = LastError();
    ::closesocket(s);
    return kNoSocket;
  }
  return s;
}

inline int Connect(Socket s, const sockaddr* address, size_t length) {
  return ::connect(s, address, static_cast<int>(length));
}

inline long SendSome(Socket s, const void* data, size_t n) {
  const int chunk = n > 0x10000 ? 0x10000 : static_cast<int>(n);
  return ::send(s, static_cast<const char*>(data), chunk, 0);
}

inline long ReceiveSome(Socket s, void* data, size_t n) {
  const int chunk = n > 0x10000 ? 0x10000 : static_cast<int>(n);
  return ::recv(s, static_cast<char*>(data), chunk, 0);
}

inline void ShutdownSend(Socket s) { ::shutdown(s, SD_SEND); }

inline int Wait(Socket s, unsigned want, int timeout_ms, unsigned& found);

inline void KeepAfterConnect(Socket) {}

inline long ReceiveWaiting(Socket s, void* data, size_t n, int timeout_ms, int&) {
  unsigned found = 0;
  const int w = Wait(s, kReadable, timeout_ms, found);
  if (w <= 0) {
    if (w == 0) WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return ReceiveSome(s, data, n);
}

inline void SetNoDelay(Socket s) {
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

inline int PendingError(Socket s) {
  int so_error = 0;
  int len = sizeof so_error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) != 0)
    return LastError();
  return so_error;
}

// select() rather than WSAPoll: older WSAPoll never reports a refused
// non-blocking connect, which select() shows in its exception set.
inline int Wait(Socket s, unsigned want, int timeout_ms, unsigned& found) {
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
  const int n = ::select(0, &readable, &writable, &failed, &tv);
  if (n == SOCKET_ERROR) return -1;
  if (FD_ISSET(s, &readable)) found |= kReadable;
  if (FD_ISSET(s, &writable)) found |= kWritable;
  if (FD_ISSET(s, &failed)) found |= kFailed;
  return n;
}

#else  // POSIX

inline int StartSockets() { return 0; }

inline int LastError() { return errno; }
inline bool IsInterrupted(int error) { return error == EINTR; }
inline bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
inline bool IsConnectPending(int error) { return error == EINPROGRESS || error == EINTR; }

inline void Close(Socket s) { ::close(s); }

// The error code for a failed getaddrinfo: a system error as such, any other
// failure as "no such host".
inline int ResolveError(int rc) { return rc == EAI_SYSTEM ? errno : kErrNoHost; }

inline Socket OpenStream(int family, int type, int protocol, int& error) {
  const Socket s = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (s < 0) error = errno;
  return s < 0 ? kNoSocket : s;
}

inline int Connect(Socket s, const sockaddr* address, size_t length) {
  return ::connect(s, address, static_cast<socklen_t>(length));
}

// Once connected the socket itself blocks, and every call but
// ReceiveWaiting asks not to: a waiting read is then one system call.
inline void KeepAfterConnect(Socket s) { ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK); }

inline long SendSome(Socket s, const void* data, size_t n) {
  // A peer that has gone must give an error, not a signal.
  return static_cast<long>(::send(s, data, n, MSG_NOSIGNAL | MSG_DONTWAIT));
}

inline long ReceiveSome(Socket s, void* data, size_t n) {
  return static_cast<long>(::recv(s, data, n, MSG_DONTWAIT));
}

// `installed` remembers the receive time-out last set, so it is set only
// when it changes.
inline long ReceiveWaiting(Socket s, void* data, size_t n, int timeout_ms, int& installed) {
  if (timeout_ms != installed) {
    const timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return -1;
    installed = timeout_ms;
  }
  return static_cast<long>(::recv(s, data, n, 0));
}

inline void ShutdownSend(Socket s) { ::shutdown(s, SHUT_WR); }

inline void SetNoDelay(Socket s) {
  const int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

inline int PendingError(Socket s) {
  int so_error = 0;
  socklen_t len = sizeof so_error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return errno;
  return so_error;
}

inline int Wait(Socket s, unsigned want, int timeout_ms, unsigned& found) {
  found = 0;
  pollfd p{s, 0, 0};
  if (want & kReadable) p.events |= POLLIN;
  if (want & kWritable) p.events |= POLLOUT;
  const int n = ::poll(&p, 1, timeout_ms);
  if (n < 0) return -1;
  if (p.revents & POLLIN) found |= kReadable;
  if (p.revents & POLLOUT) found |= kWritable;
  if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) found |= kFailed;
  return n;
}

#endif

}  // namespace vk::net

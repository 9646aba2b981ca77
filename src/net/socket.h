// Stream sockets behind one small interface: socket_posix.cpp (BSD sockets)
// and socket_win32.cpp (Winsock) implement it, and CMake builds the one of
// the platform. No system header reaches an includer.
//
// Nothing here waits unless its name says so. Error codes are the system's
// own: errno values on POSIX, Winsock codes on Windows (the numbers the
// tools' messages print).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vk::net {

// Failures the protocol code finds itself, and the system's code for each.
enum class Errc { InvalidArgument, TimedOut, ConnectionReset, ProtocolNotSupported };
int SystemCode(Errc errc);

// Why a connection could not be made, beside the system's code. A host name
// that does not resolve has no code of the system's on POSIX; it gets ENXIO
// there (Windows: the resolver's own code).
enum class ConnectFailure { HostNotFound, Refused, TimedOut, System };
struct ConnectError {
  ConnectFailure reason = ConnectFailure::System;
  int code = 0;
};

// What a wait asks for and what it found (both may be set).
enum WaitFor : unsigned { kReadable = 1, kWritable = 2 };

// What one transfer did: moved `bytes` (> 0); or found the peer's end of
// the stream (`closed`, receives only); or failed (`error`); or, with none
// of these, found nothing to move now (no room, no data, or a signal came).
struct Moved {
  size_t bytes = 0;
  bool closed = false;
  int error = 0;
};

class Stream {
 public:
  ~Stream();  // closes the socket
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  Moved Send(const void* data, size_t n);
  Moved Receive(void* data, size_t n);
  // As Receive, but waits up to timeout_ms for the first byte: one system
  // call where the system allows.
  Moved ReceiveWaiting(void* data, size_t n, int timeout_ms);
  // Waits up to timeout_ms for any of `want` and returns what it found: 0
  // after the time-out or a signal, or on a failure (with `error` set).
  unsigned Wait(unsigned want, int timeout_ms, int& error);
  // Ends our direction: the peer reads the end of the stream.
  void ShutdownSend();

  // A connected stream to HOST:PORT (a name or a numeric address; IPv6
  // without brackets), each address tried in turn, all within timeout_ms;
  // with TCP_NODELAY, so every send goes out at once. Null with `error`.
  static std::unique_ptr<Stream> Connect(const std::string& host, const std::string& port, int timeout_ms,
                                         ConnectError& error);

 private:
  explicit Stream(std::uintptr_t handle) : handle_(handle) {}

  std::uintptr_t handle_;        // the system's socket
  int receive_timeout_ms_ = -1;  // as last set on the socket (POSIX)
};

}  // namespace vk::net

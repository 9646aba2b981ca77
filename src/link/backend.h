// The port backends behind the serial link (link.h).
//
// The link owns the messages, the ways out and the line state; a backend
// only moves bytes and lines on one platform and reports a failure as the
// platform's error code (errno on POSIX systems). Each operation is one
// thing the link needs; where one operation is several platform
// steps (Prepare), the failing step is reported so the link can name it.
//
// Backends: termios (serial devices on POSIX systems), Win32 (communications
// devices on Windows), RFC 2217 (rfc2217://HOST:PORT, on both).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vk::link {

// The two rates the board's monitor listens at.
constexpr int kBaudLow = 38400;
constexpr int kBaudHigh = 115200;

// The part of the line settings the tools change after the open; everything
// else (8 data bits, no parity, one stop bit, no XON/XOFF, DTR off) is fixed
// and applied by the backend on every WriteSettings.
struct LineState {
  int baud = kBaudHigh;
  bool handshake = false;  // RTS/CTS hardware handshake
};

// The steps of the preparation right after the open, in their order.
enum class PrepareStep { QueueSizes, Purge, Timeouts };

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  // Once, right after the open: driver queue sizes, both directions
  // discarded, read and write time-outs. Returns 0, or the error with
  // `failed` naming the step. Where only the discard is a step of its own,
  // that is all it does.
  virtual int Prepare(PrepareStep& failed) {
    failed = PrepareStep::Purge;
    return Purge();
  }
  // Discards what waits in both directions.
  virtual int Purge() = 0;
  // Reads the line settings as the driver holds them.
  virtual int ReadSettings(LineState& state) = 0;
  // Writes the line settings whole.
  virtual int WriteSettings(const LineState& state) = 0;
  virtual int SetRts(bool on) = 0;
  virtual int ReadCts(bool& on) = 0;
  // Writes bytes; what cannot leave within the write time-out is dropped
  // without an error.
  virtual int Write(const uint8_t* data, size_t n) = 0;
  // Reads up to n bytes into data, each place waiting at most timeout_ms
  // from the byte before it (from the call, for the first; a backend that
  // looks at its input every few byte times counts from when it saw that
  // byte). Returns with got == n, or with got < n when the byte for
  // data[got] did not come in time; data[got] and the places after it are
  // untouched. A peer that went away is an error, not a time-out.
  virtual int Read(uint8_t* data, size_t n, int timeout_ms, size_t& got) = 0;
  // True when at least one received byte waits; never blocks.
  virtual bool InputPending() = 0;
};

// Why an open failed. The diagnostics choose their words by it.
enum class OpenFailure {
  System,             // a system call failed: `code` says why
  BadUrl,             // not rfc2217://HOST:PORT
  HostNotFound,       // the host name does not resolve
  ConnectionRefused,  // nothing listens at HOST:PORT
  TimedOut,           // no connection, or no agreement to the COM port option, in time
  ComPortRefused,     // the server refused the COM port option
  ClosedByServer,     // the server closed the connection
};

// A failed open: why, the code "Open Of %s Failed: %d" prints (the
// system's; where the failure is none of the system's, the system's code of
// the same name, as EINVAL for a bad URL), and what a network serial server
// said before it refused or closed.
struct OpenError {
  OpenFailure reason = OpenFailure::System;
  int code = 0;
  std::string server_text;
};

// Opens the device or URL named `name`: rfc2217://HOST:PORT selects the
// network backend, anything else the local serial device (OpenLocalPort).
// On failure returns null and fills `error`.
std::unique_ptr<PortBackend> OpenBackend(const std::string& name, OpenError& error);

// The platform's local serial device, a device path on POSIX systems, on
// Windows a device name such as COM3 or \\.\COM12, used as given
// (termios_port.cpp, win32_port.cpp: each built only on its own platform).
std::unique_ptr<PortBackend> OpenLocalPort(const std::string& name, int& error);
std::unique_ptr<PortBackend> OpenTermiosPort(const std::string& path, int& error);
std::unique_ptr<PortBackend> OpenWin32Port(const std::string& name, int& error);
std::unique_ptr<PortBackend> OpenRfc2217Port(const std::string& url, OpenError& error);

}  // namespace vk::link

// The port backends behind the serial routines of port.h.
//
// port.cpp owns the messages, the exit paths and the one control-block copy;
// a backend only moves bytes and lines on one platform and reports failures
// as a platform error code (errno here, GetLastError on Windows). Each
// operation mirrors one platform step of the serial routines, so a failing
// step is reported under the name of that step.
//
// Backends: termios (serial devices on POSIX systems), Win32 (communications
// devices on Windows), RFC 2217 (rfc2217://HOST:PORT, on both).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vk::link {

// The part of the line settings the tools change after the open; everything
// else (8 data bits, no parity, one stop bit, no XON/XOFF, DTR off) is fixed
// and applied by the backend on every SetState.
struct LineState {
  int baud = 115200;
  bool handshake = false;  // RTS/CTS hardware handshake
};

enum class ReadResult { Byte, Timeout };

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  // Driver queue sizes (SetupComm).
  virtual int SetupQueues() = 0;
  // Discard both directions (PurgeComm with all four flags).
  virtual int Purge() = 0;
  // Install the read/write time-outs (SetCommTimeouts).
  virtual int SetTimeouts() = 0;
  // Read the line settings from the driver (GetCommState).
  virtual int GetState(LineState& state) = 0;
  // Write the line settings whole (SetCommState).
  virtual int SetState(const LineState& state) = 0;
  // Drive RTS (EscapeCommFunction SETRTS/CLRRTS).
  virtual int SetRts(bool on) = 0;
  // Read CTS (GetCommModemStatus).
  virtual int GetCts(bool& on) = 0;
  // Write bytes; a byte that cannot leave within the write time-out is
  // dropped without an error.
  virtual int Write(const uint8_t* data, size_t n) = 0;
  // Read one byte, waiting at most timeout_ms. A peer that went away is an
  // error, not a time-out.
  virtual int ReadByte(uint8_t& byte, int timeout_ms, ReadResult& result) = 0;
  // Read up to n bytes into data: the same bytes in the same places as n
  // ReadByte calls, taken several at a time where the backend can. Returns
  // with got == n, or with got < n when the byte for data[got] did not come
  // within timeout_ms of the one before it (of the call, for the first; a
  // backend that looks at its input every few byte times counts from when
  // it saw that byte); data[got] and the places after it are untouched.
  virtual int ReadBlock(uint8_t* data, size_t n, int timeout_ms, size_t& got) {
    got = 0;
    while (got < n) {
      uint8_t byte = 0;
      ReadResult result = ReadResult::Timeout;
      if (int e = ReadByte(byte, timeout_ms, result)) return e;
      if (result == ReadResult::Timeout) return 0;
      data[got++] = byte;
    }
    return 0;
  }
  // True when at least one received byte waits; never blocks (ClearCommError).
  virtual bool InputPending() = 0;
};

// Opens the device or URL named `name`: rfc2217://HOST:PORT selects the
// network backend, anything else the local serial device (a device path on
// POSIX systems; on Windows a device name such as COM3 or \\.\COM12, used
// as given). On failure returns null and sets `error`.
std::unique_ptr<PortBackend> OpenBackend(const std::string& name, int& error);

// Each built only on its own platform.
std::unique_ptr<PortBackend> OpenTermiosPort(const std::string& path, int& error);
std::unique_ptr<PortBackend> OpenWin32Port(const std::string& name, int& error);
std::unique_ptr<PortBackend> OpenRfc2217Port(const std::string& url, int& error);

}  // namespace vk::link

// Serial link: the one serial port of a run.
//
// How a run uses it: OpenPort once with the port number and the stored baud
// rate; ConnectTarget (connect.h) pulses RTS, waits for CTS and finds the
// rate; then every command exchange is Transmit / ReceiveWait byte by byte
// (TransmitBlock / ReceiveBlock for the flash loader's fast mode). At the
// end ExitTool puts the handshake and RTS back to rest.
//
// A failure prints the routine's message on standard output and ends the
// run with exit code 2 (ending.h), either directly or through ExitTool (the
// table in link.cpp). A time-out is not a failure for ReceiveBlock (the
// place whose byte is late, and those after it, keep their content); for
// ReceiveWait it is: the target did not answer, so the run ends through
// ExitTool.
//
// Port numbers 1 to 4 name COM1..COM4; any other number is COM1. COMn opens
// the device or rfc2217:// URL in the environment variable VK_COMn when it is
// set, else the platform's default device (port_names.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/backend.h"
#include "link/ending.h"
#include "link/wire_trace.h"

namespace vk::link {

constexpr int kReadTimeoutMs = 2000;
constexpr int kWriteTimeoutMs = 100;
constexpr int kQueueSize = 4096;

// What made the link fail, for the diagnostics on standard error.
struct LinkFailure {
  std::string device;       // the device or URL
  int port = 1;             // the COM port number it stands for
  int code = 0;             // the system's error code; 0 for a read time-out
  bool opening = false;     // the device or server could not be had at all
  OpenFailure reason = OpenFailure::System;  // why, when opening
  std::string server_text;  // what a network serial server said, if anything
};

// Opens the device or URL a port stands for: OpenBackend for the programs;
// a test hands the link a line of its own.
using BackendOpener = std::function<std::unique_ptr<PortBackend>(const std::string& name, OpenError& error)>;

class Link {
 public:
  explicit Link(BackendOpener open = OpenBackend);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // From here on every byte and line operation is recorded in `path`
  // (before OpenPort). False when the file cannot be written; the run then
  // goes on unrecorded.
  bool RecordTo(const std::string& path, const std::string& header);

  void OpenPort(int port, int baud);
  bool IsOpen() const { return port_ != nullptr; }
  // The device or URL of the port, and the COM port number it stands for
  // (once OpenPort has been called).
  const std::string& device() const { return device_; }
  int port() const { return port_number_; }
  // Set once a routine has failed.
  const std::optional<LinkFailure>& failure() const { return failure_; }

  void SetBaudRate(int baud);
  void EnableAuto_RTS_CTS(int on);
  void SetRtsSignal(int level);
  int CTSSignalSet();
  void Transmit(int byte);
  // Transmit of each byte in turn, handed to the port in one write: the same
  // bytes on the line without a system call per byte. A failure is reported
  // as Transmit's.
  void TransmitBytes(const uint8_t* data, int length);
  void TransmitBlock(const uint8_t* data, int length);
  char ReceiveWait();
  // One byte if it comes within timeout_ms; false, and no message, when
  // none does. A failure of the port is ReceiveWait's.
  bool ReceiveWithin(int timeout_ms, uint8_t& byte);
  void ReceiveBlock(uint8_t* buffer, int length);
  int RxPending();

  // Puts the handshake and RTS back to rest when the port is open and
  // returns the code the process ends with: `code`, or 2 when a line step
  // failed (its message printed).
  int ExitTool(int code) noexcept;

  // Lets go of the port (a network serial server is told) and ends the
  // recording.
  void Close();

  // True for the session's first command byte only: the monitor may send
  // its 7F fillers before that one echo.
  bool TakeFirstCommand();

 private:
  PortBackend& Port();
  // Ends the run when an interrupt has come (interrupt.h), but not while
  // ExitTool puts the lines to rest.
  void CheckInterruption() const;
  // Prints the routine's message (when given), keeps what failed and ends
  // the run.
  [[noreturn]] void Fail(const char* format, int error, Leave leave, bool opening = false, OpenError why = {});

  BackendOpener open_;
  std::unique_ptr<WireTrace> trace_;  // before port_: it outlives the port
  std::unique_ptr<PortBackend> port_;
  // The link's copy of the line settings. OpenPort and SetBaudRate refill it
  // from the driver; EnableAuto_RTS_CTS changes it in memory only.
  LineState state_;
  bool first_command_ = true;
  bool ending_ = false;  // ExitTool at work
  std::string device_;
  int port_number_ = 1;
  std::optional<LinkFailure> failure_;
};

void SleepMs(int ms);

}  // namespace vk::link

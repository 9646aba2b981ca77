#include "link/diagnose.h"

#include <cstdio>
#include <string>

#include "link/port_names.h"

namespace vk::link {
namespace {

void Say(const std::string& program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
}

std::string SyncText(uint8_t sync_byte) {
  char sync[8];
  std::snprintf(sync, sizeof sync, "0x%02X", sync_byte);
  return sync;
}

// Starts what follows on a line of its own when the stars of the wait are
// still open on a shared terminal.
void NewLineAfterStars(bool stars_open) {
  if (stars_open) std::fputc('\n', stderr);
}

// The device or URL, the port it stands for, and how VK_COMn stands.
std::string PortDescription(const std::string& device, int port) {
  const char* how = "";
  switch (PortVariable(port)) {
    case PortMapping::Set:
      return device + " (COM" + std::to_string(port) + ")";
    case PortMapping::Empty:
      how = " empty";
      break;
    case PortMapping::Unset:
      how = " not set";
      break;
  }
  return device + " (COM" + std::to_string(port) + ", " + PortVariableName(port) + how + ")";
}

// What went wrong: the system's words for its code, unless the failure is
// none of the system's.
std::string WhatFailed(const LinkFailure& f) {
  if (f.opening && f.reason == OpenFailure::HostNotFound) return "host not found";
  return SystemText(f.code);
}

// A network serial server that could not be had, by why.
std::string ServerOpenHint(const LinkFailure& f) {
  switch (f.reason) {
    case OpenFailure::ComPortRefused:
      return "the server refused the COM port option (RFC 2217); a ser2net accepter must read "
             "telnet(rfc2217),tcp(nodelay),...";
    case OpenFailure::TimedOut:
      return "no RFC 2217 server agreed within 3 s; is " + f.device + " a serial server's RFC 2217 port?";
    case OpenFailure::ClosedByServer:
      return "the server closed the connection at once: its port may be in use, or its device not openable";
    case OpenFailure::BadUrl:
      return "the URL must read rfc2217://HOST:PORT";
    case OpenFailure::HostNotFound:
      return "the server's host name could not be found";
    case OpenFailure::ConnectionRefused:
      return "nothing listens there: is the serial server running, on that port?";
    case OpenFailure::System:
      break;
  }
  return "";
}

// A session through a network serial server that ended early.
std::string ServerSessionHint(const LinkFailure& f) {
  return f.code == 0 ? "the board stopped answering behind the server" : "the connection to the server broke off";
}

// What is likely to help: what the server said, if anything, else words
// chosen by the kind of port and the failure.
std::string Hint(const LinkFailure& f) {
  if (f.opening && LooksLikeNetworkAddress(f.device))
    return f.device + " is no serial device; for a network serial server write " + PortVariableName(f.port) +
           "=rfc2217://HOST:PORT";
  if (!IsRfc2217Url(f.device)) return LocalDeviceHint(f);
  if (!f.server_text.empty()) return "the server said: \"" + f.server_text + "\"";
  return f.opening ? ServerOpenHint(f) : ServerSessionHint(f);
}

}  // namespace

void PrintDiagnosis(const std::string& program, const LinkFailure& failure) {
  if (failure.code != 0) Say(program, failure.device + ": " + WhatFailed(failure));
  const std::string hint = Hint(failure);
  if (!hint.empty()) Say(program, hint);
}

std::string EchoDelayHint(bool network, const std::optional<LatencyTimer>& timer, double line_ms, double echo_ms) {
  const double late_ms = echo_ms - line_ms;
  if (timer) {
    // A timer of T ms holds the echo up to T ms; at 1 ms it is as low as it goes.
    if (timer->ms > 1 && late_ms > 1.0)
      return "the USB adapter's latency timer is " + std::to_string(timer->ms) + " ms (" + timer->file +
             "); set it to 1 ms: echo 1 | sudo tee " + timer->file;
    if (late_ms < kSlowEchoMs) return "";
    return "the USB adapter's latency timer is already 1 ms, its lowest; the delay lies elsewhere (the USB "
           "host, the system's load, or the board)";
  }
  if (late_ms < kSlowEchoMs) return "";
  if (network)
    return "a network serial server holds bytes back (character delay, Nagle); with ser2net use the "
           "accepter telnet(rfc2217),tcp(nodelay),... and the option chardelay: false";
  return "the serial driver, the adapter or the system holds received bytes back";
}

void PrintEchoTiming(const std::string& program, const std::string& device, int baud, double echo_ms) {
  // One byte out and its echo back: 20 bit times.
  const double line_ms = 20'000.0 / baud;
  char text[160];
  std::snprintf(text, sizeof text, "the sync echo came back after %.1f ms (the line needs %.1f ms at %d baud)",
                echo_ms, line_ms, baud);
  Say(program, text);
  const bool network = IsRfc2217Url(device);
  const std::string hint =
      EchoDelayHint(network, network ? std::nullopt : AdapterLatencyTimer(device), line_ms, echo_ms);
  if (!hint.empty()) Say(program, hint);
}

void PrintWaitHint(const std::string& program, const std::string& device, bool cts, uint8_t sync_byte,
                   bool stars_open) {
  NewLineAfterStars(stars_open);
  Say(program, cts ? "waiting for the board on " + device + " to raise CTS; a key press ends the wait"
                   : "waiting for the board on " + device + " to echo the sync byte " + SyncText(sync_byte) +
                         " at " + std::to_string(kBaudHigh) + " or " + std::to_string(kBaudLow) +
                         " baud; a key press ends the wait");
}

void PrintKeyPressEnded(const std::string& program, bool stars_open) {
  NewLineAfterStars(stars_open);
  Say(program, "a key press ended the wait for the board");
}

void PrintNeverCame(const std::string& program, const std::string& device, int port, bool cts, uint8_t sync_byte) {
  Say(program, "no answer on " + PortDescription(device, port) + ": " +
                   (cts ? "the board never raised CTS after the RTS pulse"
                        : "the sync byte " + SyncText(sync_byte) + " never came back, neither at " +
                              std::to_string(kBaudHigh) + " nor at " + std::to_string(kBaudLow) + " baud"));
}

void PrintEmptyPortVariable(const std::string& program, int port) {
  port = NormalisePortNumber(port);
  if (PortVariable(port) != PortMapping::Empty) return;
  Say(program, PortVariableName(port) + " is set but empty, which counts as not set: COM" + std::to_string(port) +
                   " is " + DefaultDeviceName(port));
}

}  // namespace vk::link

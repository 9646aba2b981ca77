#include "link/diagnose.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/port_names.h"
#include "link/socket_shim.h"
#include "ports/devices.h"

namespace vk::link {
namespace {

void Say(const std::string& program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
}

std::string SystemText(int code) {
#ifdef _WIN32
  return "system error " + std::to_string(code);
#else
  return std::strerror(code);
#endif
}

std::string Hint(const LinkFailure& f) {
  const std::string& dev = f.device;
  const std::string var = "VK_COM" + std::to_string(f.port);
  if (IsRfc2217Url(dev)) {
    if (!f.server_text.empty()) return "the server said: \"" + f.server_text + "\"";
    if (!f.opening) {
      return f.code == 0 ? "the board stopped answering behind the server"
                         : "the connection to the server broke off";
    }
    switch (f.code) {
      case net::kErrRefused:
        return "the server refused the COM port option (RFC 2217); a ser2net accepter must read "
               "telnet(rfc2217),tcp(nodelay),...";
      case net::kErrTimedOut:
        return "no RFC 2217 server agreed within 3 s; is " + dev + " a serial server's RFC 2217 port?";
      case net::kErrConnReset:
        return "the server closed the connection at once: its port may be in use, or its device not openable";
      case net::kErrInvalid:
        return "the URL must read rfc2217://HOST:PORT";
      case net::kErrNoHost:
        return "the server's host name could not be found";
      default:
        break;
    }
#ifndef _WIN32
    if (f.code == ECONNREFUSED) return "nothing listens there: is the serial server running, on that port?";
#endif
    return "";
  }
#ifndef _WIN32
  if (!f.opening) {
    if (f.code == ENOTTY || f.code == EINVAL) return dev + " has no modem lines the tools can drive (RTS, CTS)";
    if (f.code == EIO) return dev + " went away (unplugged?)";
    if (f.code == 0) return "the board stopped answering";
    return "";
  }
  if (f.code == EACCES || f.code == EPERM) {
    const auto who = ports::OwnershipOf(dev);
    if (!who) return "";
    return dev + " is " + who->mode + " " + who->owner + ":" + who->group + "; to use it, join the group: " +
           "sudo usermod -aG " + who->group + " $USER (then log in again)";
  }
  if (f.code == EBUSY || f.code == EWOULDBLOCK) {
    std::error_code ec;
    const std::string real = std::filesystem::canonical(dev, ec).string();
    std::string holders;
    for (const ports::Holder& h : ports::HoldersOf("", ec ? dev : real))
      holders += (holders.empty() ? "" : ", ") + std::to_string(h.pid) + " (" + h.comm + ")";
    return holders.empty() ? dev + " is in use by another program" : dev + " is in use by process " + holders;
  }
  if (f.code == ENOENT || f.code == ENODEV || f.code == ENXIO) {
    std::string found;
    for (const ports::SerialDevice& d : ports::SerialDevices("")) {
      if (d.no_uart || !d.exists) continue;
      const std::string name = d.by_id.empty() ? d.path : d.by_id.front() + " (" + d.path + ")";
      found += (found.empty() ? "" : ", ") + name;
    }
    if (found.empty())
      return "no serial device found here; map COM" + std::to_string(f.port) + " with " + var +
             "=DEVICE or " + var + "=rfc2217://HOST:PORT (vkports lists what there is)";
    return "serial devices here: " + found + "; map one with " + var + "=DEVICE (vkports tells more)";
  }
#endif
  return "";
}

}  // namespace

void PrintDiagnosis(const std::string& program, const LinkFailure& failure) {
  if (failure.code != 0) Say(program, failure.device + ": " + SystemText(failure.code));
  const std::string hint = Hint(failure);
  if (!hint.empty()) Say(program, hint);
}

void PrintEchoTiming(const std::string& program, const std::string& device, int baud, double echo_ms) {
  // One byte out and its echo back: 20 bit times.
  const double line_ms = 20'000.0 / baud;
  char text[160];
  std::snprintf(text, sizeof text, "the sync echo came back after %.1f ms (the line needs %.1f ms at %d baud)",
                echo_ms, line_ms, baud);
  Say(program, text);
  if (echo_ms < line_ms + kSlowEchoMs) return;
  if (IsRfc2217Url(device)) {
    Say(program, "a network serial server holds bytes back (character delay, Nagle); with ser2net use the "
                 "accepter telnet(rfc2217),tcp(nodelay),... and the option chardelay: false");
    return;
  }
#ifndef _WIN32
  std::error_code ec;
  const std::string real = std::filesystem::canonical(device, ec).string();
  for (const ports::SerialDevice& d : ports::SerialDevices("")) {
    if (d.path != real || d.latency_file.empty()) continue;
    Say(program, "the USB adapter's latency timer is " + std::to_string(d.latency_ms) + " ms (" + d.latency_file +
                     "); set it to 1 ms: echo 1 | sudo tee " + d.latency_file);
    return;
  }
#endif
  Say(program, "the serial driver or adapter holds received bytes back; vkports shows its latency timer");
}

void PrintWaitHint(const std::string& program, const std::string& device, bool cts, uint8_t sync_byte) {
  char sync[8];
  std::snprintf(sync, sizeof sync, "0x%02X", sync_byte);
  Say(program, cts ? "waiting for the board on " + device + " to raise CTS; a key press ends the wait"
                   : "waiting for the board on " + device + " to echo the sync byte " + sync +
                         " at 115200 or 38400 baud; a key press ends the wait");
}

}  // namespace vk::link

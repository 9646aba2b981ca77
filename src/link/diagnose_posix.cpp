// The diagnostics' POSIX part: the system's words for errno values, and
// what helps with a local serial device (Linux device discovery).
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "link/diagnose.h"
#include "ports/devices.h"

namespace vk::link {
namespace {

std::string RealPath(const std::string& device) {
  std::error_code ec;
  const std::string real = std::filesystem::canonical(device, ec).string();
  return ec ? device : real;
}

// A device this user may not open: its owner and the group to join.
std::string PermissionHint(const std::string& device) {
  const auto who = ports::OwnershipOf(device);
  if (!who) return "";
  return device + " is " + who->mode + " " + who->owner + ":" + who->group + "; to use it, join the group: " +
         "sudo usermod -aG " + who->group + " $USER (then log in again)";
}

// A device another program has: which processes hold it (the one place
// besides vkports that walks /proc).
std::string BusyHint(const std::string& device) {
  std::string holders;
  for (const ports::Holder& h : ports::HoldersOf("", RealPath(device)))
    holders += (holders.empty() ? "" : ", ") + std::to_string(h.pid) + " (" + h.comm + ")";
  return holders.empty() ? device + " is in use by another program" : device + " is in use by process " + holders;
}

// A device that is not there: the serial devices that are, and how to map
// one to the port.
std::string MissingDeviceHint(int port) {
  const std::string var = "VK_COM" + std::to_string(port);
  std::string found;
  for (const ports::SerialDevice& d : ports::SerialDevices("")) {
    if (d.no_uart || !d.exists) continue;
    const std::string name = d.by_id.empty() ? d.path : d.by_id.front() + " (" + d.path + ")";
    found += (found.empty() ? "" : ", ") + name;
  }
  if (found.empty())
    return "no serial device found here; map COM" + std::to_string(port) + " with " + var + "=DEVICE or " + var +
           "=rfc2217://HOST:PORT (vkports lists what there is)";
  return "serial devices here: " + found + "; map one with " + var + "=DEVICE (vkports tells more)";
}

// A port that names something other than a character device.
std::string NotSerialHint(const std::string& device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0 || S_ISCHR(st.st_mode)) return "";
  const char* kind = S_ISDIR(st.st_mode)    ? "a directory"
                     : S_ISREG(st.st_mode)  ? "a regular file"
                     : S_ISFIFO(st.st_mode) ? "a FIFO"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                                            : "no character device";
  return device + " is not a serial device (it is " + kind + ")";
}

// A local device that failed during the session.
std::string SessionHint(const LinkFailure& f) {
  if (f.code == ENOTTY || f.code == EINVAL) return f.device + " has no modem lines the tools can drive (RTS, CTS)";
  if (f.code == EIO) return f.device + " went away (unplugged?)";
  if (f.code == 0) return "the board stopped answering";
  return "";
}

}  // namespace

std::string SystemText(int code) { return std::strerror(code); }

std::string LocalDeviceHint(const LinkFailure& f) {
  if (!f.opening) return SessionHint(f);
  if (std::string hint = NotSerialHint(f.device); !hint.empty()) return hint;
  if (f.code == EACCES || f.code == EPERM) return PermissionHint(f.device);
  if (f.code == EBUSY || f.code == EWOULDBLOCK) return BusyHint(f.device);
  if (f.code == ENOENT || f.code == ENODEV || f.code == ENXIO) return MissingDeviceHint(f.port);
  return "";
}

std::optional<LatencyTimer> AdapterLatencyTimer(const std::string& device) {
  const std::string real = RealPath(device);
  for (const ports::SerialDevice& d : ports::SerialDevices(""))
    if (d.path == real && !d.latency_file.empty() && d.latency_ms >= 0) return LatencyTimer{d.latency_ms, d.latency_file};
  return std::nullopt;
}

}  // namespace vk::link

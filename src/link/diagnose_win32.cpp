// The diagnostics' Windows part: the system's words for its codes
// (FormatMessage), and what helps with a local communications device.
#include <windows.h>

#include <string>

#include "link/diagnose.h"
#include "link/text_win32.h"
#include "ports/comports.h"

namespace vk::link {
namespace {

// A port another program has open: Windows gives a communications device
// to one process at a time.
std::string BusyHint(const std::string& device) {
  return device + " is open in another program (a terminal, another tool, a modem or synchronisation service); "
                  "close it there and try again";
}

// A port that is not there: the ports that are, and how to map one.
std::string MissingPortHint(int port) {
  const std::string var = "VK_COM" + std::to_string(port);
  std::string found;
  std::string likely;  // a USB adapter's port, else the first
  bool likely_usb = false;
  for (const ports::MachinePort& p : ports::MachinePorts()) {
    if (p.managed && !p.ready) continue;
    found += (found.empty() ? "" : ", ") + p.name + (p.friendly.empty() ? "" : " (" + p.friendly + ")");
    if (likely.empty() || (!likely_usb && !p.usb_id.empty())) {
      likely = p.name;
      likely_usb = !p.usb_id.empty();
    }
  }
  if (found.empty())
    return "no COM port found here; map COM" + std::to_string(port) + " with " + var + "=\\\\.\\COMn or " + var +
           "=rfc2217://HOST:PORT (vkports lists what there is)";
  return "COM ports here: " + found + "; map one with " + var + "=\\\\.\\" + likely + " (vkports tells more)";
}

// A port that names a folder or a file by its path ("" for anything else:
// device names such as COM1 or \\.\COM12 are not looked at, as the file
// system answers for them with made-up attributes).
std::string NotSerialHint(const std::string& device) {
  if (device.rfind(R"(\\)", 0) == 0 || device.find_first_of(R"(\/)") == std::string::npos) return "";
  const DWORD attributes = GetFileAttributesW(Wide(device).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE)) return "";
  return device + " is not a serial port (it is " +
         ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? "a folder" : "a file") + ")";
}

// A local device that failed during the session.
std::string SessionHint(const LinkFailure& f) {
  switch (f.code) {
    case 0:
      return "the board stopped answering";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE:
      return f.device + " has no modem lines the tools can drive (RTS, CTS)";
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return f.device + " went away (unplugged?)";
    default:
      return "";
  }
}

}  // namespace

std::string SystemText(int code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = n > 0 && text ? std::wstring(text, n) : L"";
  if (text) LocalFree(text);
  // One line, as strerror gives it: no line end, no full stop.
  while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' ||
                            words.back() == L'.'))
    words.pop_back();
  if (words.empty()) return "system error " + std::to_string(code);
  return Narrow(words) + " (" + std::to_string(code) + ")";
}

std::string LocalDeviceHint(const LinkFailure& f) {
  if (!f.opening) return SessionHint(f);
  if (std::string hint = NotSerialHint(f.device); !hint.empty()) return hint;
  switch (f.code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return BusyHint(f.device);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return MissingPortHint(f.port);
    case ERROR_INVALID_FUNCTION:  // it opened, but takes no serial settings
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_SUPPORTED:
      return f.device + " takes no serial line settings: it is no serial port, or its driver lacks them";
    default:
      return "";
  }
}

std::optional<LatencyTimer> AdapterLatencyTimer(const std::string&) { return std::nullopt; }

}  // namespace vk::link

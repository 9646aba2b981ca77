// What both platforms' reports share: COM1..COM4 as mapped, and their lines.
#include "tools/vkports/report.h"

#include <algorithm>

#include "link/port_names.h"

namespace vk::vkports {

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

ComPort Mapping(int number, const char* value) {
  ComPort port;
  port.number = number;
  port.mapped = value && *value;
  port.name = port.mapped ? value : link::DefaultDeviceName(number);
  port.url = link::IsRfc2217Url(port.name);
  return port;
}

std::string MappingLines(const std::string& defaults, const std::vector<ComPort>& coms,
                         const std::function<std::string(const ComPort&)>& device_state) {
  std::string out = "COM ports (VK_COM1..VK_COM4, else " + defaults + "):\n";
  size_t width = 0;
  for (const ComPort& port : coms) width = std::max(width, port.name.size());
  for (const ComPort& port : coms) {
    const std::string n = std::to_string(port.number);
    out += "  COM" + n + "  " + Pad(port.name, width) + "  " + (port.mapped ? "VK_COM" + n : "default") + ", " +
           (port.url ? "RFC 2217 server (not contacted)" : device_state(port)) + "\n";
  }
  return out;
}

}  // namespace vk::vkports

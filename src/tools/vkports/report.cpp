#include "tools/vkports/report.h"

#include <algorithm>
#include <filesystem>
#include <optional>


namespace vk::vkports {

std::vector<ComPort> ComPorts(const std::string& root, const std::array<const char*, 4>& values) {
  std::vector<ComPort> coms;
  for (int n = 1; n <= 4; ++n) {
    ComPort port = Mapping(n, values[n - 1]);
    if (!port.url) {
      std::string logical = port.name;
      if (logical[0] != '/') {
        std::error_code ec;
        logical = std::filesystem::current_path(ec).string() + "/" + logical;
      }
      const std::optional<std::string> real = ports::Resolve(root, logical);
      port.exists = real.has_value();
      port.real = real.value_or("");
    }
    coms.push_back(port);
  }
  return coms;
}

std::string Report(const std::vector<ComPort>& coms, const std::vector<ports::SerialDevice>& devices) {
  std::string out = MappingLines("/dev/ttyS0..3", coms, [](const ComPort& port) -> std::string {
    if (!port.exists) return "does not exist";
    return port.real == port.name ? "exists" : "exists: " + port.real;
  });

  out += "\nSerial devices (/sys/class/tty/*/device):\n";
  std::string without_uart;
  bool any = false;
  for (const ports::SerialDevice& d : devices) {
    if (d.no_uart) {
      without_uart += " " + d.tty;
      continue;
    }
    any = true;
    const auto line = [&out](const std::string& label, const std::string& text) {
      out += "    " + Pad(label, 9) + text + "\n";
    };
    out += "  " + d.path + "\n";
    for (const std::string& name : d.by_id) line("by-id", name);
    line("driver", d.driver.empty() ? "?" : d.driver);
    if (!d.usb_id.empty()) line("usb", d.usb_id + (d.usb_serial.empty() ? "" : ", serial " + d.usb_serial));
    if (!d.exists) {
      line("access", "no: " + d.path + " does not exist");
    } else {
      const std::string node = d.mode + " " + d.owner + " " + d.group;
      std::string hint;
      if (!d.accessible && d.group != "root")
        hint = "; join the group: sudo usermod -aG " + d.group + " $USER, then log in again";
      line("access", (d.accessible ? "yes: " : "no: ") + node + hint);
    }
    std::string holders;
    for (const ports::Holder& h : d.holders)
      holders += (holders.empty() ? "" : ", ") + std::string("pid ") + std::to_string(h.pid) + " (" + h.comm + ")";
    line("in use", holders.empty() ? "no process found" : "by " + holders);
    if (d.latency_ms == 1) {
      line("latency", "1 ms");
    } else if (d.latency_ms >= 0) {
      line("latency", std::to_string(d.latency_ms) + " ms; save mode wants 1 ms: echo 1 | sudo tee " + d.latency_file);
    }
  }
  if (!any) out += "  none found\n";
  if (!without_uart.empty()) out += "\nWithout a UART (sysfs type 0):" + without_uart + "\n";
  return out;
}

}  // namespace vk::vkports

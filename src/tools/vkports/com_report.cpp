// vkports' report on Windows, from what the system lists (ports/comports.h).
#include "tools/vkports/report.h"

#include <algorithm>
#include <cctype>

#include "link/port_names.h"

namespace vk::vkports {
namespace {

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// The port name a device name stands for: COM5 and \\.\COM5 are COM5.
std::string PortNameOf(const std::string& device) {
  std::string name = device;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

const ports::MachinePort* Find(const std::vector<ports::MachinePort>& machine, const std::string& name) {
  const auto it = std::find_if(machine.begin(), machine.end(),
                               [&name](const ports::MachinePort& p) { return PortNameOf(p.name) == name; });
  return it == machine.end() ? nullptr : &*it;
}

// Whether a port can be opened, as far as the system tells without an open.
std::string State(const ports::MachinePort& p) {
  if (!p.managed) return "listed by the system (no device manager entry)";
  if (p.ready) return "ready: its driver is started; it opens unless a program has it";
  if (p.state == "disabled") return "disabled in the device manager: it does not open";
  return p.state + ": it does not open";
}

}  // namespace

std::vector<ComPort> MappedPorts(const std::array<const char*, 4>& values,
                                 const std::vector<ports::MachinePort>& machine) {
  std::vector<ComPort> coms;
  for (int n = 1; n <= 4; ++n) {
    ComPort port;
    port.number = n;
    const char* value = values[n - 1];
    port.mapped = value && *value;
    port.name = port.mapped ? value : link::DefaultDeviceName(n);
    port.url = link::IsRfc2217Url(port.name);
    if (!port.url) {
      const ports::MachinePort* found = Find(machine, PortNameOf(port.name));
      port.exists = found != nullptr;
      port.real = found ? found->name : "";
    }
    coms.push_back(port);
  }
  return coms;
}

std::string PortsReport(const std::vector<ComPort>& coms, const std::vector<ports::MachinePort>& machine) {
  std::string out = "COM ports (VK_COM1..VK_COM4, else COM1..COM4):\n";
  size_t width = 0;
  for (const ComPort& port : coms) width = std::max(width, port.name.size());
  for (const ComPort& port : coms) {
    const std::string n = std::to_string(port.number);
    out += "  COM" + n + "  " + Pad(port.name, width) + "  " + (port.mapped ? "VK_COM" + n : "default") + ", ";
    if (port.url) {
      out += "RFC 2217 server (not contacted)";
    } else if (!port.exists) {
      out += "not a COM port of this machine";
    } else {
      const ports::MachinePort* p = Find(machine, PortNameOf(port.real));
      out += port.real + (p ? " " + State(*p) : "");
    }
    out += "\n";
  }

  out += "\nCOM ports of this machine (registry SERIALCOMM, device manager):\n";
  for (const ports::MachinePort& p : machine) {
    const auto line = [&out](const std::string& label, const std::string& text) {
      out += "    " + Pad(label, 9) + text + "\n";
    };
    out += "  " + p.name + "\n";
    if (!p.friendly.empty()) line("name", p.friendly);
    if (!p.hardware_id.empty()) line("hardware", p.hardware_id);
    if (!p.usb_id.empty()) line("usb", p.usb_id + (p.usb_serial.empty() ? "" : ", serial " + p.usb_serial));
    if (!p.device.empty()) line("driver", p.device);
    line("state", State(p));
    line("map", "VK_COM1=\\\\.\\" + p.name);
  }
  if (machine.empty()) out += "  none found\n";
  out += "\nNo port was opened to list them: one that another program has open shows as \"access denied\"\n"
         "when a tool opens it.\n";
  return out;
}

}  // namespace vk::vkports

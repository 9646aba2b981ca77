// vkports' report on Windows, from what the system lists (ports/comports.h).
#include "tools/vkports/report.h"

#include <algorithm>

#include "wire/letter_case.h"

namespace vk::vkports {
namespace {

// The port name a device name stands for: COM5 and \\.\COM5 are COM5.
std::string PortNameOf(const std::string& device) {
  return wire::UpperCase(device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device);
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
    ComPort port = Mapping(n, values[n - 1]);
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
  std::string out = MappingLines("COM1..COM4", coms, [&machine](const ComPort& port) -> std::string {
    const ports::MachinePort* p = port.exists ? Find(machine, PortNameOf(port.real)) : nullptr;
    return p ? p->name + " " + State(*p) : "not a COM port of this machine";
  });

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

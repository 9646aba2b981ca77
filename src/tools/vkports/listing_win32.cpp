// vkports on Windows: the COM ports from the registry and the device manager.
#include <cstdlib>
#include <string>

#include "ports/comports.h"
#include "tools/vkports/report.h"

namespace vk::vkports {

const char* const kUsage =
    "usage: vkports [--help] [--version]\n"
    "\n"
    "Lists what the vktools programs could talk to: COM1..COM4 with their\n"
    "VK_COM1..VK_COM4 mappings (default COM1..COM4) and every COM port of the\n"
    "machine (registry HARDWARE\\DEVICEMAP\\SERIALCOMM and the device manager)\n"
    "with its name, hardware id, USB vendor:product and serial number, and\n"
    "whether its driver is ready. No port is opened.\n";

std::string Listing() {
  const auto machine = ports::MachinePorts();
  const auto coms = MappedPorts(
      {std::getenv("VK_COM1"), std::getenv("VK_COM2"), std::getenv("VK_COM3"), std::getenv("VK_COM4")}, machine);
  return PortsReport(coms, machine);
}

}  // namespace vk::vkports

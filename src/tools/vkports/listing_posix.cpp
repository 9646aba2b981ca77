// vkports on Linux: the serial devices through sysfs, /dev and /proc.
#include <cstdlib>
#include <string>

#include "ports/devices.h"
#include "tools/vkports/report.h"

namespace vk::vkports {

const char* const kUsage =
    "usage: vkports [--help] [--version]\n"
    "\n"
    "Lists what the vktools programs could talk to: COM1..COM4 with their\n"
    "VK_COM1..VK_COM4 mappings (default /dev/ttyS0..3) and every serial device\n"
    "of the machine with its /dev/serial/by-id name, driver, USB vendor:product\n"
    "and serial number, whether you may open it, which process holds it, and\n"
    "the latency timer of USB serial adapters. No device is opened.\n";

std::string Listing() {
  // VK_PORTS_ROOT names a directory that stands in for "/" (for the tests).
  std::string root;
  if (const char* value = std::getenv("VK_PORTS_ROOT")) root = value;
  while (!root.empty() && root.back() == '/') root.pop_back();

  const auto coms =
      ComPorts(root, {std::getenv("VK_COM1"), std::getenv("VK_COM2"), std::getenv("VK_COM3"), std::getenv("VK_COM4")});
  auto devices = ports::SerialDevices(root);
  ports::FindHolders(root, devices);
  return Report(coms, devices);
}

}  // namespace vk::vkports

// vkports: lists what the tools could talk to, without opening any device.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/ending.h"
#include "ports/devices.h"
#include "tools/vkports/report.h"

namespace {

constexpr const char* kUsage =
    "usage: vkports [--help] [--version]\n"
    "\n"
    "Lists what the vktools programs could talk to: COM1..COM4 with their\n"
    "VK_COM1..VK_COM4 mappings (default /dev/ttyS0..3) and every serial device\n"
    "of the machine with its /dev/serial/by-id name, driver, USB vendor:product\n"
    "and serial number, whether you may open it, which process holds it, and\n"
    "the latency timer of USB serial adapters. No device is opened.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("vkports " VK_VERSION);
      return 0;
    }
    std::fprintf(stderr, "vkports: unknown argument %s (see vkports --help)\n", argv[i]);
    return vk::link::kExitFailure;
  }

  // VK_PORTS_ROOT names a directory that stands in for "/" (for the tests).
  std::string root;
  if (const char* value = std::getenv("VK_PORTS_ROOT")) root = value;
  while (!root.empty() && root.back() == '/') root.pop_back();

  const auto coms = vk::vkports::ComPorts(
      root, {std::getenv("VK_COM1"), std::getenv("VK_COM2"), std::getenv("VK_COM3"), std::getenv("VK_COM4")});
  auto devices = vk::ports::SerialDevices(root);
  vk::ports::FindHolders(root, devices);
  std::fputs(vk::vkports::Report(coms, devices).c_str(), stdout);
  return 0;
}

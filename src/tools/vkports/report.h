// What vkports prints: COM1..COM4 as the tools open them, and the machine's
// serial devices (ports/devices.h).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ports/devices.h"

namespace vk::vkports {

struct ComPort {
  int number = 1;          // 1..4
  std::string name;        // the device or URL COMn opens
  bool mapped = false;     // from VK_COMn (else the default device)
  bool url = false;        // rfc2217://...
  bool exists = false;     // device paths: the path leads to a file
  std::string real;        // device paths that exist: after the links
};

// COM1..COM4 as the tools open them, every path taken below `root` (as in
// ports/devices.h); values[n-1] is VK_COMn or null.
std::vector<ComPort> ComPorts(const std::string& root, const std::array<const char*, 4>& values);

std::string Report(const std::vector<ComPort>& coms, const std::vector<ports::SerialDevice>& devices);

}  // namespace vk::vkports

// What vkports prints: COM1..COM4 as the tools open them, and the machine's
// serial devices (ports/devices.h; on Windows its COM ports, ports/comports.h).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "ports/comports.h"
#include "ports/devices.h"

namespace vk::vkports {

struct ComPort {
  int number = 1;          // 1..4
  std::string name;        // the device or URL COMn opens
  bool mapped = false;     // from VK_COMn (else the default device)
  bool url = false;        // rfc2217://...
  bool exists = false;     // device paths: the path leads to a file (Windows: a COM port of the machine)
  std::string real;        // device paths that exist: after the links (Windows: the port's name)
};

// COM1..COM4 as the tools open them, every path taken below `root` (as in
// ports/devices.h); values[n-1] is VK_COMn or null.
std::vector<ComPort> ComPorts(const std::string& root, const std::array<const char*, 4>& values);

std::string Report(const std::vector<ComPort>& coms, const std::vector<ports::SerialDevice>& devices);

// On Windows (com_report.cpp): COM1..COM4 as the tools open them, each
// found (or not) among the machine's ports, whose names `real` holds;
// values[n-1] is VK_COMn or null.
std::vector<ComPort> MappedPorts(const std::array<const char*, 4>& values,
                                 const std::vector<ports::MachinePort>& machine);
std::string PortsReport(const std::vector<ComPort>& coms, const std::vector<ports::MachinePort>& machine);

// Shared by both: space up to `width`; COMn as VK_COMn (`value`, or null)
// maps it; the lines of COM1..COM4 under their heading, each with what
// `device_state` says of a device (URLs are not looked at).
std::string Pad(const std::string& text, size_t width);
ComPort Mapping(int number, const char* value);
std::string MappingLines(const std::string& defaults, const std::vector<ComPort>& coms,
                         const std::function<std::string(const ComPort&)>& device_state);

// What vkports prints on this platform, and its usage text (listing_posix.cpp,
// listing_win32.cpp).
std::string Listing();
extern const char* const kUsage;

}  // namespace vk::vkports

// The machine's COM ports on Windows, as the system lists them: the
// registry's HARDWARE\DEVICEMAP\SERIALCOMM (every port a driver made) joined
// with the device manager's entry for each (SetupAPI): friendly name,
// hardware id and state. Nothing is opened. vkports lists them; the
// diagnostics after a failed open name them. (comports_win32.cpp; the
// reading of the ids in comports.cpp, built everywhere.)
#pragma once

#include <string>
#include <vector>

namespace vk::ports {

struct MachinePort {
  std::string name;         // COM5
  std::string device;       // the driver's device (\Device\VCP0); "" when only the device manager knows it
  std::string friendly;     // USB Serial Port (COM5)
  std::string hardware_id;  // the first hardware id: FTDIBUS\COMPORT&VID_0403&PID_6001
  std::string usb_id;       // 0403:6001
  std::string usb_serial;   // A50285BI
  bool managed = false;     // the device manager has an entry for it
  bool ready = false;       // its driver is started with no problem
  std::string state;        // managed ports: "ready", "disabled", "driver problem N", "not started"
};

// Every COM port, ordered by number.
std::vector<MachinePort> MachinePorts();

// "VVVV:PPPP" from the VID_ and PID_ parts of a hardware or instance id
// (any case); "" when it has none.
std::string UsbIdFrom(const std::string& id);

// The serial number in a device instance id: the last part of a USB one
// (USB\VID_0403&PID_6001\A50285BI), the third field of an FTDI one
// (FTDIBUS\VID_0403+PID_6001+A50285BIA\0000); "" for a part the system made
// up (it holds '&').
std::string UsbSerialFrom(const std::string& instance_id);

// The order of port names: by the number after "COM", then by name.
bool PortNameBefore(const std::string& a, const std::string& b);

}  // namespace vk::ports

// The machine's COM ports from the registry and the device manager; no port
// is opened (an open would take the port from whoever has it, and many
// drivers raise DTR on it).
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

#include "link/text_win32.h"
#include "ports/comports.h"

namespace vk::ports {
namespace {

using link::Narrow;

// The device setup class of serial and parallel ports.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A string value of an open key; "" when it is not a string.
std::string StringValue(HKEY key, const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
    if (rc == ERROR_MORE_DATA) {
      value.resize(bytes / sizeof(wchar_t) + 1);
      continue;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return "";
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return Narrow(value);
  }
  return "";
}

// SERIALCOMM: the driver's device name for each port name.
void ReadSerialComm(std::map<std::string, MachinePort>& ports) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = 256;
    wchar_t value[256];
    DWORD bytes = sizeof value;
    DWORD type = 0;
    const LONG rc =
        RegEnumValueW(key, i, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring port(value, bytes / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    MachinePort& entry = ports[Narrow(port)];
    entry.name = Narrow(port);
    entry.device = Narrow(std::wstring(name, name_length));
  }
  RegCloseKey(key);
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  std::wstring text(512, L'\0');
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(text.data()),
                                         static_cast<DWORD>(text.size() * sizeof(wchar_t)), nullptr))
    return "";
  return Narrow(text.c_str());  // a multi-string's first entry
}

std::string DeviceState(DEVINST instance, bool& ready) {
  ULONG status = 0;
  ULONG problem = 0;
  ready = false;
  if (CM_Get_DevNode_Status(&status, &problem, instance, 0) != CR_SUCCESS) return "not present";
  if (status & DN_HAS_PROBLEM) {
    if (problem == CM_PROB_DISABLED) return "disabled";
    return "driver problem " + std::to_string(problem);
  }
  if (!(status & DN_STARTED)) return "not started";
  ready = true;
  return "ready";
}

// The device manager's ports: each with the port name its driver was given.
void ReadDeviceManager(std::map<std::string, MachinePort>& ports) {
  const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const std::string name = StringValue(key, L"PortName");
    RegCloseKey(key);
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) continue;  // LPT ports share the class
    MachinePort& port = ports[name];
    port.name = name;
    port.managed = true;
    port.friendly = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
    port.hardware_id = DeviceProperty(set, device, SPDRP_HARDWAREID);
    wchar_t instance[MAX_DEVICE_ID_LEN];
    const std::string instance_id =
        SetupDiGetDeviceInstanceIdW(set, &device, instance, MAX_DEVICE_ID_LEN, nullptr) ? Narrow(instance) : "";
    port.usb_id = UsbIdFrom(port.hardware_id.empty() ? instance_id : port.hardware_id);
    port.usb_serial = port.usb_id.empty() ? "" : UsbSerialFrom(instance_id);
    port.state = DeviceState(device.DevInst, port.ready);
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<MachinePort> MachinePorts() {
  std::map<std::string, MachinePort> found;
  ReadSerialComm(found);
  ReadDeviceManager(found);
  std::vector<MachinePort> ports;
  for (auto& [name, port] : found) ports.push_back(std::move(port));
  std::sort(ports.begin(), ports.end(),
            [](const MachinePort& a, const MachinePort& b) { return PortNameBefore(a.name, b.name); });
  return ports;
}

}  // namespace vk::ports

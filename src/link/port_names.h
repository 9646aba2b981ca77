// Which device or URL a COM port number opens.
#pragma once

#include <string>

namespace vk::link {

// 1..4 stay, anything else is 1.
int NormalisePortNumber(int port);

// The platform's own device for COMn (n 1..4): /dev/ttyS(n-1) on POSIX
// systems, COMn on Windows (defined beside each platform's port backend).
std::string DefaultDeviceName(int n);
// A device of the kind a user maps a port to (a USB adapter), for the usage.
std::string ExampleDeviceName();

// The device for COMn: the value of VK_COMn when set and not empty, else
// the platform's default device for that port.
std::string PortDeviceName(int port);

// True for names that the RFC 2217 backend opens.
bool IsRfc2217Url(const std::string& name);

}  // namespace vk::link

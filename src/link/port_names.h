// Which device or URL a COM port number opens.
#pragma once

#include <string>
#include <string_view>

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

// "VK_COMn" for a port number.
std::string PortVariableName(int port);
// How VK_COMn stands; an empty one counts as not set.
enum class PortMapping { Set, Unset, Empty };
PortMapping PortVariable(int port);

// The scheme of the RFC 2217 backend's names, matched in any case.
inline constexpr std::string_view kRfc2217Scheme = "rfc2217://";

// True for names that the RFC 2217 backend opens: rfc2217://... in any case.
bool IsRfc2217Url(const std::string& name);

// True for a name that was likely meant for a network serial server but is
// no rfc2217:// URL: another scheme (tcp://), a misspelt one (rcf2217://,
// rfc2217:/), or a bare HOST:PORT.
bool LooksLikeNetworkAddress(const std::string& name);

}  // namespace vk::link

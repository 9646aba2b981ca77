#include "link/port_names.h"

#include <cstdlib>

#include "wire/letter_case.h"

namespace vk::link {

int NormalisePortNumber(int port) { return (port >= 1 && port <= 4) ? port : 1; }

std::string PortVariableName(int port) { return "VK_COM" + std::to_string(NormalisePortNumber(port)); }

PortMapping PortVariable(int port) {
  const char* mapped = std::getenv(PortVariableName(port).c_str());
  if (!mapped) return PortMapping::Unset;
  return *mapped ? PortMapping::Set : PortMapping::Empty;
}

std::string PortDeviceName(int port) {
  const int n = NormalisePortNumber(port);
  if (PortVariable(n) == PortMapping::Set) return std::getenv(PortVariableName(n).c_str());
  return DefaultDeviceName(n);
}

bool IsRfc2217Url(const std::string& name) {
  return wire::LowerCase(name.substr(0, kRfc2217Scheme.size())) == kRfc2217Scheme;
}

bool LooksLikeNetworkAddress(const std::string& name) {
  if (IsRfc2217Url(name)) return false;
  const std::string lower = wire::LowerCase(name);
  if (lower.find("://") != std::string::npos || lower.rfind("rfc2217:", 0) == 0) return true;
  // HOST:PORT: no slash, and digits after the last colon.
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == name.size() || name.size() - colon > 6) return false;
  if (name.find_first_of("/\\") != std::string::npos) return false;
  return name.find_first_not_of("0123456789", colon + 1) == std::string::npos;
}

}  // namespace vk::link

#include "link/port_names.h"

#include <cstdlib>

namespace vk::link {

int NormalisePortNumber(int port) { return (port >= 1 && port <= 4) ? port : 1; }

std::string PortDeviceName(int port) {
  const int n = NormalisePortNumber(port);
  const std::string var = "VK_COM" + std::to_string(n);
  if (const char* mapped = std::getenv(var.c_str()); mapped && *mapped) return mapped;
  return DefaultDeviceName(n);
}

bool IsRfc2217Url(const std::string& name) { return name.rfind("rfc2217://", 0) == 0; }

}  // namespace vk::link

#include "ports/comports.h"

#include <cstdlib>

#include "wire/bytes.h"
#include "wire/letter_case.h"

namespace vk::ports {
namespace {

// The four hex digits after `key` in `id`; "" when they are not there.
std::string HexAfter(const std::string& id, const std::string& key) {
  const size_t at = id.find(key);
  if (at == std::string::npos || at + key.size() + 4 > id.size()) return "";
  std::string digits = id.substr(at + key.size(), 4);
  for (const char c : digits)
    if (wire::HexDigit(c) < 0) return "";
  return wire::LowerCase(digits);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  parts.push_back(text.substr(start));
  return parts;
}

long PortNumber(const std::string& name) {
  const std::string upper = wire::UpperCase(name);
  if (upper.rfind("COM", 0) != 0 || upper.size() == 3) return -1;
  char* end = nullptr;
  const long n = std::strtol(upper.c_str() + 3, &end, 10);
  return *end == '\0' ? n : -1;
}

}  // namespace

std::string UsbIdFrom(const std::string& id) {
  const std::string upper = wire::UpperCase(id);
  const std::string vendor = HexAfter(upper, "VID_");
  const std::string product = HexAfter(upper, "PID_");
  return vendor.empty() || product.empty() ? "" : vendor + ":" + product;
}

std::string UsbSerialFrom(const std::string& instance_id) {
  const std::vector<std::string> parts = Split(instance_id, '\\');
  if (parts.size() < 3) return "";
  const std::string bus = wire::UpperCase(parts[0]);
  std::string serial;
  if (bus == "USB") {
    serial = parts[2];
  } else if (bus == "FTDIBUS") {
    const std::vector<std::string> fields = Split(parts[1], '+');
    if (fields.size() >= 3) serial = fields[2];
  }
  return serial.find('&') == std::string::npos ? serial : "";
}

bool PortNameBefore(const std::string& a, const std::string& b) {
  const long na = PortNumber(a);
  const long nb = PortNumber(b);
  return na != nb ? na < nb : a < b;
}

}  // namespace vk::ports

// Byte rules of the wire, shared by the tools and the simulator: numbers
// travel most significant byte first, checksums are 8-bit sums, and hex
// digits are read in either case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vk::wire {

// The 32-bit number at p[0..3], most significant byte first.
constexpr uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The 16-bit number at p[0..1], most significant byte first.
constexpr uint32_t Get16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

inline void Put32(uint32_t value, std::vector<uint8_t>& out) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

inline void Put16(uint32_t value, std::vector<uint8_t>& out) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

// `start` plus every byte, modulo 256.
constexpr uint8_t Sum8(const uint8_t* data, size_t n, uint8_t start = 0) {
  uint8_t sum = start;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

inline uint8_t Sum8(const std::vector<uint8_t>& data, uint8_t start = 0) {
  return Sum8(data.data(), data.size(), start);
}

// The value of a hexadecimal digit in either case, or -1.
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace vk::wire

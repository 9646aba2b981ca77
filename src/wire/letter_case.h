// Letter case as the programs and the board see it: the letters A to Z and
// a to z only, whatever the locale, so a name is upper-cased the same way
// everywhere and bytes outside ASCII pass unchanged.
#pragma once

#include <string>
#include <string_view>

namespace vk::wire {

constexpr char ToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToUpper(c);
  return out;
}

inline std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLower(c);
  return out;
}

}  // namespace vk::wire

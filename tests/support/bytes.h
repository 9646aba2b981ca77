// Byte strings and printed text for table-driven tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace vktest {

using Bytes = std::vector<uint8_t>;

template <typename T>
std::vector<T> Cat(std::initializer_list<std::vector<T>> parts) {
  std::vector<T> all;
  for (const std::vector<T>& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// What `print(FILE*)` writes, as a string.
template <typename Print>
std::string Printed(Print print) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  print(out);
  std::fclose(out);
  std::string s(text, size);
  std::free(text);
  return s;
}

}  // namespace vktest

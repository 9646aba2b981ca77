#include "link/clock.h"

#include <chrono>

namespace vk::link {
namespace {
// Initialised before main runs, so it marks the start of the process.
const auto g_start = std::chrono::steady_clock::now();
}  // namespace

long MsClock() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - g_start)
                               .count());
}
}  // namespace vk::link

// Time as the link sees it: the steady clock of deadlines, and milliseconds
// of elapsed time since the process started (the clock of the sync trace,
// the connect-time line and the download time).
#pragma once

#include <chrono>

namespace vk::link {

using SteadyClock = std::chrono::steady_clock;

long MsClock();

// Milliseconds left from `now` until `deadline`, rounded up (so a wait never
// ends just short of it), never negative.
inline int RemainingMs(SteadyClock::time_point deadline, SteadyClock::time_point now = SteadyClock::now()) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace vk::link

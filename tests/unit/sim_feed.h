// Feeding the simulated monitor bytes as they reach the board.
#pragma once

#include "sim/monitor.h"
#include "support/bytes.h"

namespace vktest {

// Everything the monitor answers to `host`, byte after byte.
inline vk::sim::Output Feed(vk::sim::Monitor& monitor, const Bytes& host) {
  vk::sim::Output all;
  for (uint8_t b : host) monitor.Receive(b, all);
  return all;
}

}  // namespace vktest

// What serves one client connection of the simulator: the network protocol
// in front of the serial line and the board. RFC 2217 (sim/session.h) and
// USB/IP with an emulated USB serial adapter (sim/usbip.h) are the two.
// Pure: bytes from the client and the current time go in, bytes for the
// client come out; the server's poll loop (sim/server.h) does the sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/line.h"
#include "sim/monitor.h"

namespace vk::sim {

class Front {
 public:
  virtual ~Front() = default;
  // What the front end sends or traces as the connection opens; call once, first.
  virtual void Start() = 0;
  // Bytes received from the client.
  virtual void FromNetwork(const uint8_t* data, size_t n, Nanos now) = 0;
  // Runs what is due by `now`.
  virtual void Advance(Nanos now) = 0;
  // The bytes to send to the client so far.
  virtual std::string TakeOutput() = 0;
  // Names of the programs the board started so far.
  virtual std::vector<std::string> TakeStarted() = 0;
  // The earliest time at which something is due, if anything is pending.
  virtual std::optional<Nanos> NextDeadline() const = 0;
  virtual Board& board() = 0;
  // True once the connection is to be dropped at once, unsent output and
  // all (a USB cable pulled).
  virtual bool Cut() const { return false; }
};

}  // namespace vk::sim

// Finding the target and the rate it listens on.
//
// ConnectTarget, once per run after OpenPort:
//   1. WaitTargetReady: a short RTS pulse, the handshake on, 50 ms, then CTS
//      polled every 5 ms until it rises (when it was already on, it must be
//      seen off first); a "*" every 81 polls.
//   2. TrySync at the stored rate, then alternately at the other one: each
//      attempt sends the sync byte twice, pauses 50 ms and looks at the first
//      byte that came. Two attempts per rate. The time the echo took is
//      noted on the way (it is waited for within the pause, which is kept
//      whole).
// A key press on the terminal during either wait ends the run through
// ExitTool with 2, and so does the connection's time limit: the seconds the
// caller gives (0: none), or when it gives none, no limit while a terminal
// can deliver the key press and 60 s when none can (a script, a service).
// Time and the terminal come from the attempt's Surroundings, so a test can
// run a minute of waiting in no time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/clock.h"
#include "link/link.h"

namespace vk::link {

constexpr uint8_t kSyncByte = 0x7F;      // every program but the RAM loader
constexpr uint8_t kRamSyncByte = 0x0F;   // the RAM loader
constexpr int kSyncAttemptsPerTry = 2;
constexpr int kSyncPauseMs = 50;
constexpr int kRtsPauseMs = 50;
constexpr int kCtsPollMs = 5;
constexpr int kStarCounterStart = 80;  // one star every 81 polls
constexpr int kUnattendedLimitS = 60;
constexpr int kHintAfterMs = 3000;  // on a terminal: say what is awaited

// What the connection reads and updates.
struct Connection {
  int baud = kBaudHigh;           // in: stored rate; out: the rate that answered
  bool settings_changed = false;  // set whenever a try fails
  bool info = false;              // -i: print the sync trace line
  uint8_t sync_byte = kSyncByte;
  std::optional<int> limit_s;     // the whole attempt's limit; 0: none
  std::string program;            // names the tool in hints on standard error
  double echo_ms = -1;            // out: how long the answered sync took to come back
};

// What the attempt waits with besides the line: the clock, and the
// terminal whose key press ends it. The system's, unless a test gives its
// own.
class Surroundings {
 public:
  virtual ~Surroundings() = default;
  virtual SteadyClock::time_point Now();
  virtual void Sleep(int ms);
  // Starts watching the terminal for a key; false when there is none.
  virtual bool WatchKeys();
  virtual bool KeyPressed();
  // Gives the terminal back as it was.
  virtual void StopWatchingKeys();
};

Surroundings& SystemSurroundings();

// The whole attempt's limit in seconds, 0 for none: the one given, else
// none while a terminal can deliver the key press (`keys`) and
// kUnattendedLimitS when none can.
int ConnectLimitS(std::optional<int> given, bool keys);

// Returns the number of sync attempts made, the answered one included.
int ConnectTarget(Link& link, Connection& connection, Surroundings& around = SystemSurroundings());

}  // namespace vk::link

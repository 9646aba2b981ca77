#include "link/connect.h"

#include <cstdio>

#include "link/clock.h"
#include "link/console.h"
#include "link/ending.h"

namespace vk::link {
namespace {

// The terminal watched for a key, and the time limit, for as long as the
// connection is sought; the terminal is given back however the attempt ends.
class Watch {
 public:
  explicit Watch(std::optional<int> limit_s) : keys_(ConsoleBegin()) {
    limit_s_ = limit_s ? *limit_s : keys_ ? 0 : kUnattendedLimitS;
    deadline_ = SteadyClock::now() + std::chrono::seconds(limit_s_);
  }
  ~Watch() { ConsoleEnd(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Ends the run through ExitTool on a key press or when time is up.
  void Check() const {
    if (keys_ && ConsoleKeyPressed()) EndRun(kExitFailure, Leave::ExitTool);
    if (limit_s_ > 0 && SteadyClock::now() >= deadline_) {
      std::printf("\nConnectTarget(): Time-Out, Target Did Not Answer Within %d Seconds\n", limit_s_);
      EndRun(kExitFailure, Leave::ExitTool);
    }
  }

 private:
  bool keys_;
  int limit_s_ = 0;
  SteadyClock::time_point deadline_;
};

int WaitTargetReady(Link& link, const Watch& watch) {
  link.SetRtsSignal(1);
  link.SetRtsSignal(0);
  link.EnableAuto_RTS_CTS(1);
  SleepMs(kRtsPauseMs);

  // The wait is for a rising CTS: when it is already on, it must drop first.
  const int first_state = link.CTSSignalSet();
  bool drop_pending = true;
  int star_counter = kStarCounterStart;
  for (;;) {
    if (first_state == 0) {
      if (link.CTSSignalSet() == 1) return 1;
    } else if (drop_pending) {
      if (link.CTSSignalSet() == 0) drop_pending = false;
    } else if (link.CTSSignalSet() == 1) {
      return 1;
    }
    if (star_counter > 0) {
      --star_counter;
    } else {
      star_counter = kStarCounterStart;
      std::printf("*");
      std::fflush(stdout);
    }
    watch.Check();
    SleepMs(kCtsPollMs);
  }
}

int SyncEchoReceived(Link& link, uint8_t sync_byte) {
  if (!link.RxPending()) return 0;
  return static_cast<uint8_t>(link.ReceiveWait()) == sync_byte ? 1 : 0;
}

int TrySync(Link& link, Connection& connection, const Watch& watch, int attempts, int& attempt_counter) {
  while (attempts != 0) {
    link.Transmit(connection.sync_byte);
    link.Transmit(connection.sync_byte);
    --attempts;
    ++attempt_counter;
    if (connection.info)
      std::printf("\nSent 0x%02X Twice At Timestamp %d With %d Baud", connection.sync_byte,
                  static_cast<int>(MsClock()), connection.baud);
    watch.Check();
    SleepMs(kSyncPauseMs);
    if (SyncEchoReceived(link, connection.sync_byte)) return 1;
  }
  return 0;
}

}  // namespace

int ConnectTarget(Link& link, Connection& connection) {
  const Watch watch(connection.limit_s);
  WaitTargetReady(link, watch);
  int toggle = connection.baud == kBaudHigh ? 1 : 0;
  int attempt_counter = 0;
  for (;;) {
    connection.baud = toggle ? kBaudHigh : kBaudLow;
    toggle = 1 - toggle;
    link.SetBaudRate(connection.baud);
    if (TrySync(link, connection, watch, kSyncAttemptsPerTry, attempt_counter)) break;
    connection.settings_changed = true;
  }
  return attempt_counter;
}

}  // namespace vk::link

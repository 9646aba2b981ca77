#include "link/connect.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "link/clock.h"
#include "link/console.h"
#include "link/diagnose.h"
#include "link/ending.h"

namespace vk::link {
namespace {

// The terminal watched for a key, and the time limit, for as long as the
// connection is sought; the terminal is given back however the attempt ends.
class Watch {
 public:
  Watch(const Link& link, const Connection& connection)
      : link_(link), connection_(connection), keys_(ConsoleBegin()), start_(SteadyClock::now()) {
    limit_s_ = connection.limit_s ? *connection.limit_s : keys_ ? 0 : kUnattendedLimitS;
    deadline_ = start_ + std::chrono::seconds(limit_s_);
  }
  ~Watch() { ConsoleEnd(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Ends the run through ExitTool on a key press or when time is up. On a
  // terminal, once the wait has lasted a while, says what it waits for.
  void Check(bool cts) {
    if (keys_ && ConsoleKeyPressed()) EndRun(kExitFailure, Leave::ExitTool);
    bool& hinted = cts ? cts_hinted_ : sync_hinted_;
    if (keys_ && !hinted && SteadyClock::now() - start_ >= std::chrono::milliseconds(kHintAfterMs)) {
      PrintWaitHint(connection_.program, link_.device(), cts, connection_.sync_byte);
      hinted = true;
    }
    if (limit_s_ > 0 && SteadyClock::now() >= deadline_) {
      std::printf("\nConnectTarget(): Time-Out, Target Did Not Answer Within %d Seconds\n", limit_s_);
      EndRun(kExitFailure, Leave::ExitTool);
    }
  }

 private:
  const Link& link_;
  const Connection& connection_;
  bool keys_;
  SteadyClock::time_point start_;
  int limit_s_ = 0;
  SteadyClock::time_point deadline_;
  bool cts_hinted_ = false;   // what is awaited has been said, for each wait
  bool sync_hinted_ = false;
};

int WaitTargetReady(Link& link, Watch& watch) {
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
    watch.Check(true);
    SleepMs(kCtsPollMs);
  }
}

int TrySync(Link& link, Connection& connection, Watch& watch, int attempts, int& attempt_counter) {
  while (attempts != 0) {
    link.Transmit(connection.sync_byte);
    link.Transmit(connection.sync_byte);
    const auto sent = SteadyClock::now();
    --attempts;
    ++attempt_counter;
    if (connection.info)
      std::printf("\nSent 0x%02X Twice At Timestamp %d With %d Baud", connection.sync_byte,
                  static_cast<int>(MsClock()), connection.baud);
    watch.Check(false);
    // The first byte that comes within the pause is the one looked at.
    const auto pause_end = sent + std::chrono::milliseconds(kSyncPauseMs);
    uint8_t first = 0;
    const bool came = link.ReceiveWithin(std::max(RemainingMs(pause_end), 0), first);
    const auto came_at = SteadyClock::now();
    SleepMs(RemainingMs(pause_end));
    if (came && first == connection.sync_byte) {
      connection.echo_ms = std::chrono::duration<double, std::milli>(came_at - sent).count();
      return 1;
    }
  }
  return 0;
}

}  // namespace

int ConnectTarget(Link& link, Connection& connection) {
  Watch watch(link, connection);
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

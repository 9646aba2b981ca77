#include "link/connect.h"

#include <chrono>
#include <cstdio>

#include "link/clock.h"
#include "link/console.h"
#include "link/diagnose.h"
#include "link/ending.h"
#include "link/interrupt.h"

namespace vk::link {
namespace {

// The terminal watched for a key, and the time limit, for as long as the
// connection is sought; the terminal is given back however the attempt ends.
class Watch {
 public:
  Watch(const Link& link, const Connection& connection, Surroundings& around)
      : link_(link), connection_(connection), around_(around), keys_(around.WatchKeys()), start_(around.Now()) {
    limit_s_ = ConnectLimitS(connection.limit_s, keys_);
    deadline_ = start_ + std::chrono::seconds(limit_s_);
  }
  ~Watch() { around_.StopWatchingKeys(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Ends the run through ExitTool on an interrupt, a key press or when
  // time is up. On a terminal, once the wait has lasted a while, says what
  // it waits for. What a person reads goes to standard error, on a line of
  // its own after the stars.
  void Check(bool cts) {
    if (const int sig = Interruption()) EndRunInterrupted(sig, true);
    if (keys_ && around_.KeyPressed()) {
      PrintKeyPressEnded(connection_.program, stars_open_);
      EndRun(kExitFailure, Leave::ExitTool);
    }
    const auto now = around_.Now();
    bool& hinted = cts ? cts_hinted_ : sync_hinted_;
    if (keys_ && !hinted && now - start_ >= std::chrono::milliseconds(kHintAfterMs)) {
      PrintWaitHint(connection_.program, link_.device(), cts, connection_.sync_byte, stars_open_);
      stars_open_ = false;
      hinted = true;
    }
    if (limit_s_ > 0 && now >= deadline_) {
      std::printf("\nConnectTarget(): Time-Out, Target Did Not Answer Within %d Seconds\n", limit_s_);
      SetProgressLineOpen(false);
      std::fflush(stdout);
      PrintNeverCame(connection_.program, link_.device(), link_.port(), cts, connection_.sync_byte);
      EndRun(kExitFailure, Leave::ExitTool);
    }
  }

  // One more star of the wait for CTS.
  void Star() {
    std::printf("*");
    std::fflush(stdout);
    SetProgressLineOpen(true);
    stars_open_ = true;
  }

  Surroundings& around() { return around_; }

 private:
  const Link& link_;
  const Connection& connection_;
  Surroundings& around_;
  bool keys_;
  SteadyClock::time_point start_;
  int limit_s_ = 0;
  SteadyClock::time_point deadline_;
  bool cts_hinted_ = false;   // what is awaited has been said, for each wait
  bool sync_hinted_ = false;
  bool stars_open_ = false;  // stars since the last word on standard error
};

int WaitTargetReady(Link& link, Watch& watch) {
  link.SetRtsSignal(1);
  link.SetRtsSignal(0);
  link.EnableAuto_RTS_CTS(1);
  watch.around().Sleep(kRtsPauseMs);

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
      watch.Star();
    }
    watch.Check(true);
    watch.around().Sleep(kCtsPollMs);
  }
}

int TrySync(Link& link, Connection& connection, Watch& watch, int attempts, int& attempt_counter) {
  Surroundings& around = watch.around();
  while (attempts != 0) {
    link.Transmit(connection.sync_byte);
    link.Transmit(connection.sync_byte);
    const auto sent = around.Now();
    --attempts;
    ++attempt_counter;
    if (connection.info)
      std::printf("\nSent 0x%02X Twice At Timestamp %d With %d Baud", connection.sync_byte,
                  static_cast<int>(MsClock()), connection.baud);
    watch.Check(false);
    // The first byte that comes within the pause is the one looked at.
    const auto pause_end = sent + std::chrono::milliseconds(kSyncPauseMs);
    uint8_t first = 0;
    const bool came = link.ReceiveWithin(RemainingMs(pause_end, around.Now()), first);
    const auto came_at = around.Now();
    around.Sleep(RemainingMs(pause_end, around.Now()));
    if (came && first == connection.sync_byte) {
      connection.echo_ms = std::chrono::duration<double, std::milli>(came_at - sent).count();
      return 1;
    }
  }
  return 0;
}

}  // namespace

SteadyClock::time_point Surroundings::Now() { return SteadyClock::now(); }
void Surroundings::Sleep(int ms) { SleepMs(ms); }
bool Surroundings::WatchKeys() { return ConsoleBegin(); }
bool Surroundings::KeyPressed() { return ConsoleKeyPressed(); }
void Surroundings::StopWatchingKeys() { ConsoleEnd(); }

Surroundings& SystemSurroundings() {
  static Surroundings system;
  return system;
}

int ConnectLimitS(std::optional<int> given, bool keys) {
  if (given) return *given;
  return keys ? 0 : kUnattendedLimitS;
}

int ConnectTarget(Link& link, Connection& connection, Surroundings& around) {
  Watch watch(link, connection, around);
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

#include "link/connect.h"

#include <cstdio>

#include "link/clock.h"
#include "link/console.h"
#include "link/port.h"

namespace vk::link {
namespace {

void EndIfKeyPressed() {
  if (ConsoleKeyPressed()) {
    ConsoleEnd();
    ExitTool(kExitFailure);
  }
}

}  // namespace

int WaitTargetReady() {
  SetRtsSignal(1);
  SetRtsSignal(0);
  EnableAuto_RTS_CTS(1);
  SleepMs(kRtsPauseMs);

  // The wait is for a rising CTS: when it is already on, it must drop first.
  const int first_state = CTSSignalSet();
  bool drop_pending = true;
  int star_counter = kStarCounterStart;
  for (;;) {
    if (first_state == 0) {
      if (CTSSignalSet() == 1) return 1;
    } else if (drop_pending) {
      if (CTSSignalSet() == 0) drop_pending = false;
    } else if (CTSSignalSet() == 1) {
      return 1;
    }
    if (star_counter > 0) {
      --star_counter;
    } else {
      star_counter = kStarCounterStart;
      std::printf("*");
      std::fflush(stdout);
    }
    EndIfKeyPressed();
    SleepMs(kCtsPollMs);
  }
}

int SyncEchoReceived(uint8_t sync_byte) {
  if (!RxPending()) return 0;
  return static_cast<uint8_t>(ReceiveWait()) == sync_byte ? 1 : 0;
}

int TrySync(LinkState& link, int attempts, int& attempt_counter) {
  while (attempts != 0) {
    Transmit(link.sync_byte);
    Transmit(link.sync_byte);
    --attempts;
    ++attempt_counter;
    if (link.info)
      std::printf("\nSent 0x%02X Twice At Timestamp %d With %d Baud", link.sync_byte,
                  static_cast<int>(MsClock()), link.baud);
    EndIfKeyPressed();
    SleepMs(kSyncPauseMs);
    if (SyncEchoReceived(link.sync_byte)) return 1;
  }
  return 0;
}

int ConnectTarget(LinkState& link) {
  ConsoleBegin();
  WaitTargetReady();
  int toggle = link.baud == kBaudHigh ? 1 : 0;
  int attempt_counter = 0;
  for (;;) {
    link.baud = toggle ? kBaudHigh : kBaudLow;
    toggle = 1 - toggle;
    SetBaudRate(link.baud);
    if (TrySync(link, kSyncAttemptsPerTry, attempt_counter)) break;
    link.settings_changed = true;
  }
  ConsoleEnd();
  return attempt_counter;
}

}  // namespace vk::link

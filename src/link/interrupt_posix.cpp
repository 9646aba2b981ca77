// Interrupts on POSIX systems: SIGINT, SIGTERM and SIGHUP, caught without
// SA_RESTART so a blocking wait returns at once and its caller sees the mark.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>

#include "link/console.h"
#include "link/interrupt.h"

namespace vk::link {
namespace {

constexpr std::array kInterruptSignals{SIGINT, SIGTERM, SIGHUP};

// One interrupt often arrives twice within microseconds: `timeout` and
// service managers signal the process and then its whole group. Only a
// signal this long after the first counts as a second one.
constexpr long kSecondSignalAfterMs = 250;

volatile sig_atomic_t g_signal = 0;
timespec g_first{};

long MsSince(const timespec& then) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
  return (now.tv_sec - then.tv_sec) * 1000 + (now.tv_nsec - then.tv_nsec) / 1'000'000;
}

void OnInterrupt(int sig) {
  if (g_signal == 0) {
    clock_gettime(CLOCK_MONOTONIC, &g_first);
    g_signal = sig;
    return;
  }
  if (MsSince(g_first) < kSecondSignalAfterMs) return;
  // A second one while the run ends: give the terminal back and go.
  ConsoleGiveBack();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void WatchInterrupts() {
  for (const int sig : kInterruptSignals) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

int Interruption() { return g_signal; }

void EndBySignal(int sig) {
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached: the signal's action ends the process
}

}  // namespace vk::link

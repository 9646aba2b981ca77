// The key press on POSIX systems: the controlling terminal, non-canonical
// while watched, given back by every signal that ends or stops the process.
#include "link/console.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace vk::link {
namespace {

// Signals whose default action ends the process, and those that stop it.
// SIGINT, SIGTERM and SIGHUP are not among them: they end the run through
// the runner (interrupt.h), which gives the terminal back on the way.
constexpr std::array kEndingSignals{SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1,
                                    SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGXCPU,   SIGXFSZ, SIGVTALRM,
                                    SIGPROF, SIGSYS,  SIGIO};
constexpr std::array kStopSignals{SIGTSTP, SIGTTIN, SIGTTOU};

// The terminal while keys are watched. This is the one piece of
// process-wide state in the link: a signal handler can reach nothing but
// static storage, and it must be able to give the terminal back.
struct KeyTerminal {
  int fd = -1;
  termios original{};
  termios keys{};
  volatile sig_atomic_t applied = 0;
  std::array<struct sigaction, kEndingSignals.size()> old_ending{};
  std::array<struct sigaction, kStopSignals.size()> old_stop{};
};
KeyTerminal g_terminal;

bool Foreground() { return tcgetpgrp(g_terminal.fd) == getpgrp(); }

// Both are safe in a signal handler.
void Restore() {
  if (g_terminal.applied) tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.original);
  g_terminal.applied = 0;
}
void Apply() {
  if (!g_terminal.applied && Foreground() && tcsetattr(g_terminal.fd, TCSANOW, &g_terminal.keys) == 0)
    g_terminal.applied = 1;
}

void Install(int sig, void (*handler)(int), struct sigaction* old) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, old);
}

void OnEndingSignal(int sig) {
  Restore();
  signal(sig, SIG_DFL);
  raise(sig);  // delivered, with its default action, when the handler returns
}

void OnStopSignal(int sig) {
  const int saved_errno = errno;
  Restore();
  signal(sig, SIG_DFL);
  raise(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);  // the process stops here
  // Continued: watch the keys again (when in the foreground).
  Install(sig, OnStopSignal, nullptr);
  Apply();
  errno = saved_errno;
}

}  // namespace

bool ConsoleBegin() {
  if (g_terminal.fd >= 0) return true;
  const int fd = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  if (tcgetattr(fd, &g_terminal.original) != 0) {
    close(fd);
    return false;
  }
  g_terminal.fd = fd;
  g_terminal.keys = g_terminal.original;
  g_terminal.keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  g_terminal.keys.c_cc[VMIN] = 0;
  g_terminal.keys.c_cc[VTIME] = 0;
  for (size_t i = 0; i < kEndingSignals.size(); ++i)
    Install(kEndingSignals[i], OnEndingSignal, &g_terminal.old_ending[i]);
  for (size_t i = 0; i < kStopSignals.size(); ++i) Install(kStopSignals[i], OnStopSignal, &g_terminal.old_stop[i]);
  Apply();
  return true;
}

void ConsoleEnd() {
  if (g_terminal.fd < 0) return;
  Restore();
  for (size_t i = 0; i < kEndingSignals.size(); ++i) sigaction(kEndingSignals[i], &g_terminal.old_ending[i], nullptr);
  for (size_t i = 0; i < kStopSignals.size(); ++i) sigaction(kStopSignals[i], &g_terminal.old_stop[i], nullptr);
  close(g_terminal.fd);
  g_terminal.fd = -1;
}

void ConsoleGiveBack() { Restore(); }

void ConsoleShowsOurText() {}

bool ConsoleKeyPressed() {
  if (g_terminal.fd < 0 || !Foreground()) return false;
  Apply();  // brought to the foreground since the last look
  std::array<char, 256> keys{};
  bool pressed = false;
  // Swallow what is waiting, so one burst of keys counts once; a terminal
  // that is fed without end cannot hold the caller here.
  for (int look = 0; look < 16 && read(g_terminal.fd, keys.data(), keys.size()) > 0; ++look) pressed = true;
  return pressed;
}

}  // namespace vk::link

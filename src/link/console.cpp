#include "link/console.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace vk::link {
namespace {

int g_tty = -1;
bool g_saved = false;
struct termios g_original;
struct sigaction g_old_int, g_old_term, g_old_hup;

void Restore() {
  if (g_tty >= 0 && g_saved) tcsetattr(g_tty, TCSANOW, &g_original);
  g_saved = false;
}

// A signal that ends the process while the terminal is in key mode must not
// leave the operator's shell without echo.
void OnSignal(int sig) {
  Restore();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void ConsoleBegin() {
  if (g_tty >= 0) return;
  g_tty = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (g_tty < 0) return;
  if (tcgetattr(g_tty, &g_original) != 0) {
    close(g_tty);
    g_tty = -1;
    return;
  }
  struct termios keys = g_original;
  keys.c_lflag &= ~(ICANON | ECHO);
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  g_saved = true;
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(Restore);
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &g_old_int);
  sigaction(SIGTERM, &sa, &g_old_term);
  sigaction(SIGHUP, &sa, &g_old_hup);
  tcsetattr(g_tty, TCSANOW, &keys);
}

void ConsoleEnd() {
  if (g_tty < 0) return;
  Restore();
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  sigaction(SIGHUP, &g_old_hup, nullptr);
  close(g_tty);
  g_tty = -1;
}

bool ConsoleKeyPressed() {
  if (g_tty < 0) return false;
  char key;
  bool pressed = false;
  // Swallow everything waiting, so one burst of keys counts once.
  while (read(g_tty, &key, 1) == 1) pressed = true;
  return pressed;
}

}  // namespace vk::link

#else  // Windows: the console's own non-blocking key test.
#include <conio.h>

namespace vk::link {
void ConsoleBegin() {}
void ConsoleEnd() {}
bool ConsoleKeyPressed() {
  if (!_kbhit()) return false;
  (void)_getch();
  return true;
}
}  // namespace vk::link
#endif

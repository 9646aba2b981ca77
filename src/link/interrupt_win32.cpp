// Interrupts on Windows: the console's control events, delivered on a
// thread of their own; the handler marks the run and lets it end itself.
#include <windows.h>

#include <csignal>

#include "link/console.h"
#include "link/interrupt.h"

namespace vk::link {
namespace {

volatile LONG g_signal = 0;

BOOL WINAPI OnControl(DWORD event) {
  const LONG sig = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT
                   : event == CTRL_CLOSE_EVENT                       ? 1  // as a hang-up
                                                                      : 0;
  if (sig == 0) return FALSE;
  // The first marks the run; a second one takes the system's own way out.
  return InterlockedCompareExchange(&g_signal, sig, 0) == 0 ? TRUE : FALSE;
}

}  // namespace

void WatchInterrupts() { SetConsoleCtrlHandler(OnControl, TRUE); }

int Interruption() { return static_cast<int>(g_signal); }

void EndBySignal(int) {
  ConsoleGiveBack();  // the console's code page: no exit handler runs after this
  // What a process ended by Ctrl-C reports to its parent.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace vk::link

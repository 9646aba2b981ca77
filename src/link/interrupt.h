// A run interrupted by Ctrl-C, SIGTERM or a hang-up ends like any other run.
//
// The signal only marks the run. The next link routine, the connection
// wait or a prompt sees the mark and ends the run through the runner: once
// the port is open through ExitTool, so RTS and the handshake are put back
// to rest, never through EndSession (the board is not talked to again).
// The runner then closes the port (a network serial server is told, and is
// free for the next run at once), ends an open progress line, hands
// everything printed to standard output, and ends the process by the same
// signal, so its parent sees what stopped it (a shell shows 130, 143, 129).
// A second signal while the run ends ends the process at once.
//
// On Windows the console's Ctrl-C and Ctrl-Break stand for SIGINT and its
// close event for SIGHUP (interrupt_posix.cpp, interrupt_win32.cpp).
#pragma once

namespace vk::link {

// From here on SIGINT, SIGTERM and SIGHUP mark the run (a signal the
// process was started with ignored stays ignored).
void WatchInterrupts();

// The signal that interrupted the run, or 0.
int Interruption();

// The error a backend returns when a wait of its was cut short by the mark.
inline constexpr int kInterruptedError = 4;

// Ends the process by `sig`, as the signal's own action would have.
[[noreturn]] void EndBySignal(int sig);

// Whether standard output holds a line not yet ended: the stars of the
// connection wait, a load's address, the wait for the board's work.
inline bool& ProgressLineState() {
  static bool open = false;
  return open;
}
inline void SetProgressLineOpen(bool open) { ProgressLineState() = open; }
inline bool ProgressLineOpen() { return ProgressLineState(); }

}  // namespace vk::link

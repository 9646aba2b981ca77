// How a run ends.
//
// Nothing below a program's main ends the process. A failure prints its
// message where it happens and throws a RunEnd naming the exit code and the
// way out; the runner (frame/run.h) catches it and takes that way:
//   Direct      the process ends at once; the lines are not touched
//               (before the port is open, and the line steps ExitTool
//               itself uses)
//   ExitTool    the handshake and RTS are put back to rest first
//   EndSession  the session with the monitor is closed, then ExitTool
// A program's normal end is a RunEnd too, returned rather than thrown.
#pragma once

namespace vk::link {

// Every failure and every refusal.
inline constexpr int kExitFailure = 2;
// The programs' second normal outcome (shown as 254 on Linux): a listing
// printed, file errors found, a program renamed, the flash formatted, a
// file that is not a program.
inline constexpr int kExitAltOutcome = -2;

enum class Leave { Direct, ExitTool, EndSession };

struct RunEnd {
  int code = 0;
  Leave leave = Leave::Direct;
  int signal = 0;  // the signal that interrupted the run (interrupt.h), or 0
};

[[noreturn]] inline void EndRun(int code, Leave leave) { throw RunEnd{code, leave}; }

// An interrupted run ends directly before the port is open and through
// ExitTool after, never through EndSession. Its code is the shell's for a
// process ended by the signal; the runner then ends the process by it.
[[noreturn]] inline void EndRunInterrupted(int signal, bool port_open) {
  throw RunEnd{128 + signal, port_open ? Leave::ExitTool : Leave::Direct, signal};
}

}  // namespace vk::link

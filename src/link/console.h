// The operator's key press that ends a connection attempt.
//
// The key is read from the controlling terminal, never from standard input
// (which may be a pipe or a script's input). While the connection is being
// sought the terminal is switched to non-canonical, no-echo input so one key
// counts at once; it is put back as it was when the wait ends, and by every
// signal that ends the process. A stop (Ctrl-Z) gives it back too and a
// continue takes it again. Only a process in the terminal's foreground
// touches it. With no terminal there is never a key. On Windows the key is
// the console's (console_posix.cpp, console_win32.cpp).
#pragma once

namespace vk::link {

// Starts watching the terminal. True when there is one to deliver a key.
bool ConsoleBegin();
// Puts the terminal back as ConsoleBegin found it.
void ConsoleEnd();
// True when a key was waiting; the key is read and discarded. Never blocks.
bool ConsoleKeyPressed();
// Puts the terminal back at once, from a signal handler too (a second
// interrupt, which ends the process without unwinding).
void ConsoleGiveBack();

// Text written to a console shows as written: on Windows the console shows
// the process's code page (UTF-8, by the manifest) until the process ends,
// when its own is put back. Elsewhere nothing needs doing.
void ConsoleShowsOurText();

}  // namespace vk::link

// The operator's key press that ends a connection attempt.
//
// The key is read from the controlling terminal, never from standard input
// (which may be a pipe or a script's input). While the connection is being
// sought the terminal is switched to non-canonical, no-echo input so one key
// counts at once; it is put back as it was when the wait ends or the process
// exits. With no terminal there is never a key.
#pragma once

namespace vk::link {

// Starts watching the terminal. Harmless when there is no terminal.
void ConsoleBegin();
// Puts the terminal back as ConsoleBegin found it.
void ConsoleEnd();
// True when a key was waiting; the key is read and discarded. Never blocks.
bool ConsoleKeyPressed();

}  // namespace vk::link

// The key press on Windows: key events of the console itself (CONIN$),
// never standard input, which may be a pipe or a script's input.
//
// Every look first waits on the console input for no time at all. A
// console host that takes input from its terminal only while a client waits
// for it (Wine's, on a Unix terminal) takes the key in then; without that
// wait no key ever arrives there, however long the tool polls.
#include <windows.h>

#include <array>
#include <cstdlib>

#include "link/console.h"

namespace vk::link {
namespace {

HANDLE g_input = INVALID_HANDLE_VALUE;
UINT g_console_code_page = 0;  // the console's own, while ours is shown

void GiveCodePageBack() {
  if (g_console_code_page != 0) SetConsoleOutputCP(g_console_code_page);
}

BOOL WINAPI OnBreak(DWORD) {
  GiveCodePageBack();
  return FALSE;  // and the process ends as it would have
}

// A key going down that is more than a modifier or a lock key; the release
// of the Enter key that started the program does not count.
bool IsKeyPress(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return false;
  switch (record.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return false;
    default:
      return true;
  }
}

}  // namespace

bool ConsoleBegin() {
  if (g_input != INVALID_HANDLE_VALUE) return true;
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) {
    CloseHandle(input);
    return false;
  }
  g_input = input;
  return true;
}

void ConsoleEnd() {
  if (g_input == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_input);
  g_input = INVALID_HANDLE_VALUE;
}

// The console's own code page back, at once (also on the way out of an
// interrupted run, which ends the process without the exit handlers).
void ConsoleGiveBack() { GiveCodePageBack(); }

void ConsoleShowsOurText() {
  const UINT ours = GetACP();
  const UINT theirs = GetConsoleOutputCP();  // 0: no console
  if (theirs == 0 || theirs == ours || g_console_code_page != 0 || !SetConsoleOutputCP(ours)) return;
  g_console_code_page = theirs;
  std::atexit(GiveCodePageBack);
  SetConsoleCtrlHandler(OnBreak, TRUE);
}

bool ConsoleKeyPressed() {
  if (g_input == INVALID_HANDLE_VALUE) return false;
  WaitForSingleObject(g_input, 0);
  // Take what is waiting, so one burst of keys counts once; a console fed
  // without end cannot hold the caller here.
  std::array<INPUT_RECORD, 64> records{};
  bool pressed = false;
  for (int look = 0; look < 16; ++look) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(g_input, &waiting) || waiting == 0) break;
    DWORD got = 0;
    if (!ReadConsoleInputW(g_input, records.data(), static_cast<DWORD>(records.size()), &got) || got == 0) break;
    for (DWORD i = 0; i < got; ++i)
      if (IsKeyPress(records[i])) pressed = true;
  }
  return pressed;
}

}  // namespace vk::link

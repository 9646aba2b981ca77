// The key press on Windows: the console's own non-blocking key test.
#include <conio.h>
#include <windows.h>

#include "link/console.h"

namespace vk::link {

bool ConsoleBegin() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void ConsoleEnd() {}

void ConsoleGiveBack() {}

bool ConsoleKeyPressed() {
  if (!_kbhit()) return false;
  (void)_getch();
  return true;
}

}  // namespace vk::link

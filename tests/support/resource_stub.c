// SPDX-License-Identifier: MIT
// A Windows program that does nothing: the body of the executables built only to carry the
// player's resources, so the resource tests read them from a real linked image.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  return 0;
}

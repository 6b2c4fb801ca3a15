// SPDX-License-Identifier: MIT
// The process entry: runs the player dialog. The command line and show state are not used, and
// the exit code is always 0.
#include "app/playback.h"
#include "app/player_dialog.h"
#include "res/resource.h"

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)previous;
  (void)command_line;
  (void)show;
  PLAYBACK.instance = instance;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PLAYER), 0, player_dialog_proc, 0);
  return 0;
}

// The player's one dialog and the process entry. The dialog procedure is the program's main
// loop: start-up, the two buttons, closing and the wave device's buffer-done notifications all
// arrive as messages to it and are handed on to the playback control.
#pragma once
#include "platform/win32.h"

// Handles a message of the player dialog; TRUE for the messages it handles, else FALSE.
INT_PTR CALLBACK player_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The entry: runs the dialog and returns 0, whatever happened. C linkage, as the C runtime's
// start-up calls it by that name.
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

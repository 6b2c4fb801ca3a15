// SPDX-License-Identifier: MIT
// The player's one dialog and the process entry. The dialog procedure is the program's main
// loop: start-up, the two buttons, closing and the wave device's buffer-done notifications all
// arrive as messages to it and are handed on to the playback control.
#pragma once
#include <stdint.h>

#include "platform/win32.h"

// Handles a message of the player dialog; TRUE for the messages it handles, else FALSE.
INT_PTR CALLBACK player_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The entry: runs the dialog and returns 0, whatever happened. C linkage, as the C runtime's
// start-up calls it by that name.
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

// Writes the window title for an elapsed position of the given number of blocks.
void title_update(HWND dialog, int32_t blocks);

// After a click on button (play or stop): takes the default-button mark off it and parks the
// keyboard focus on the label, so that Enter and Space reach neither button.
void button_release(HWND dialog, int button);

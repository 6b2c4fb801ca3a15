// SPDX-License-Identifier: MIT
// The other side of the stand-in for Windows services: what the program hosting the player on
// Linux sets up and drives. A module gives the player its resources (read from the Windows
// player's own executable image) and its file name (the carrier); a wave device stands for the
// sound card; a dialog face stands for the screen, the mouse and the keyboard.
//
// Invariants: everything here is called on the dialog's thread, except platform_post, which a
// device's own thread may call. Input reaches the dialog as posted
// messages, in order with the device's notifications, the way the dialog manager turns clicks and
// keys into commands.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/win32.h"

// ---- Module ---------------------------------------------------------------------------------

// The module the player runs as: resources are looked up in image (a Windows executable),
// GetModuleFileNameA answers path. The strings and the image must outlive the module's use.
HINSTANCE platform_module(const uint8_t* image, size_t image_size, const char* path);

// ---- Wave devices ---------------------------------------------------------------------------

// One kind of sound output behind waveOut*. A device plays whole buffers in the order queued.
// A device without its own thread (threaded 0) plays the head buffer whenever the dialog's loop
// has nothing else to do, and the buffer counts as played when play returns. A threaded device
// gets a thread of the stand-in's that calls play for one buffer after another; play may block
// until the sound card has taken the samples, but must look at platform_wave_play_cancelled
// while it does and return soon once that says so. abort (may be null) is called by
// waveOutReset from the dialog's thread right after it cancelled the play, to wake a play that
// sleeps.
struct WaveDevice {
  const char* name;
  void* context;
  int threaded;
  int (*supports)(void* context, const WAVEFORMATEX* format);  // 1 when it can play format
  int (*open)(void* context, const WAVEFORMATEX* format);      // 1 on success
  void (*play)(void* context, const int16_t* samples, size_t count);
  void (*abort)(void* context);  // threaded devices only; may be null otherwise
  void (*close)(void* context);
};

// Installs the device behind waveOut* (null: the system has no wave output device, so
// waveOutGetNumDevs answers 0). Only while no device is open.
void platform_wave_device(const WaveDevice* device);

// A device that discards every buffer at once.
const WaveDevice* platform_wave_null(void);

// A device that hands every played buffer to sink, in order; for capturing what the player plays.
typedef void (*WaveSink)(void* context, const int16_t* samples, size_t count);
const WaveDevice* platform_wave_sink(WaveSink sink, void* context);

// A device that writes every played sample to a 16-bit PCM WAV file at path (header completed
// when the device closes; each open starts the file again). Returns null when path is too long.
const WaveDevice* platform_wave_file(const char* path);

// The system's default sound card (ALSA), converting to what the card can play. Its open fails
// when there is no card or it refuses the format; platform_wave_alsa_failure then says why.
const WaveDevice* platform_wave_alsa(void);
const char* platform_wave_alsa_failure(void);

// For a threaded device's play: 1 once waveOutReset has handed back the buffer being played,
// which play should then give up at once. The stand-in clears it whenever its thread takes the
// next buffer, so a reset can never cut short a buffer queued after it.
int platform_wave_play_cancelled(void);

// Number of buffers the open device holds, queued or playing; 0 when none is open.
int platform_wave_pending(void);

// Plays the head buffer of an open device without a thread of its own, marks it done and posts
// its MM_WOM_DONE. Returns 1 when a buffer was played. The dialog's loop calls it when idle.
int platform_wave_play_next(void);

// ---- Dialog face ----------------------------------------------------------------------------

// What stands for the screen and the user while a dialog runs. Every member may be null.
struct DialogFace {
  void* context;
  // The dialog's loop has nothing to do: no message waits, and no device without a thread of its
  // own has a buffer to play. The face may post input (platform_click, platform_key, ...).
  // Returns how many milliseconds the loop may wait for a posted message before asking again;
  // -1 waits until one comes.
  int (*idle)(void* context, HWND dialog);
  // The dialog is about to show for the first time (after WM_INITDIALOG).
  void (*shown)(void* context, HWND dialog);
  // Called after each message the dialog procedure was handed, with the procedure's result.
  void (*handled)(void* context, HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                  INT_PTR result);
  // The window's text changed.
  void (*title)(void* context, HWND window, const char* text);
  // A message box; returns the button pressed (IDOK when null).
  int (*message_box)(void* context, HWND owner, const char* text, const char* caption, UINT type);
};

void platform_dialog_face(const DialogFace* face);

// ---- Input, as the dialog manager turns it into commands -------------------------------------

// A click on control id: if it is visible and enabled, it takes the focus (a push button also
// takes the default-button mark) and the dialog gets WM_COMMAND (id, BN_CLICKED).
void platform_click(HWND dialog, int id);

// A key pressed while the dialog is active: Escape gives WM_COMMAND IDCANCEL, Enter gives
// WM_COMMAND with the id of the dialog's default push button (IDOK when it has none).
void platform_key(HWND dialog, int key);

// The close box: WM_COMMAND IDCANCEL.
void platform_close(HWND dialog);

// Posts a message to window from any thread; false when the window is gone.
BOOL platform_post(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// ---- Looking at a dialog (tests and faces) ---------------------------------------------------

// The image set on a button with BM_SETIMAGE, or null.
HBITMAP platform_button_image(HWND button);
// The resource number an image was loaded from.
int platform_image_id(HBITMAP image);
// Whether the window is visible (WS_VISIBLE).
BOOL platform_window_visible(HWND window);

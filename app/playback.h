// SPDX-License-Identifier: MIT
// Playback control: starting and resuming, stopping, the work on each buffer-done notification
// of the wave output, the end of the message, and the elapsed and total time in the title.
// Everything runs on the dialog's thread, called from the dialog procedure.
//
// States (playing, decoding, block_counter):
//   Idle      0 0 0                      Playing  1 1 next block to read
//   Draining  1 0 0 (last buffers play)  Halted   0 0 position held, above 0
// Invariant while decoding: carrier_file stands at 163,852 + 1,440 x block_counter.
#pragma once
#include <stdint.h>

#include "payload/payload.h"
#include "platform/win32.h"

struct PlaybackState {
  HINSTANCE instance;
  char carrier_path[MAX_PATH];  // the player's own executable: the carrier
  const CarrierFiles* carrier_files;  // how the carrier is reached; null: the file system
  void* carrier_file;           // open while playing
  HBITMAP play_image;           // the play button's image while stopped
  HBITMAP playing_image;        // ... and while playing
  uint8_t playing;              // the device and carrier_file are open
  uint8_t decoding;             // blocks remain to be read
  int32_t block_counter;        // next block to read; held across a stop so that play resumes
  int32_t total_seconds;
  PayloadHeader payload_header;
  int8_t effect_code;
  uint8_t level_byte;
  uint8_t block_buffer[BLOCK_BYTES];  // the block read last, unscrambled in place by the decoder
  // The wave output (device, buffers, priming flag) is the audio module's WAVE.
};

extern PlaybackState PLAYBACK;

// Plays, or resumes from block_counter one block back. Does nothing while playing.
void playback_start(HWND dialog);

// Halts playback and holds the position; does nothing unless playing.
void playback_stop(HWND dialog);

// The work for one MM_WOM_DONE: header is the buffer the device handed back.
void playback_buffer_done(HWND dialog, WAVEHDR* header);

// The stop button while stopped: the held position goes back to the start of the message.
void playback_rewind(HWND dialog);

// The way the carrier is reached: PLAYBACK.carrier_files, or the file system.
const CarrierFiles* playback_files(void);

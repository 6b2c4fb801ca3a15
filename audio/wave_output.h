// SPDX-License-Identifier: MIT
// Wave output: the sound device and its two buffers, which take turns: while the device plays
// one, the player refills the other with the next block.
//
// Every start opens the device at 16,000 Hz mono 16-bit, allocates both buffers with their
// prepared headers, starts the buffer cycle (a new decoder stream, the effect's set-up) and
// queues both buffers silent; every stop hands all of it back. Between them each buffer cycles:
// played, returned by MM_WOM_DONE, refilled, run through the effect stage, queued again.
//
// The player has one wave output, WAVE, whose cycle runs over the player's one decoder and one
// effect stage: process-wide state that lives until the process ends.
//
// Invariants:
// - A buffer is queued only when every change to it is finished; a queued buffer is never touched.
// - The first refill after a start is the priming refill: its block goes into the decoder's
//   history and the buffer comes out silent. A block that fails to decode gives a silent buffer,
//   never a partly filled one.
// - Nothing is allocated between a start and its stop.
#pragma once
#include <stdint.h>

#include "audio/buffer_cycle.h"
#include "platform/win32.h"

struct WaveOutput {
  HWAVEOUT device;            // open from a successful wave_start to wave_stop
  int16_t* buffer_a;
  int16_t* buffer_b;
  WAVEHDR* header_a;          // describes buffer_a, prepared for device
  WAVEHDR* header_b;
  BufferCycle cycle;          // the priming flag and the decode request, over the player's
                              // decoder and effect stage
};

extern WaveOutput WAVE;

enum { WAVE_START_OK = 0, WAVE_START_NO_DEVICE = 5 };

// Opens the default device for 16 kHz mono 16-bit with notifications to window; null when there
// is no device, it refuses the format or the open fails.
HWAVEOUT wave_open(HWND window);

// A header for samples (length bytes), prepared for device; null when that fails.
WAVEHDR* wave_header_create(HWAVEOUT device, int16_t* samples, int32_t length);

// Unprepares and frees a header (nothing for null).
void wave_header_free(HWAVEOUT device, WAVEHDR* header);

// Opens the device, sets up buffers, decoder stream and effect, and queues both buffers silent.
// Returns WAVE_START_OK, or WAVE_START_NO_DEVICE with everything released when the device cannot
// be opened or the buffers cannot be set up.
int wave_start(HWND window, int8_t effect_code, int8_t effect_level);

// Refills the header's buffer from block (1,440 bytes, unscrambled in place), without the effect;
// returns its samples.
int16_t* wave_refill(WAVEHDR* header, uint8_t* block);

// Hands a refilled buffer back to the device.
void wave_queue(WAVEHDR* header);

// Resets and closes the device and frees the headers and buffers. The device's notifications
// for the buffers it hands back arrive afterwards and name freed headers.
void wave_stop(void);

// 1 when header is one of the open device's two headers and the device has handed it back.
int wave_header_returned(const WAVEHDR* header);

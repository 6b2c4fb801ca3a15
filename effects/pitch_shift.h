// SPDX-License-Identifier: MIT
// Pitch shift, effect codes 11 to 16: a higher or lower voice at the same pace, optionally with
// repeating echoes that shift again on every pass.
//
// The voice is written into the delay line and read through two pairs of interpolated taps that
// move about 1 + rate slots per sample, so their read point drifts against the write point. After
// the sounding pair has drifted across the window, the silent pair is placed back at the window's
// starting end and the output cross-fades to it over FADE_LENGTH samples with sine and cosine
// gains of constant power. Between fades one pair has gain exactly 1 and the other exactly 0.
// The wet value is not clipped: the stage mixes and clips. Rates must lie in -1..1, so that a
// sample carries or borrows at most once (all six presets do).
//
// The line's first tap pair, phase and write slot live in the shared DelayLineState; the second
// pair, the gains and the cross-fade live in the PitchShifter record beside it.
#pragma once
#include <stdint.h>

#include "effects/delay_line.h"

struct PitchShifter {
  // Quarter waves for the cross-fade, sin and cos of i * pi / 384, filled by every set-up.
  float fade_sine[FADE_LENGTH];
  float fade_cosine[FADE_LENGTH];
  int32_t tap_newer_2;   // the second tap pair
  int32_t tap_older_2;
  float gain_1;
  float gain_2;
  int32_t gain_1_sine;   // during a cross-fade gain_1 follows fade_sine (1) or fade_cosine (0)
  int32_t fade_count;    // samples of cross-fade still to come, 0 when none runs
  int32_t pair_one_leads;
  int32_t rising;
  int32_t jump_interval;
  int32_t jump_countdown;
};

// Loads PITCH_SHIFT_PRESETS[index] (0 to 5) into line, derives the window and clears the line.
void pitch_shift_setup(DelayLineState* line, PitchShifter* shifter, int index);

// Feeds one sample and returns the wet sample. Call once per sample in stream order.
int32_t pitch_shift_process(DelayLineState* line, PitchShifter* shifter, int32_t x);

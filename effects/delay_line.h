// SPDX-License-Identifier: MIT
// The delay line shared by the swept delay (codes 5 to 10) and the pitch shifter (codes 11 to 16).
//
// Both families read the same kind of preset and keep the line in one DelayLineState record (the
// pitch shifter adds a PitchShifter record of its own); only one of them runs in a playback, and
// whichever set-up ran last owns the line. Records are passed by pointer. The line is
// sized for the longest preset (8,000 samples, half a second); a set-up clears only the part its
// preset uses. Floats are stored as float32; sums are formed in double precision; conversions to
// integers truncate toward zero.
#pragma once
#include <stdint.h>

enum {
  DELAY_LINE_CAPACITY = 8000,
  DELAY_PRESET_COUNT = 12,  // six swept delays, then six pitch shifts
  FADE_LENGTH = 192         // cross-fade of the pitch shifter, 12 ms
};

// Five single-precision fields. Times are milliseconds at 16 samples per millisecond; what rate
// means depends on the family (see swept_delay.h and pitch_shift.h).
struct DelayPreset {
  float wet_gain;
  float feedback;
  float rate;
  float span_ms;
  float base_ms;
};

// Indexed by effect code - 5; never written.
extern const DelayPreset DELAY_PRESETS[DELAY_PRESET_COUNT];
constexpr const DelayPreset* SWEPT_DELAY_PRESETS = DELAY_PRESETS;
constexpr const DelayPreset* PITCH_SHIFT_PRESETS = DELAY_PRESETS + 6;

struct DelayLineState {
  DelayPreset preset;
  float line[DELAY_LINE_CAPACITY];
  int32_t length;        // slots in use: 2 * (span_samples + base_samples)
  int32_t span_samples;
  int32_t base_samples;
  int32_t upper_bound;   // length - base_samples - 2
  int32_t lower_bound;   // upper_bound - span_samples
  uint32_t phase;        // 16.16: low half the weight of the newer tap in 65,536ths
  int32_t increment;
  int32_t write_index;
  int32_t tap_newer;
  int32_t tap_older;
  float wet;             // last wet value before its conversion to an integer
};

// Copies preset into line and lays it out for it: span and base in samples, the active length
// (cleared to silence) and the two bounds. The families' set-ups start here.
void delay_line_load(DelayLineState* line, const DelayPreset& preset);

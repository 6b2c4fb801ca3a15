// SPDX-License-Identifier: MIT
// Room reverberator, effect codes 1 to 4: the reverberation of four rooms, smallest to largest.
//
// Three stages in series: a tap line whose eight weighted taps sum to one early-reflection value,
// six combs in parallel (each with a one-pole low-pass in its feedback path) driven by that value,
// and one all-pass over the sum of the comb outputs, whose output is the effect value.
//
// Integer arithmetic with Q15 coefficients. Every product or sum of products is formed modulo
// 2^32, exactly as a 32-bit register would hold it, and then shifted right arithmetically, which
// rounds toward minus infinity. Nothing saturates; the effect stage's clip is the only one.
// The state is one record sized for the largest room, passed by pointer; room_reverb_setup empties it.
#pragma once
#include <stdint.h>

enum {
  REVERB_TAPS = 8,
  REVERB_COMBS = 6,
  REVERB_TAP_LINE = 4096,
  REVERB_COMB_MAX = 2048,
  REVERB_ALLPASS_MAX = 64,
  REVERB_PRESET_COUNT = 4
};

// One room: nineteen signed 32-bit fields in this order. Times are in samples, gains in Q15.
struct ReverbPreset {
  int32_t tap_spacing[REVERB_TAPS - 1];  // distance from each tap to the next
  int32_t comb_input_gain;               // weight of the early reflections into every comb
  int32_t comb_feedback;                 // negative: resonances fall on odd harmonics
  int32_t damping;                       // pole of each comb's low-pass
  int32_t damping_step;                  // each later comb keeps a little less, so decays faster
  int32_t comb_length[REVERB_COMBS];     // at most REVERB_COMB_MAX
  int32_t allpass_length;                // at most REVERB_ALLPASS_MAX
  int32_t allpass_coefficient;
};

extern const ReverbPreset REVERB_PRESETS[REVERB_PRESET_COUNT];

struct RoomReverb {
  ReverbPreset preset;
  int32_t comb_gain[REVERB_COMBS];  // feedback gain of each comb, derived from the preset
  int32_t tap_line[REVERB_TAP_LINE];
  int32_t tap_position;             // slot of the next input; counts down
  int32_t comb_line[REVERB_COMBS][REVERB_COMB_MAX];
  int32_t comb_position[REVERB_COMBS];  // counts down through the comb's length
  int32_t lowpass[REVERB_COMBS];
  int32_t allpass_line[REVERB_ALLPASS_MAX];
  int32_t allpass_position;         // counts up through the all-pass length
};

// Loads REVERB_PRESETS[index] (0 to 3) and clears all memory.
void room_reverb_setup(RoomReverb* reverb, int index);

// Feeds one input value (the effect stage passes a quarter of the sample) and returns one effect
// value. Call once per sample in stream order.
int32_t room_reverb_process(RoomReverb* reverb, int32_t v);

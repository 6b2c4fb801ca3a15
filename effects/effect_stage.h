// SPDX-License-Identifier: MIT
// Effect stage: gives each decoded buffer the voice effect named by the payload header.
//
// effect_start selects a family by the effect code and runs its set-up; effect_apply then replaces
// every sample, in place, by the dry sample mixed with the family's effect sample by the level
// (the effect's weight out of 128; negative levels subtract it), divided truncating toward zero
// and clipped to 16 bits. The families keep their memory across buffers, so buffer boundaries
// make no difference to the output.
//
// Code 0 plays dry. Codes without a parameter record (17 to 127 and the negative codes from
// header bytes 128 to 255) also play dry: no set-up runs and buffers pass unchanged.
//
// An EffectStage holds every family's state, so stages are independent of each other; a zeroed
// stage plays dry until its first effect_start.
#pragma once
#include <stdint.h>

#include "effects/delay_line.h"
#include "effects/pitch_shift.h"
#include "effects/room_reverb.h"

enum {
  EFFECT_CODE_MAX = 16  // highest effect code with a parameter record
};

struct EffectFamily;

struct EffectStage {
  const EffectFamily* family;  // null plays dry
  int32_t level;
  RoomReverb reverb;           // codes 1 to 4
  DelayLineState delay;        // codes 5 to 16: the line the swept delay and pitch shifter share
  PitchShifter pitch;          // codes 11 to 16
};

// Called at every playback start, before the first effect_apply.
void effect_start(EffectStage* stage, int8_t code, int8_t level);

// Runs the selected effect over byte_count / 2 samples in place (nothing when that is 0 or less).
void effect_apply(EffectStage* stage, int16_t* samples, int32_t byte_count);

// 1 when the code selects an effect (1 to EFFECT_CODE_MAX), else 0.
int effect_code_known(int code);

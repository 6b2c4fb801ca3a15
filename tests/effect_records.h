// SPDX-License-Identifier: MIT
// One effect stage for the effect tests, as the player keeps one for its whole process, and the
// families' calls over its records by their short forms.
#pragma once
#include "effects/effect_stage.h"
#include "effects/swept_delay.h"

inline EffectStage STAGE;
inline RoomReverb& ROOM_REVERB = STAGE.reverb;
inline DelayLineState& DELAY_LINE = STAGE.delay;
inline PitchShifter& PITCH = STAGE.pitch;

inline void effect_start(int8_t code, int8_t level) { effect_start(&STAGE, code, level); }
inline void effect_apply(int16_t* samples, int32_t bytes) { effect_apply(&STAGE, samples, bytes); }
inline void room_reverb_setup(int index) { room_reverb_setup(&ROOM_REVERB, index); }
inline int32_t room_reverb_process(int32_t v) { return room_reverb_process(&ROOM_REVERB, v); }
inline void swept_delay_setup(int index) { swept_delay_setup(&DELAY_LINE, index); }
inline int32_t swept_delay_process(int32_t x) { return swept_delay_process(&DELAY_LINE, x); }
inline void pitch_shift_setup(int index) { pitch_shift_setup(&DELAY_LINE, &PITCH, index); }
inline int32_t pitch_shift_process(int32_t x) { return pitch_shift_process(&DELAY_LINE, &PITCH, x); }

// SPDX-License-Identifier: MIT
#include "effects/effect_stage.h"

#include "effects/swept_delay.h"

// Each family's set-up and process over the stage's records.
static void reverb_setup(EffectStage* s, int index) { room_reverb_setup(&s->reverb, index); }
static int32_t reverb_process(EffectStage* s, int32_t x) { return room_reverb_process(&s->reverb, x); }
static void delay_setup(EffectStage* s, int index) { swept_delay_setup(&s->delay, index); }
static int32_t delay_process(EffectStage* s, int32_t x) { return swept_delay_process(&s->delay, x); }
static void pitch_setup(EffectStage* s, int index) { pitch_shift_setup(&s->delay, &s->pitch, index); }
static int32_t pitch_process(EffectStage* s, int32_t x) {
  return pitch_shift_process(&s->delay, &s->pitch, x);
}

// An effect family: its codes, how to prime it, how to run it, and how its sample enters the mix.
struct EffectFamily {
  int32_t first_code;
  int32_t records;
  void (*setup)(EffectStage* stage, int index);
  int32_t (*process)(EffectStage* stage, int32_t x);
  int32_t input_divisor;  // the reverberator hears a quarter of the signal...
  int32_t wet_scale;      // ...and is mixed back twelve times as strong
};

static const EffectFamily EFFECT_FAMILIES[] = {
    {1, REVERB_PRESET_COUNT, reverb_setup, reverb_process, 4, 12},  // rooms, codes 1-4
    {5, 6, delay_setup, delay_process, 1, 1},                       // echoes, codes 5-10
    {11, 6, pitch_setup, pitch_process, 1, 1},                      // pitch, codes 11-16
};

static const EffectFamily* effect_family_of(int code) {
  for (const EffectFamily& family : EFFECT_FAMILIES)
    if (code >= family.first_code && code < family.first_code + family.records) return &family;
  return nullptr;
}

int effect_code_known(int code) { return effect_family_of(code) ? 1 : 0; }

void effect_start(EffectStage* stage, int8_t code, int8_t level) {
  stage->family = effect_family_of(code);
  if (stage->family) stage->family->setup(stage, code - stage->family->first_code);
  stage->level = level;
}

void effect_apply(EffectStage* stage, int16_t* samples, int32_t byte_count) {
  const EffectFamily* family = stage->family;
  if (!family) return;
  const int32_t d = stage->level;
  for (int32_t i = 0; i < byte_count / 2; i++) {
    const int32_t x = samples[i];
    const int32_t w = family->process(stage, x / family->input_divisor);
    // The mix is 32-bit arithmetic: formed in 64 bits and reduced modulo 2^32, so a runaway wet
    // value wraps as the 32-bit form would rather than overflowing a signed int.
    const int64_t wide = (int64_t)(128 - d) * x + (int64_t)family->wet_scale * d * w;
    const int32_t y = (int32_t)(uint32_t)(uint64_t)wide / 128;
    samples[i] = (int16_t)(y > 32767 ? 32767 : y < -32768 ? -32768 : y);
  }
}

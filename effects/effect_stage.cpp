#include "effects/effect_stage.h"

#include "effects/pitch_shift.h"
#include "effects/room_reverb.h"
#include "effects/swept_delay.h"

// An effect family: its codes, how to prime it, how to run it, and how its sample enters the mix.
struct EffectFamily {
  int32_t first_code;
  int32_t records;
  void (*setup)(int index);
  int32_t (*process)(int32_t x);
  int32_t input_divisor;  // the reverberator hears a quarter of the signal...
  int32_t wet_scale;      // ...and is mixed back twelve times as strong
};

static const EffectFamily EFFECT_FAMILIES[] = {
    {1, REVERB_PRESET_COUNT, room_reverb_setup, room_reverb_process, 4, 12},  // rooms, codes 1-4
    {5, 6, swept_delay_setup, swept_delay_process, 1, 1},                     // echoes, codes 5-10
    {11, 6, pitch_shift_setup, pitch_shift_process, 1, 1},                    // pitch, codes 11-16
};

static const EffectFamily* effect_family = nullptr;  // null plays dry
static int32_t effect_level = 0;

static const EffectFamily* effect_family_of(int code) {
  for (const EffectFamily& family : EFFECT_FAMILIES)
    if (code >= family.first_code && code < family.first_code + family.records) return &family;
  return nullptr;
}

int effect_code_known(int code) { return effect_family_of(code) ? 1 : 0; }

void effect_start(int8_t code, int8_t level) {
  effect_family = effect_family_of(code);
  if (effect_family) effect_family->setup(code - effect_family->first_code);
  effect_level = level;
}

void effect_apply(int16_t* samples, int32_t byte_count) {
  const EffectFamily* family = effect_family;
  if (!family) return;
  const int32_t d = effect_level;
  for (int32_t i = 0; i < byte_count / 2; i++) {
    const int32_t x = samples[i];
    const int32_t w = family->process(x / family->input_divisor);
    // The mix is 32-bit arithmetic: formed in 64 bits and reduced modulo 2^32, so a runaway wet
    // value wraps as the 32-bit form would rather than overflowing a signed int.
    const int64_t wide = (int64_t)(128 - d) * x + (int64_t)family->wet_scale * d * w;
    const int32_t y = (int32_t)(uint32_t)(uint64_t)wide / 128;
    samples[i] = (int16_t)(y > 32767 ? 32767 : y < -32768 ? -32768 : y);
  }
}

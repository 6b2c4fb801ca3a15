// Names of the voice effects, for the command-line tool; the player does not link this.
//
// One row per effect code 1 to EFFECT_CODE_MAX, in code order: a short unique lower-case name
// without spaces, the family, and how it sounds. Code 0 is no effect and has no row.
#pragma once
#include <stdint.h>

#include "effects/effect_stage.h"

struct EffectInfo {
  int8_t code;
  const char* name;
  const char* family;  // "reverb", "swept-delay" or "pitch-shift"
  const char* description;
};

extern const EffectInfo EFFECT_NAMES[EFFECT_CODE_MAX];

// The row for a code from 1 to EFFECT_CODE_MAX, else null.
const EffectInfo* effect_info(int code);

// The code named by text: an effect name, "none", or a decimal code from 0 to EFFECT_CODE_MAX.
// Returns -1 when the text names no effect.
int effect_find(const char* text);

// SPDX-License-Identifier: MIT
// The voice effects by name: one row per effect code 1 to QUIRA_EFFECT_CODE_MAX, in code order: a
// short unique lower-case name without spaces, the family, and how it sounds. Code 0 is no effect
// and has no row. Whether a code plays is the effect stage's to say; these rows only name them.
#include <string.h>

#include "effects/effect_stage.h"
#include "quira/quira.h"

static_assert((int)QUIRA_EFFECT_CODE_MAX == (int)EFFECT_CODE_MAX, "one effect table for the library and the stage");

static const QuiraEffect EFFECT_NAMES[EFFECT_CODE_MAX] = {
    {1, "small-room", "reverb", "reverberation of a small room"},
    {2, "medium-room", "reverb", "reverberation of a medium room"},
    {3, "large-room", "reverb", "reverberation of a large room"},
    {4, "hall", "reverb", "reverberation of the largest room, long and strong"},
    {5, "echo", "swept-delay", "an echo every 250 ms, fading slowly"},
    {6, "flanger", "swept-delay", "a very short delay swept from 0.1 to 6 ms every 6 s"},
    {7, "dark-flanger", "swept-delay", "the flanger inverted, with negative feedback, hollow"},
    {8, "chorus", "swept-delay", "a second voice delayed 20 to 40 ms, drifting every 3.7 s"},
    {9, "resonator", "swept-delay", "a 12.5 ms repeat with strong feedback, a metallic ring"},
    {10, "warble", "swept-delay", "a deep fast sweep of 40 to 80 ms twice a second, wobbling"},
    {11, "pitch-down", "pitch-shift", "the voice lowered to 0.65 of its pitch"},
    {12, "third-up", "pitch-shift", "the voice raised a major third"},
    {13, "octave-up", "pitch-shift", "the voice raised an octave"},
    {14, "fourths-up", "pitch-shift", "raised a fourth, with repeats climbing a fourth each"},
    {15, "falling-echoes", "pitch-shift", "echoes 120 ms behind, each lower than the last"},
    {16, "rising-echoes", "pitch-shift", "echoes 120 ms behind, each a major third higher"},
};

const QuiraEffect* quira_effect(int32_t code) {
  if (code < 1 || code > EFFECT_CODE_MAX) return nullptr;
  return &EFFECT_NAMES[code - 1];
}

int32_t quira_effect_find(const char* text) {
  if (!text || !*text) return QUIRA_ERR_ARGUMENT;
  if (strcmp(text, "none") == 0) return 0;
  if (strspn(text, "0123456789") == strlen(text)) {
    if (strlen(text) > 3) return QUIRA_ERR_ARGUMENT;
    int code = 0;
    for (const char* c = text; *c; c++) code = code * 10 + (*c - '0');
    return code <= EFFECT_CODE_MAX ? code : QUIRA_ERR_ARGUMENT;
  }
  for (const QuiraEffect& effect : EFFECT_NAMES)
    if (strcmp(text, effect.name) == 0) return effect.code;
  return QUIRA_ERR_ARGUMENT;
}

// Pitch shift, effect codes 11 to 16: a higher or lower voice at the same pace, optionally with
// repeating echoes that shift again on every pass.
//
// The voice is written into DELAY_LINE and read through two pairs of interpolated taps that move
// about 1 + rate slots per sample, so their read point drifts against the write point. After the
// sounding pair has drifted across the window, the silent pair is placed back at the window's
// starting end and the output cross-fades to it over FADE_LENGTH samples with sine and cosine
// gains of constant power. Between fades one pair has gain exactly 1 and the other exactly 0.
// The wet value is not clipped: the stage mixes and clips. Rates must lie in -1..1, so that a
// sample carries or borrows at most once (all six presets do).
#pragma once
#include <stdint.h>

#include "effects/delay_line.h"

// Quarter waves for the cross-fade, sin and cos of i * pi / 384, filled by every set-up.
extern float FADE_SINE[FADE_LENGTH];
extern float FADE_COSINE[FADE_LENGTH];

// Loads PITCH_SHIFT_PRESETS[index] (0 to 5), derives the window and clears the line.
void pitch_shift_setup(int index);

// Feeds one sample and returns the wet sample. Call once per sample in stream order.
int32_t pitch_shift_process(int32_t x);

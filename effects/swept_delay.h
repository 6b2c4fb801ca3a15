// SPDX-License-Identifier: MIT
// Swept delay, effect codes 5 to 10: fixed echoes, flangers, a chorus and a warble.
//
// The voice is written into the delay line and read back through two adjacent taps, interpolated by
// the fraction of a 16.16 phase whose integer part is the newer tap's offset ahead of the write
// slot. The phase moves by `increment` each sample and reverses once the offset has passed either
// bound, so the delay sweeps in a triangle; part of the read is fed back with the input. A rate
// of 0 gives a fixed delay, a repeating echo. The wet value is not clipped: the stage mixes and
// clips. Presets must have span_samples + base_samples of at least 2 (all six do).
#pragma once
#include <stdint.h>

#include "effects/delay_line.h"

// Loads SWEPT_DELAY_PRESETS[index] (0 to 5), derives the sweep and clears the line.
void swept_delay_setup(DelayLineState* line, int index);

// Feeds one sample and returns the wet sample. Call once per sample in stream order.
int32_t swept_delay_process(DelayLineState* line, int32_t x);

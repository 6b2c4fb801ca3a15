// SPDX-License-Identifier: MIT
// The buffer cycle: what happens to every buffer between the sound device handing it back and
// the device getting it again, without the device. The player's wave output runs it, and so does
// every other program that needs the player's samples (the library's readers, the tools' checks,
// the benchmarks), so that all of them hand out the very same samples.
//
// A cycle starts a new decoder stream and the effect's set-up (buffer_cycle_start); each buffer is
// then the next block decoded into it (silent when it fails) and run through the effect stage.
// The first refill after a start is the priming refill: its block goes into the decoder's history
// and the buffer comes out silent.
//
// Invariants: nothing here allocates or touches a device; the cycle's decoder and effect stage
// are the caller's records, used by this cycle alone while it runs.
#pragma once
#include <stdint.h>

#include "decode/block_decoder.h"
#include "effects/effect_stage.h"

struct BufferCycle {
  BlockDecoder* decoder;
  EffectStage* effect;
  DecodeRequest request;  // the record each refill hands the decoder
  uint8_t priming;        // the next refill primes the decoder
};

// Points cycle at its decoder and effect stage; the cycle is idle until started.
void buffer_cycle_init(BufferCycle* cycle, BlockDecoder* decoder, EffectStage* effect);

// A new decoder stream with a priming refill next, and the effect's set-up for code and level.
void buffer_cycle_start(BufferCycle* cycle, int8_t code, int8_t level);

// Refills samples (5,760) from block (1,440 bytes, unscrambled in place), without the effect.
// Returns 1 when the buffer holds decoded samples, 0 when it is silent.
int buffer_cycle_refill(BufferCycle* cycle, int16_t* samples, uint8_t* block);

// The whole cycle for one buffer: the refill, then the effect stage over all of it.
int buffer_cycle_next(BufferCycle* cycle, int16_t* samples, uint8_t* block);

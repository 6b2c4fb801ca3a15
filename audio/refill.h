// Buffer refill: turns the next block into the samples of one output buffer, exactly as the
// player's wave output does for every buffer the device hands back. Shared by the player and the
// tool, so that what the tool exports is what the player plays.
//
// Invariants: the first refill after refill_start is the priming refill: its block is decoded into
// the decoder's history and the buffer comes out silent. A block that fails to decode gives a
// silent buffer, never a partly filled one.
#pragma once
#include <stdint.h>

struct Refill {
  int32_t samples_out;  // written by the decoder, read by nobody
  uint8_t priming;      // the next refill primes the decoder
};

extern Refill REFILL;

// Starts a new stream: resets the block decoder and marks the next refill as priming.
void refill_start(void);

// Zeroes samples (5,760 of them) and decodes block (1,440 bytes, unscrambled in place) into it.
// Returns 1 when the buffer holds decoded samples, 0 when it is silent.
int refill_block(int16_t* samples, uint8_t* block);

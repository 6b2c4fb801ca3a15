// SPDX-License-Identifier: MIT
#include "audio/buffer_cycle.h"

#include <string.h>

#include "payload/payload.h"

void buffer_cycle_init(BufferCycle* cycle, BlockDecoder* decoder, EffectStage* effect) {
  memset(cycle, 0, sizeof *cycle);
  cycle->decoder = decoder;
  cycle->effect = effect;
}

void buffer_cycle_start(BufferCycle* cycle, int8_t code, int8_t level) {
  block_decoder_reset(cycle->decoder);
  cycle->priming = 1;
  effect_start(cycle->effect, code, level);
}

int buffer_cycle_refill(BufferCycle* cycle, int16_t* samples, uint8_t* block) {
  memset(samples, 0, BUFFER_BYTES);
  DecodeRequest* request = &cycle->request;
  request->input = block;
  request->output = samples;
  if (cycle->priming) {
    // The priming decode fills the decoder's history and unscrambles the block in place, so the
    // decode that follows finds plain bytes, fails its format test and leaves the buffer silent.
    block_decode(cycle->decoder, request);
    cycle->priming = 0;
  }
  if (block_decode(cycle->decoder, request)) return 1;
  memset(samples, 0, BUFFER_BYTES);
  return 0;
}

int buffer_cycle_next(BufferCycle* cycle, int16_t* samples, uint8_t* block) {
  int decoded = buffer_cycle_refill(cycle, samples, block);
  effect_apply(cycle->effect, samples, BUFFER_BYTES);
  return decoded;
}

// Buffer refill over the block decoder.
#include "audio/refill.h"

#include <string.h>

#include "decode/block_decoder.h"
#include "payload/payload.h"

Refill REFILL;

void refill_start(void) {
  block_decoder_reset();
  REFILL.priming = 1;
}

int refill_block(int16_t* samples, uint8_t* block) {
  memset(samples, 0, BUFFER_BYTES);
  DecodeRequest request = {block, BLOCK_BYTES, samples, &REFILL.samples_out};
  if (REFILL.priming) {
    // The priming decode fills the decoder's history and unscrambles the block in place, so the
    // decode that follows finds plain bytes, fails its format test and leaves the buffer silent.
    block_decode(&request);
    REFILL.priming = 0;
  }
  if (block_decode(&request)) return 1;
  memset(samples, 0, BUFFER_BYTES);
  return 0;
}

// SPDX-License-Identifier: MIT
// QuiraHeard: the message as a listener hears it, streamed a buffer at a time.
//
// The buffer cycle runs from the start of the message: block 0 primes the decoder and is not
// heard, blocks 1 on are. The message proper ends at the voice mark's length (without one, at the
// end of the last block). After the last block the effect's memory is rung out with silent
// buffers until one comes out silent or TAIL_BUFFERS have passed, and zeros at the very end are
// left off. Without an audible effect, a marked message ends exactly at its voice's end.
//
// Memory is one buffer: a run of zeros past the message's end is counted, not held, and is
// written out only when a sound follows it.
#include <stdlib.h>
#include <string.h>

#include "audio/buffer_cycle.h"
#include "lib/carrier.h"
#include "payload/voice_mark.h"

enum {
  TAIL_SECONDS = 6,
  TAIL_BUFFERS = (TAIL_SECONDS * VOICE_RATE + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES
};

enum HeardPhase { HEARD_BLOCKS, HEARD_TAIL, HEARD_DONE };

struct QuiraHeard {
  QuiraCarrier* carrier;
  BlockDecoder decoder;
  EffectStage effect;
  BufferCycle cycle;
  uint8_t block[BLOCK_BYTES];
  int16_t buffer[BLOCK_SAMPLES];
  int32_t buffer_at;       // next sample of buffer to hand out
  int32_t buffer_end;      // samples in buffer, 0 when it is used up
  int32_t phase;
  int64_t next_block;
  int32_t tail_left;       // tail buffers still allowed
  int64_t position;        // samples of the untrimmed stream passed so far
  int64_t heard_end;       // where the message proper ends
  int32_t cut;             // the output ends exactly at heard_end
  int64_t zeros_held;      // zeros past heard_end not yet handed out
  int64_t zeros_owed;      // held zeros to hand out before the next sample
  int64_t bound;           // the most samples the stream can give
};

QuiraStatus quira_heard_open(QuiraCarrier* carrier, const QuiraEffectChoice* effect, QuiraHeard** heard) {
  int8_t code = 0, level = 0;
  if (!carrier || !heard) return QUIRA_ERR_ARGUMENT;
  *heard = nullptr;
  if (!carrier_effect(carrier, effect, &code, &level)) return QUIRA_ERR_ARGUMENT;
  QuiraHeard* h = (QuiraHeard*)calloc(1, sizeof(QuiraHeard));
  if (!h) return QUIRA_ERR_MEMORY;
  h->carrier = carrier;
  buffer_cycle_init(&h->cycle, &h->decoder, &h->effect);
  buffer_cycle_start(&h->cycle, code, level);
  if (!h->decoder.open) {
    quira_heard_close(h);
    return QUIRA_ERR_DECODER;
  }
  const int64_t blocks = payload_block_count(carrier->info.payload_bytes);
  // Samples of every block after the priming one, held at INT64_MAX for a carrier so long that
  // they outnumber it: no reading ever gets that far.
  h->heard_end = 0;
  if (blocks > 1 && __builtin_mul_overflow(blocks - 1, (int64_t)BLOCK_SAMPLES, &h->heard_end))
    h->heard_end = INT64_MAX;
  uint32_t voice = 0;
  // A carrier made by this project knows where its voice ends; the rest of the last block is
  // padding, cut unless an effect rings on past it.
  if (voice_mark_read(&carrier->info.header, &voice) && voice < h->heard_end) {
    h->heard_end = voice;
    h->cut = !effect_code_known(code) || level == 0;
  }
  h->tail_left = TAIL_BUFFERS;
  // Every block after the priming one, then at most TAIL_BUFFERS of tail (the first of them the
  // buffer refilled after the payload ran out). Without an effect that rings there is no tail:
  // the message proper is the whole of it.
  const int64_t buffers = (blocks > 1 ? blocks - 1 : 0) + TAIL_BUFFERS;
  h->bound = buffers > INT64_MAX / BLOCK_SAMPLES ? INT64_MAX : buffers * BLOCK_SAMPLES;
  if (!effect_code_known(code) || level == 0) h->bound = h->heard_end;
  *heard = h;
  return QUIRA_OK;
}

void quira_heard_close(QuiraHeard* heard) {
  if (!heard) return;
  block_decoder_close(&heard->decoder);
  free(heard);
}

static int buffer_silent(const int16_t* samples) {
  for (int i = 0; i < BLOCK_SAMPLES; i++)
    if (samples[i]) return 0;
  return 1;
}

// Makes the next buffer of the untrimmed stream; moves to HEARD_DONE when there is none.
static void heard_refill(QuiraHeard* h) {
  h->buffer_at = 0;
  h->buffer_end = 0;
  if (h->phase == HEARD_BLOCKS) {
    for (;;) {
      int64_t k = h->next_block++;
      int32_t n = carrier_read_block(h->carrier, k, h->block);
      buffer_cycle_next(&h->cycle, h->buffer, h->block);
      if (n == 0) {
        // The buffer refilled after the payload ran out is the tail's first.
        h->phase = HEARD_TAIL;
        break;
      }
      if (k == 0) continue;  // the priming block is never heard
      h->buffer_end = BLOCK_SAMPLES;
      return;
    }
  } else if (h->phase == HEARD_TAIL) {
    memset(h->buffer, 0, BUFFER_BYTES);
    effect_apply(&h->effect, h->buffer, BUFFER_BYTES);
  }
  if (h->phase != HEARD_TAIL || h->cut || h->tail_left == 0 || buffer_silent(h->buffer)) {
    h->phase = HEARD_DONE;
    return;
  }
  h->tail_left--;
  h->buffer_end = BLOCK_SAMPLES;
}

int64_t quira_heard_bound(const QuiraHeard* heard) { return heard ? heard->bound : (int64_t)QUIRA_ERR_ARGUMENT; }

int64_t quira_heard_read(QuiraHeard* heard, int16_t* samples, size_t capacity) {
  if (!heard || (!samples && capacity > 0)) return QUIRA_ERR_ARGUMENT;
  const int64_t max = capacity > (size_t)INT64_MAX ? INT64_MAX : (int64_t)capacity;
  QuiraHeard* h = heard;
  int64_t got = 0;
  while (got < max) {
    if (h->zeros_owed > 0) {
      int64_t n = max - got < h->zeros_owed ? max - got : h->zeros_owed;
      memset(samples + got, 0, (size_t)n * sizeof *samples);
      got += n;
      h->zeros_owed -= n;
      continue;
    }
    if (h->buffer_at == h->buffer_end) {
      if (h->phase == HEARD_DONE) break;
      heard_refill(h);
      continue;
    }
    if (h->position >= h->heard_end && h->cut) {
      h->phase = HEARD_DONE;
      h->buffer_at = h->buffer_end = 0;
      break;
    }
    int16_t s = h->buffer[h->buffer_at];
    if (h->position >= h->heard_end && s == 0) {
      h->zeros_held++;  // handed out only if a sound follows
    } else {
      if (h->zeros_held > 0) {
        h->zeros_owed = h->zeros_held;
        h->zeros_held = 0;
        continue;  // the zeros first, then this sample
      }
      samples[got++] = s;
    }
    h->buffer_at++;
    h->position++;
  }
  return got;
}

// SPDX-License-Identifier: MIT
// QuiraPlayer: the Windows player's playback control without its window or device. Each call of
// quira_player_next is one buffer-done notification: the buffers come out in the order the device
// plays them, filled exactly as the player fills them.
//
// States as the player's (playing, decoding, block_counter): Idle 0 0 0, Playing 1 1 next block,
// Draining 1 0 0 (the last buffer handed out; the next call ends playback), Halted 0 0 held.
#include <stdlib.h>
#include <string.h>

#include "audio/buffer_cycle.h"
#include "lib/carrier.h"

struct QuiraPlayer {
  QuiraCarrier* carrier;
  int8_t effect_code;
  int8_t effect_level;
  int32_t playing;
  int32_t decoding;
  int64_t block_counter;  // the next block to read; held across a stop
  int64_t title_blocks;   // the elapsed position the title was last written with
  int32_t start_silence;  // silent buffers of the start still to hand out
  int32_t first_refill;   // the next refill is the priming one
  BlockDecoder decoder;
  EffectStage effect;
  BufferCycle cycle;
  uint8_t block[BLOCK_BYTES];  // the block read last; zero until then, as in the player
};

QuiraStatus quira_player_new(QuiraCarrier* carrier, const QuiraEffectChoice* effect, QuiraPlayer** player) {
  int8_t code = 0, level = 0;
  if (!carrier || !player) return QUIRA_ERR_ARGUMENT;
  *player = nullptr;
  if (!carrier_effect(carrier, effect, &code, &level)) return QUIRA_ERR_ARGUMENT;
  QuiraPlayer* p = (QuiraPlayer*)calloc(1, sizeof(QuiraPlayer));
  if (!p) return QUIRA_ERR_MEMORY;
  p->carrier = carrier;
  p->effect_code = code;
  p->effect_level = level;
  buffer_cycle_init(&p->cycle, &p->decoder, &p->effect);
  *player = p;
  return QUIRA_OK;
}

void quira_player_free(QuiraPlayer* player) {
  if (!player) return;
  block_decoder_close(&player->decoder);
  free(player);
}

QuiraStatus quira_player_start(QuiraPlayer* player) {
  if (!player) return QUIRA_ERR_ARGUMENT;
  if (player->playing) return QUIRA_ERR_STATE;
  buffer_cycle_start(&player->cycle, player->effect_code, player->effect_level);
  if (!player->decoder.open) return QUIRA_ERR_DECODER;
  if (player->block_counter > 0) player->block_counter--;  // a resume backs up one block
  player->start_silence = 2;
  player->first_refill = 1;
  player->decoding = 1;
  player->playing = 1;
  return QUIRA_OK;
}

int32_t quira_player_next(QuiraPlayer* player, int16_t* samples, size_t capacity, int32_t* kind) {
  if (!player || !samples) return QUIRA_ERR_ARGUMENT;
  if (capacity < BLOCK_SAMPLES) return QUIRA_ERR_CAPACITY;
  if (!player->playing) return 0;
  if (player->start_silence > 0) {
    // The two buffers queued silent at the start; the effect stage never sees them.
    player->start_silence--;
    memset(samples, 0, BUFFER_BYTES);
    if (kind) *kind = QUIRA_BUFFER_START_SILENCE;
    return BLOCK_SAMPLES;
  }
  if (!player->decoding) {
    // The last block's buffer has played: the end of the message.
    quira_player_stop(player);
    return 0;
  }
  int32_t n = carrier_read_block(player->carrier, player->block_counter, player->block);
  buffer_cycle_next(&player->cycle, samples, player->block);
  player->block_counter++;
  if (n == 0) {
    // The payload ran out. This buffer is queued behind the last block's and never played: the
    // notification for that one stops playback, and the next start begins at block 0.
    player->decoding = 0;
    player->block_counter = 0;
    quira_player_stop(player);
    return 0;
  }
  player->title_blocks = player->block_counter;
  if (kind) *kind = player->first_refill ? QUIRA_BUFFER_PRIMING : QUIRA_BUFFER_BLOCK;
  player->first_refill = 0;
  return BLOCK_SAMPLES;
}

QuiraStatus quira_player_stop(QuiraPlayer* player) {
  if (!player) return QUIRA_ERR_ARGUMENT;
  if (player->playing) {
    player->playing = 0;
    player->decoding = 0;
    return QUIRA_OK;
  }
  // Stop while stopped rewinds to the start.
  player->block_counter = 0;
  player->title_blocks = 0;
  return QUIRA_OK;
}

QuiraStatus quira_player_seek(QuiraPlayer* player, int64_t block) {
  if (!player) return QUIRA_ERR_ARGUMENT;
  if (player->playing) return QUIRA_ERR_STATE;
  int64_t blocks = payload_block_count(player->carrier->info.payload_bytes);
  player->block_counter = block < 0 ? 0 : block > blocks ? blocks : block;
  player->title_blocks = player->block_counter;
  return QUIRA_OK;
}

int32_t quira_player_playing(const QuiraPlayer* player) { return player && player->playing ? 1 : 0; }

int64_t quira_player_position(const QuiraPlayer* player) {
  return player ? player->block_counter : (int64_t)QUIRA_ERR_ARGUMENT;
}

int64_t quira_player_length(const QuiraPlayer* player) {
  if (!player) return QUIRA_ERR_ARGUMENT;
  const int64_t buffers = 2 + payload_block_count(player->carrier->info.payload_bytes);
  return buffers > INT64_MAX / BLOCK_SAMPLES ? INT64_MAX : buffers * BLOCK_SAMPLES;
}

int32_t quira_player_title(const QuiraPlayer* player, char* title, size_t capacity) {
  if (!player) return QUIRA_ERR_ARGUMENT;
  return quira_title_text(player->title_blocks, player->carrier->info.total_seconds, title, capacity);
}

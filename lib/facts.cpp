// SPDX-License-Identifier: MIT
// What a carrier is: its header's facts, the player in front, a survey of its blocks, its frames.
#include <stdlib.h>
#include <string.h>

#include "decode/block_decoder.h"
#include "effects/effect_stage.h"
#include "lib/carrier.h"
#include "lib/sha256.h"
#include "payload/voice_mark.h"

#ifndef QUIRA_PLAYER_SHA256
extern "C" const uint8_t player_image_begin[];
extern "C" const uint8_t player_image_end[];
#endif

// SHA-256 of the players of earlier releases, so that carriers made by them are still recognised
// after the embedded player changes. When a release ships, add the digest that
// `quira info --json` prints as player_sha256 for a carrier it made, with the release's name.
static const uint8_t KNOWN_PLAYER_SHA256[][32] = {
    // The first player, before the core took its state in records (9e80cb21...4b1c).
    {0x9e, 0x80, 0xcb, 0x21, 0x14, 0xe1, 0x35, 0xda, 0x24, 0x89, 0x8b, 0x37, 0x14, 0x98, 0xed, 0xe5,
     0xac, 0xf9, 0x27, 0xf9, 0x47, 0xee, 0x7c, 0x83, 0x8f, 0x5d, 0x78, 0x4b, 0x2a, 0xed, 0x4b, 0x1c},
    // The player before the core's dead fields went (9494e00d...d753).
    {0x94, 0x94, 0xe0, 0x0d, 0x68, 0xdb, 0xb5, 0xdf, 0xd3, 0x7b, 0x7e, 0x63, 0x1b, 0xec, 0x9b, 0x21,
     0xa9, 0x4c, 0x8c, 0x6e, 0xe1, 0x5d, 0x3e, 0xe9, 0x16, 0xc6, 0xe2, 0xe6, 0x7a, 0x60, 0xd7, 0x53},
};

enum { SURVEY_READ_BLOCKS = 64 };

struct FormatFacts {
  const char* name;
  int kbps;
  int rate;
};
static const FormatFacts FORMATS[BLOCK_FORMATS] = {
    {"MPEG-2.5 Layer III, 8 kbit/s, 8000 Hz", 8, 8000},
    {"MPEG-2 Layer III, 16 kbit/s, 16000 Hz", 16, 16000},
    {"MPEG-2 Layer III, 32 kbit/s, 16000 Hz", 32, 16000},
};

const char* quira_format_name(int32_t format) {
  return format >= 0 && format < BLOCK_FORMATS ? FORMATS[format].name : nullptr;
}
int32_t quira_format_kbps(int32_t format) { return format >= 0 && format < BLOCK_FORMATS ? FORMATS[format].kbps : 0; }
int32_t quira_format_rate(int32_t format) { return format >= 0 && format < BLOCK_FORMATS ? FORMATS[format].rate : 0; }

#ifdef QUIRA_PLAYER_SHA256
// A build that only reads and plays (the web message's page) holds the player's digest, given by
// the build as 64 hex digits, rather than its 160 KB.
const uint8_t* quira_embedded_player(size_t* size) {
  if (size) *size = 0;
  return nullptr;
}

void player_own_sha256(uint8_t digest[32]) {
  static const char HEX[] = QUIRA_PLAYER_SHA256;
  static_assert(sizeof HEX == 65, "QUIRA_PLAYER_SHA256 is 64 hex digits");
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (int i = 0; i < 32; i++) digest[i] = (uint8_t)(nibble(HEX[2 * i]) << 4 | nibble(HEX[2 * i + 1]));
}
#else
const uint8_t* quira_embedded_player(size_t* size) {
  if (size) *size = (size_t)(player_image_end - player_image_begin);
  return player_image_begin;
}

void player_own_sha256(uint8_t digest[32]) {
  size_t image_size = 0;
  const uint8_t* image = quira_embedded_player(&image_size);
  Sha256 sha;
  sha256_init(&sha);
  sha256_update(&sha, image, image_size);
  sha256_digest(&sha, digest);
}
#endif

QuiraStatus quira_embedded_player_sha256(uint8_t* digest, size_t capacity) {
  if (!digest) return QUIRA_ERR_ARGUMENT;
  if (capacity < QUIRA_SHA256_BYTES) return QUIRA_ERR_CAPACITY;
  player_own_sha256(digest);
  return QUIRA_OK;
}

int player_digest_known(const uint8_t digest[32]) {
  uint8_t own[32];
  player_own_sha256(own);
  if (memcmp(own, digest, 32) == 0) return 1;
  for (const auto& known : KNOWN_PLAYER_SHA256)
    if (memcmp(known, digest, 32) == 0) return 1;
  return 0;
}

// Hashes the front part and says whether it is one of our players. A front part of zero bytes
// only is no program at all, and never ours. -1 on a read error.
static int carrier_player(QuiraCarrier* c, uint8_t digest[32]) {
  Sha256 sha;
  sha256_init(&sha);
  uint8_t chunk[4096];
  int nonzero = 0;
  for (int64_t at = 0; at < PAYLOAD_OFFSET; at += (int64_t)sizeof chunk) {
    int64_t got = carrier_read_at(c, at, chunk, (int32_t)sizeof chunk);
    if (got < 0) return -1;
    for (int64_t i = 0; i < got && !nonzero; i++) nonzero = chunk[i] != 0;
    sha256_update(&sha, chunk, (size_t)got);
    if (got < (int64_t)sizeof chunk) break;
  }
  sha256_digest(&sha, digest);
  return nonzero ? player_digest_known(digest) : 0;
}

QuiraStatus quira_carrier_header(QuiraCarrier* carrier, QuiraHeaderFacts* out) {
  if (!carrier || !struct_known(out)) return QUIRA_ERR_ARGUMENT;
  QuiraHeaderFacts found = {};
  QuiraHeaderFacts* facts = &found;
  const PayloadInfo& info = carrier->info;
  // A web message or a bare payload knows its front part by the digest it came with.
  int ours = 0;
  if (carrier->wrap != WRAP_NONE) {
    memcpy(facts->player_sha256, carrier->front_sha256, 32);
    ours = player_digest_known(carrier->front_sha256);
    facts->web_message = carrier->wrap == WRAP_BASE64;
  } else {
    ours = carrier_player(carrier, facts->player_sha256);
    if (ours < 0) return QUIRA_ERR_READ;
  }
  facts->player_ours = ours;
  facts->payload_bytes = info.payload_bytes;
  memcpy(facts->header, info.header.bytes, QUIRA_HEADER_BYTES);
  facts->header_bytes_read = carrier->header_bytes_read;
  facts->effect_code = info.effect_code;
  facts->effect_known = info.effect_code == 0 || effect_code_known(info.effect_code);
  facts->level_byte = info.level_byte;
  facts->effect_level = payload_effect_level(info.level_byte);
  facts->blocks = payload_block_count(info.payload_bytes);
  if (facts->blocks > 0) {
    int64_t rest = (info.payload_bytes - PAYLOAD_HEADER_BYTES) % BLOCK_BYTES;
    facts->last_block_bytes = rest == 0 ? BLOCK_BYTES : (int32_t)rest;
  }
  facts->has_voice_mark = voice_mark_read(&info.header, &facts->voice_samples);
  facts->total_seconds = info.total_seconds;
  struct_fill(out, found);
  return QUIRA_OK;
}

QuiraStatus quira_carrier_survey(QuiraCarrier* carrier, QuiraSurvey* out, int64_t* failed,
                                 size_t capacity) {
  if (!carrier || !struct_known(out) || (!failed && capacity)) return QUIRA_ERR_ARGUMENT;
  QuiraSurvey found = {};
  QuiraSurvey* survey = &found;
  survey->format = -1;
  // Every block once, in order, through a fresh stream, as playback from the start decodes them
  // (block 0 being the priming block, whose first decode is the one that counts).
  BlockDecoder decoder = {};
  uint8_t block[BLOCK_BYTES] = {0};
  int16_t samples[BLOCK_SAMPLES];
  DecodeRequest request = {block, samples, nullptr};
  if (!block_decoder_reset(&decoder)) {
    block_decoder_close(&decoder);
    return QUIRA_ERR_DECODER;
  }
  const int64_t blocks = payload_block_count(carrier->info.payload_bytes);
  // Blocks are read SURVEY_READ_BLOCKS at a time: one read per block made the survey of a long
  // carrier mostly system calls. Each block then goes to the decoder as the player reads it, the
  // bytes past a short last block keeping what they held.
  uint8_t* run = (uint8_t*)malloc((size_t)SURVEY_READ_BLOCKS * BLOCK_BYTES);
  if (!run) {
    block_decoder_close(&decoder);
    return QUIRA_ERR_MEMORY;
  }
  int64_t run_first = 0, run_bytes = 0;
  for (int64_t k = 0; k < blocks; k++) {
    int64_t at = (k - run_first) * BLOCK_BYTES;
    // A block not wholly in the run read last is read again from its start: a reader may give
    // fewer bytes than asked before the end.
    if (k == 0 || at + BLOCK_BYTES > run_bytes) {
      run_first = k;
      at = 0;
      run_bytes = carrier_read_at(carrier, carrier_block_offset(k), run, SURVEY_READ_BLOCKS * BLOCK_BYTES);
      if (run_bytes < 0) run_bytes = 0;  // a read error counts as the end, as for the player
    }
    if (at < run_bytes) memcpy(block, run + at, (size_t)(run_bytes - at < (int64_t)BLOCK_BYTES ? run_bytes - at : (int64_t)BLOCK_BYTES));
    int format = block_format(block);
    if (k == 0) survey->format = format;
    else if (format != survey->format) survey->mixed_formats = 1;
    if (block_decode(&decoder, &request)) {
      survey->decoded_blocks++;
    } else {
      if ((uint64_t)survey->failed_blocks < capacity) failed[survey->failed_blocks] = k;
      survey->failed_blocks++;
    }
  }
  free(run);
  block_decoder_close(&decoder);
  struct_fill(out, found);
  return QUIRA_OK;
}

int32_t quira_carrier_frames(QuiraCarrier* carrier, int64_t block, uint8_t* frames, size_t capacity) {
  if (!carrier || !frames || block < 0) return QUIRA_ERR_ARGUMENT;
  uint8_t stored[BLOCK_BYTES];
  int64_t got = carrier_read_at(carrier, carrier_block_offset(block), stored, BLOCK_BYTES);
  if (got < 0) return QUIRA_ERR_READ;
  int format = got >= 4 ? block_format(stored) : -1;
  if (format < 0) return QUIRA_ERR_NOT_FRAMES;
  // Whole frames only: a short last block may end inside one.
  int32_t step = FRAME_STEP[format];
  int32_t count = (int32_t)got / step;
  if (count > FRAMES_PER_BLOCK) count = FRAMES_PER_BLOCK;
  const int32_t bytes = count * step;
  if ((size_t)bytes > capacity) return QUIRA_ERR_CAPACITY;
  memcpy(frames, stored, (size_t)bytes);
  block_scramble(frames, bytes);
  return bytes;
}

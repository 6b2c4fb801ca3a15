// SPDX-License-Identifier: MIT
// The library's carrier: where its bytes come from and what its header says. Internal to the
// library; callers see the opaque QuiraCarrier of include/quira/quira.h.
//
// A carrier is only ever read: at an offset, into the caller's memory, never changed after it
// is opened, so that objects over it may read it from several threads at once. A path is opened
// once, without blocking, and only when it names a regular file.
#pragma once
#include <stdint.h>
#include <string.h>

#include "payload/payload.h"
#include "quira/quira.h"

enum CarrierWrap {
  WRAP_NONE = 0,     // the bytes are the carrier's
  WRAP_PAYLOAD = 1,  // the bytes are a bare payload
  WRAP_BASE64 = 2    // the bytes are a web message, the payload base64 inside it
};

struct QuiraCarrier {
  QuiraSource source;       // the carrier's bytes, offset 0 the front part's first
  int fd;                   // a file opened by path or descriptor, else -1
  const uint8_t* memory;    // a carrier in memory, else null
  PayloadInfo info;
  int32_t header_bytes_read;
  // A carrier that stands for another: `inner` reads what was opened (the page or the payload),
  // and `source` presents the carrier it came from, the front part known by its digest only.
  int32_t wrap;             // CarrierWrap
  QuiraSource inner;
  int64_t text_at;          // WRAP_BASE64: the first base64 character's offset in inner
  uint8_t front_sha256[32];
};

// The SHA-256 of the player this library puts in front of carriers; whether a digest is that of
// a player built by this project (this one or an earlier release's).
void player_own_sha256(uint8_t digest[32]);
int player_digest_known(const uint8_t digest[32]);

// Recognises a web message in c->source and, when it is one, makes c read the carrier it holds.
// Returns 1 when it did, 0 for anything else, -1 on a read error, -2 for a web message whose
// base64 is damaged (checked whole once, so that no read of it fails later) or whose closing
// comment is there but does not fit the page.
int web_message_detect(QuiraCarrier* c);
// Makes c read payload as the carrier it came from, whose front part had the digest front.
void carrier_wrap_payload(QuiraCarrier* c, const QuiraSource* payload, int32_t wrap, int64_t text_at,
                          int64_t payload_bytes, const uint8_t front[32]);

// Reads up to n bytes at offset; returns how many (0 past the end, or for a negative offset),
// never more than n, -1 on a read error.
int64_t carrier_read_at(QuiraCarrier* carrier, int64_t offset, void* bytes, int32_t n);

// The offset of block k, or -1 when it is negative or lies past any 64-bit length.
int64_t carrier_block_offset(int64_t k);

// Reads block k into block as the player reads it: up to 1,440 bytes, the bytes past those read
// keeping what they held. Returns how many were read; a read error counts as the end.
int32_t carrier_read_block(QuiraCarrier* carrier, int64_t k, uint8_t* block);

// The effect code and level a choice (or, for null, the header) plays with. 0 when the choice
// is one this library cannot read (a struct_size too small, a value out of range).
int carrier_effect(const QuiraCarrier* carrier, const QuiraEffectChoice* choice, int8_t* code,
                   int8_t* level);

// Whether a choice of effect holds what this library reads, within range.
int effect_choice_valid(const QuiraEffectChoice* choice);

// Whether a caller's struct is at least as large as this version of it: its struct_size.
template <typename T>
bool struct_known(const T* s) {
  return s && s->struct_size >= sizeof(T);
}

// Hands value out into the caller's struct: the fields both sides know, the caller's later ones
// zero, its struct_size kept.
template <typename T>
void struct_fill(T* out, const T& value) {
  const uint32_t size = out->struct_size;
  memset((void*)out, 0, size);
  memcpy((void*)out, &value, sizeof value);
  out->struct_size = size;
}

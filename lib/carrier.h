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

struct QuiraCarrier {
  QuiraSource source;
  int fd;                   // a file opened by path or descriptor, else -1
  const uint8_t* memory;    // a carrier in memory, else null
  PayloadInfo info;
  int32_t header_bytes_read;
};

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

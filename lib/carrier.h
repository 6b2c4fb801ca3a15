// The library's carrier: where its bytes come from and what its header says. Internal to the
// library; callers see the opaque QuiraCarrier of include/quira/quira.h.
//
// A carrier is only ever read: at an offset, into the caller's memory. A path is opened once,
// without blocking, and only when it names a regular file.
#pragma once
#include <stdint.h>

#include "payload/payload.h"
#include "quira/quira.h"

struct QuiraCarrier {
  QuiraSource source;
  int fd;                   // a file opened by path, else -1
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

// The effect code and level a choice (or, for null, the header) plays with. QUIRA_ERR_ARGUMENT
// for a choice outside the header bytes' ranges (code -128 to 127, level byte 0 to 255).
int carrier_effect(const QuiraCarrier* carrier, const QuiraEffectChoice* choice, int8_t* code,
                   int8_t* level);

// SPDX-License-Identifier: MIT
// SHA-256 (FIPS 180-4), for recognising the player in front of a carrier. Incremental: init,
// any number of updates, digest. Small and dependency-free so that every build of the library,
// the browser's included, has the same one.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Sha256 {
  uint32_t state[8];
  uint64_t bytes;      // message length so far
  uint8_t block[64];   // the part of the message not yet compressed
};

void sha256_init(Sha256* sha);
void sha256_update(Sha256* sha, const void* data, size_t n);
void sha256_digest(Sha256* sha, uint8_t digest[32]);

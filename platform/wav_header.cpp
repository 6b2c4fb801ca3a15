// SPDX-License-Identifier: MIT
#include "platform/wav_header.h"

#include <string.h>

static void put_le(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) at[i] = (uint8_t)(value >> (8 * i));
}

void wav_header_write(uint8_t header[WAV_HEADER_BYTES], uint16_t channels, uint32_t rate, uint32_t data_bytes) {
  const uint16_t block_align = (uint16_t)(2 * channels);
  memcpy(header, "RIFF", 4);
  put_le(header + 4, data_bytes > UINT32_MAX - 36 ? UINT32_MAX : 36 + data_bytes, 4);
  memcpy(header + 8, "WAVEfmt ", 8);
  put_le(header + 16, 16, 4);                   // PCM format record
  put_le(header + 20, 1, 2);                    // PCM
  put_le(header + 22, channels, 2);
  put_le(header + 24, rate, 4);
  put_le(header + 28, rate * block_align, 4);   // bytes per second
  put_le(header + 32, block_align, 2);
  put_le(header + 34, 16, 2);                   // bits per sample
  memcpy(header + 36, "data", 4);
  put_le(header + 40, data_bytes, 4);
}

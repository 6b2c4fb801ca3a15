// SPDX-License-Identifier: MIT
// Voice mark in header bytes 0-9.
#include "payload/voice_mark.h"

static const uint8_t MARKER[4] = {'Q', 'V', 'M', 0x01};

static uint16_t crc16_ccitt(const uint8_t* bytes, int n) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < n; i++) {
    crc ^= (uint16_t)(bytes[i] << 8);
    for (int bit = 0; bit < 8; bit++) crc = (uint16_t)(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

void voice_mark_write(PayloadHeader* header, uint32_t voice_samples) {
  uint8_t* b = header->bytes;
  for (int i = 0; i < 4; i++) b[i] = MARKER[i];
  for (int i = 0; i < 4; i++) b[4 + i] = (uint8_t)(voice_samples >> (8 * i));
  uint16_t check = crc16_ccitt(b, 8);
  b[8] = (uint8_t)check;
  b[9] = (uint8_t)(check >> 8);
}

int voice_mark_read(const PayloadHeader* header, uint32_t* voice_samples) {
  const uint8_t* b = header->bytes;
  for (int i = 0; i < 4; i++)
    if (b[i] != MARKER[i]) return 0;
  if (crc16_ccitt(b, 8) != (uint16_t)(b[8] | b[9] << 8)) return 0;
  *voice_samples = (uint32_t)b[4] | (uint32_t)b[5] << 8 | (uint32_t)b[6] << 16 | (uint32_t)b[7] << 24;
  return 1;
}

// SPDX-License-Identifier: MIT
// The 44-byte header of a canonical PCM WAV file, 16-bit samples: what the tool's exports and the
// stand-in's WAV-file device begin with. Little-endian whatever the machine.
#pragma once
#include <stdint.h>

enum { WAV_HEADER_BYTES = 44 };

// Writes the header for data_bytes of 16-bit samples, channels interleaved at rate Hz. A length
// past what a WAV file's 32 bits hold (UINT32_MAX, an open length as streams declare it) makes
// the whole file's length UINT32_MAX as well.
void wav_header_write(uint8_t header[WAV_HEADER_BYTES], uint16_t channels, uint32_t rate, uint32_t data_bytes);

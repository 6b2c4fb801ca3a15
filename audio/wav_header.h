// The 44-byte header of a canonical PCM WAV file, 16-bit samples: what the tool's exports and the
// stand-in's WAV-file device begin with. Little-endian whatever the machine.
#pragma once
#include <stdint.h>

enum { WAV_HEADER_BYTES = 44 };

// Writes the header for data_bytes of 16-bit samples, channels interleaved at rate Hz. The caller
// keeps data_bytes at most 0xFFFFFFFF - 36, a WAV file's limit.
void wav_header_write(uint8_t header[WAV_HEADER_BYTES], uint16_t channels, uint32_t rate, uint32_t data_bytes);

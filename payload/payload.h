// SPDX-License-Identifier: MIT
// Carrier layout and payload header reader.
//
// A carrier is the player executable (PAYLOAD_OFFSET bytes) followed by the payload: a 12-byte
// header, then blocks of BLOCK_BYTES back to back up to the end of the file, the last of which may
// be short. There is no block count and no trailer: the file length alone gives the payload size.
// Nothing in the header is validated; byte 10 is the effect code, byte 11 the level byte.
//
// Sizes and offsets are 64-bit throughout, so a payload past 2 GiB is reckoned correctly rather
// than wrapping a 32-bit length.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
  PAYLOAD_OFFSET = 163840,      // size of the player executable, 0x28000
  PAYLOAD_HEADER_BYTES = 12,
  BLOCK_BYTES = 1440,           // one block: ten scrambled frames, 0.36 s
  BLOCK_SAMPLES = 5760,         // samples one block decodes to
  BUFFER_BYTES = 11520,         // one output buffer: BLOCK_SAMPLES signed 16-bit samples
  PAYLOAD_EFFECT_BYTE = 10,     // header byte holding the effect code
  PAYLOAD_LEVEL_BYTE = 11,      // header byte holding the level byte
  VOICE_RATE = 16000            // samples per second the player hands its device
};

struct PayloadHeader {
  uint8_t bytes[PAYLOAD_HEADER_BYTES];
};

// What the reader learns about a carrier. A record keeps, in header bytes that could not be read,
// whatever it held before: zero for a fresh record.
struct PayloadInfo {
  PayloadHeader header;
  int8_t effect_code;     // header byte 10, signed
  uint8_t level_byte;     // header byte 11
  int64_t payload_bytes;  // file length - PAYLOAD_OFFSET; negative when the file is shorter
  int32_t total_seconds;  // message length, rounded to the nearest second
};

// How the player reaches its carrier's bytes: a byte stream opened by name, positioned from the
// start, read in order. CARRIER_FILES_STDIO is the file system; a host may hand the player
// another (a carrier in memory, a file whose name is longer than the player keeps, a header
// that says another effect).
struct CarrierFiles {
  void* context;
  void* (*open)(void* context, const char* path);  // null when it cannot be opened
  int (*seek)(void* file, int64_t offset);           // from the start; 0 on success
  size_t (*read)(void* file, void* bytes, size_t n);
  int64_t (*length)(void* file);                     // -1 when unknown
  void (*close)(void* file);
};

// Regular files through stdio, opened "rb" with 64-bit seeks. Anything that is not a regular
// file (a directory, a device, a pipe) counts as a file that did not open.
extern const CarrierFiles CARRIER_FILES_STDIO;

// Reads the carrier at path into info. Returns 1 when the file opened, 0 when it did not; a file
// that cannot be opened reads as a carrier without payload (code 0, level byte 0, 0 seconds).
int payload_read_header(const CarrierFiles* files, const char* path, PayloadInfo* info);

// Fills info from a file of file_length bytes whose first header_bytes header bytes (0 to 12)
// were read into info->header.
void payload_parse(PayloadInfo* info, int64_t file_length);

// Message length for a payload of the given size: (payload - 12) x 0.00025 s, the constant held
// in single precision and the product formed in double, plus one half, truncated. 0 when there
// are fewer than 12 bytes; held at INT32_MAX for payloads beyond the 32-bit second count.
int32_t payload_total_seconds(int64_t payload_bytes);

// Effect level from the level byte: 127 - byte, reduced modulo 256, read as signed 8-bit.
int8_t payload_effect_level(uint8_t level_byte);

// The level byte that stores a level: 127 - level, modulo 256; payload_effect_level's inverse.
inline uint8_t payload_level_byte(int8_t level) { return (uint8_t)(127 - level); }

// File offset of block k: PAYLOAD_OFFSET + 12 + BLOCK_BYTES x k.
int64_t payload_block_offset(int64_t block);

// Number of blocks in a payload of the given size, the short last one included.
int64_t payload_block_count(int64_t payload_bytes);

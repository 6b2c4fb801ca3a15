// SPDX-License-Identifier: MIT
// Carrier header reader.
#include "payload/payload.h"

#include <stdio.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

// 64-bit seeks: a carrier may be larger than a 32-bit long can address.
#ifdef _WIN32
#define payload_seek _fseeki64
#define payload_tell _ftelli64
#else
#define payload_seek fseeko
#define payload_tell ftello
#endif

int32_t payload_total_seconds(int64_t payload_bytes) {
  // Formed exactly as the player forms it, so the tool shows the same length; a payload shorter
  // than its header would otherwise give a negative time.
  const float SECONDS_PER_BYTE = 0.00025f;
  int64_t bytes = payload_bytes - PAYLOAD_HEADER_BYTES;
  if (bytes <= 0) return 0;
  double seconds = (double)bytes * (double)SECONDS_PER_BYTE + 0.5;
  if (seconds >= 2147483647.0) return INT32_MAX;
  return (int32_t)seconds;
}

int8_t payload_effect_level(uint8_t level_byte) {
  return (int8_t)(uint8_t)(127 - level_byte);
}

int64_t payload_block_offset(int64_t block) {
  return (int64_t)PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES + (int64_t)BLOCK_BYTES * block;
}

int64_t payload_block_count(int64_t payload_bytes) {
  int64_t bytes = payload_bytes - PAYLOAD_HEADER_BYTES;
  if (bytes <= 0) return 0;
  return (bytes + BLOCK_BYTES - 1) / BLOCK_BYTES;
}

void payload_parse(PayloadInfo* info, int64_t file_length) {
  info->payload_bytes = file_length - PAYLOAD_OFFSET;
  info->effect_code = (int8_t)info->header.bytes[PAYLOAD_EFFECT_BYTE];
  info->level_byte = info->header.bytes[PAYLOAD_LEVEL_BYTE];
  info->total_seconds = payload_total_seconds(info->payload_bytes);
}

int payload_read_header(const CarrierFiles* files, const char* path, PayloadInfo* info) {
  void* file = files->open(files->context, path);
  if (!file) {
    info->payload_bytes = 0;
    info->effect_code = 0;
    info->level_byte = 0;
    info->total_seconds = 0;
    return 0;
  }
  int64_t length = files->length(file);
  if (length < 0) length = 0;
  // Header bytes that are not there (a short or missing payload) keep what they held.
  if (files->seek(file, PAYLOAD_OFFSET) == 0)
    (void)files->read(file, info->header.bytes, PAYLOAD_HEADER_BYTES);
  files->close(file);
  payload_parse(info, length);
  return 1;
}

static void* stdio_open(void*, const char* path) {
  FILE* file = fopen(path, "rb");
#ifndef _WIN32
  // A directory opens here, and its seek end is no length; a device or pipe has none either.
  struct stat st;
  if (file && (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))) {
    fclose(file);
    file = NULL;
  }
#endif
  return file;
}

static int stdio_seek(void* file, int64_t offset) {
  return payload_seek((FILE*)file, offset, SEEK_SET) == 0 ? 0 : -1;
}

static size_t stdio_read(void* file, void* bytes, size_t n) { return fread(bytes, 1, n, (FILE*)file); }

static int64_t stdio_length(void* file) {
  if (payload_seek((FILE*)file, 0, SEEK_END) != 0) return -1;
  return payload_tell((FILE*)file);
}

static void stdio_close(void* file) { fclose((FILE*)file); }

const CarrierFiles CARRIER_FILES_STDIO = {0, stdio_open, stdio_seek, stdio_read, stdio_length,
                                          stdio_close};

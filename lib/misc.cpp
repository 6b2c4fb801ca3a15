// SPDX-License-Identifier: MIT
// Status sentences, versions and the version check, the public constants checked against the
// core's, the title and clock texts, and the WAV header.
#include <stdio.h>
#include <string.h>

#include "app/title.h"
#include "platform/wav_header.h"
#include "payload/payload.h"
#include "quira/quira.h"

#ifndef QUIRA_VERSION_STRING
#error "the build defines QUIRA_VERSION_STRING"
#endif
#ifndef QUIRA_DECODER_STRING
#error "the build defines QUIRA_DECODER_STRING"
#endif
#ifndef QUIRA_MAKER_STRING
#define QUIRA_MAKER_STRING ""
#endif

// The public constants are the core's, and the header's version is the project's.
static_assert((int)QUIRA_PAYLOAD_OFFSET == (int)PAYLOAD_OFFSET && (int)QUIRA_HEADER_BYTES == (int)PAYLOAD_HEADER_BYTES, "layout");
static_assert((int)QUIRA_HEADER_EFFECT_BYTE == (int)PAYLOAD_EFFECT_BYTE && (int)QUIRA_HEADER_LEVEL_BYTE == (int)PAYLOAD_LEVEL_BYTE,
              "header bytes");
static_assert((int)QUIRA_BLOCK_BYTES == (int)BLOCK_BYTES && (int)QUIRA_BUFFER_SAMPLES == (int)BLOCK_SAMPLES, "blocks and buffers");
static_assert((int)QUIRA_SAMPLE_RATE == (int)VOICE_RATE, "the player's rate");
static_assert((int)QUIRA_TITLE_CHARS == (int)TITLE_CHARS, "the player's title buffer");
static_assert((int)QUIRA_WAV_HEADER_BYTES == (int)WAV_HEADER_BYTES, "the WAV header");
static_assert((int)QUIRA_LEVEL_MIN == INT8_MIN && (int)QUIRA_LEVEL_MAX == INT8_MAX, "the level is the player's signed byte");
static_assert(QUIRA_VOICE_SAMPLES_MAX == (int64_t)UINT32_MAX, "the voice mark counts in 32 bits");
static_assert(QUIRA_VERSION_MAJOR == QUIRA_PROJECT_VERSION_MAJOR && QUIRA_VERSION_MINOR == QUIRA_PROJECT_VERSION_MINOR &&
                  QUIRA_VERSION_PATCH == QUIRA_PROJECT_VERSION_PATCH,
              "include/quira/quira.h's version is the project's (CMakeLists.txt)");
static_assert((int)QUIRA_VERSION_NUMBER == QUIRA_VERSION_MAJOR * 10000 + QUIRA_VERSION_MINOR * 100 + QUIRA_VERSION_PATCH,
              "the version number");

// By status, from QUIRA_OK down.
static const char* const STATUS_TEXT[] = {
    "success",
    "invalid argument",
    "out of memory",
    "cannot be read",
    "not a carrier: shorter than the 163,840-byte player it must begin with",
    "no MPEG frames of an accepted format",
    "not possible in the current state",
    "the recording holds no samples",
    "the recording is too long for a carrier",
    "the sampling rate or channel count is not supported",
    "the MPEG encoder failed",
    "the MPEG decoder cannot be set up",
    "the recording is too short to give one sample at 16 kHz",
    "not a regular file",
    "the output buffer is too small",
    "this library is not the version the program was built for",
    "too long for a WAV file (over 4 GiB of samples)",
    "a damaged web message: its payload is not whole base64",
};
static_assert(sizeof STATUS_TEXT / sizeof *STATUS_TEXT == 1 - QUIRA_ERR_DAMAGED, "a sentence for every status");

const char* quira_status_text(int32_t status) {
  if (status > 0 || status < 1 - (int32_t)(sizeof STATUS_TEXT / sizeof *STATUS_TEXT)) return "unknown status";
  return STATUS_TEXT[-status];
}

const char* quira_version(void) { return QUIRA_VERSION_STRING; }
const char* quira_decoder_version(void) { return QUIRA_DECODER_STRING; }
const char* quira_maker_version(void) { return QUIRA_MAKER_STRING; }
int32_t quira_version_number(void) { return QUIRA_VERSION_NUMBER; }

QuiraStatus quira_version_check(int32_t major, int32_t minor) {
  return major == QUIRA_VERSION_MAJOR && minor >= 0 && minor <= QUIRA_VERSION_MINOR ? QUIRA_OK : QUIRA_ERR_VERSION;
}

// Copies text into out of capacity characters; its length, or QUIRA_ERR_CAPACITY (and an empty
// text where there is room for one) when it does not fit.
static int32_t text_out(const char* text, char* out, size_t capacity) {
  if (!out) return QUIRA_ERR_ARGUMENT;
  const size_t n = strlen(text);
  if (n >= capacity) {
    if (capacity > 0) out[0] = '\0';
    return QUIRA_ERR_CAPACITY;
  }
  memcpy(out, text, n + 1);
  return (int32_t)n;
}

int32_t quira_clock_text(int32_t seconds, char* clock, size_t capacity) {
  int32_t t = seconds < 0 ? 0 : seconds;
  char text[QUIRA_CLOCK_CHARS];
  snprintf(text, sizeof text, "%02d:%02d:%02d", (int)(t / 3600), (int)(t % 3600 / 60), (int)(t % 3600 % 60));
  return text_out(text, clock, capacity);
}

int32_t quira_title_text(int64_t blocks, int32_t total_seconds, char* title, size_t capacity) {
  // As the player reckons it: blocks x 0.36 with the constant in single precision and the
  // product in double, plus one half, truncated.
  const float SECONDS_PER_BLOCK = 0.36f;
  double elapsed = (double)blocks * (double)SECONDS_PER_BLOCK + 0.5;
  // Held within the 32-bit count before it is converted: a double outside it has no int value.
  int32_t seconds = elapsed >= 2147483647.0 ? INT32_MAX : elapsed < 0 ? 0 : (int32_t)elapsed;
  char elapsed_text[QUIRA_CLOCK_CHARS], total_text[QUIRA_CLOCK_CHARS];
  quira_clock_text(seconds, elapsed_text, sizeof elapsed_text);
  quira_clock_text(total_seconds, total_text, sizeof total_text);
  // Each clock is at most 12 characters ("596523:14:07"): the title fits in its 40.
  char whole[64];
  snprintf(whole, sizeof whole, "Quira [%s]-[%s]", elapsed_text, total_text);
  return text_out(whole, title, capacity);
}

int32_t quira_wav_header(int64_t samples, uint8_t* header, size_t capacity) {
  if (!header || samples < QUIRA_WAV_OPEN_LENGTH) return QUIRA_ERR_ARGUMENT;
  if (capacity < WAV_HEADER_BYTES) return QUIRA_ERR_CAPACITY;
  // The count is bounded before it is doubled: a doubled count past 2^63 would wrap into range.
  if (samples > ((int64_t)UINT32_MAX - 36) / 2) return QUIRA_ERR_WAV_LIMIT;
  // An open length declares every size as large as 32 bits hold, as streaming encoders write
  // it: a reader takes the data to the end of the stream.
  wav_header_write(header, 1, VOICE_RATE, samples == QUIRA_WAV_OPEN_LENGTH ? UINT32_MAX : (uint32_t)(samples * 2));
  return WAV_HEADER_BYTES;
}

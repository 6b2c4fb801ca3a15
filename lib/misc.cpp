// Status sentences, versions, the title and clock texts, and the WAV header.
#include <stdio.h>
#include <string.h>

#include "audio/wav_header.h"
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

static const char* const STATUS_TEXT[] = {
    "success",
    "invalid argument",
    "out of memory",
    "cannot be read (missing, not a regular file, or unreadable)",
    "not a carrier: shorter than the 163,840-byte player it must begin with",
    "no MPEG frames of an accepted format",
    "not possible in the current state",
    "the recording holds no samples",
    "the recording is too long for a carrier",
    "the sampling rate or channel count is not supported",
    "the MPEG encoder failed",
    "the MPEG decoder cannot be set up",
    "the recording is too short to give one sample at 16 kHz",
    "a damaged web message: its payload is not whole base64",
};

const char* quira_status_text(int status) {
  // A status may come negated (the readers return one that way); its magnitude is taken in
  // unsigned arithmetic, where the most negative int has one too.
  const unsigned magnitude = status < 0 ? 0u - (unsigned)status : (unsigned)status;
  if (magnitude < sizeof STATUS_TEXT / sizeof *STATUS_TEXT) return STATUS_TEXT[magnitude];
  return "unknown error";
}

const char* quira_version(void) { return QUIRA_VERSION_STRING; }
const char* quira_decoder_version(void) { return QUIRA_DECODER_STRING; }
const char* quira_maker_version(void) { return QUIRA_MAKER_STRING; }

void quira_clock_text(int32_t seconds, char* clock) {
  int32_t t = seconds < 0 ? 0 : seconds;
  snprintf(clock, 16, "%02d:%02d:%02d", (int)(t / 3600), (int)(t % 3600 / 60), (int)(t % 3600 % 60));
}

void quira_title_text(int64_t blocks, int32_t total_seconds, char* title) {
  // As the player reckons it: blocks x 0.36 with the constant in single precision and the
  // product in double, plus one half, truncated.
  const float SECONDS_PER_BLOCK = 0.36f;
  double elapsed = (double)blocks * (double)SECONDS_PER_BLOCK + 0.5;
  // Held within the 32-bit count before it is converted: a double outside it has no int value.
  int32_t seconds = elapsed >= 2147483647.0 ? INT32_MAX : elapsed < 0 ? 0 : (int32_t)elapsed;
  char elapsed_text[16], total_text[16];
  quira_clock_text(seconds, elapsed_text);
  quira_clock_text(total_seconds, total_text);
  // Each clock is at most 12 characters ("596523:14:07"): the title fits in its 40.
  char whole[64];
  snprintf(whole, sizeof whole, "Quira [%s]-[%s]", elapsed_text, total_text);
  size_t n = strlen(whole);
  if (n > QUIRA_TITLE_CHARS - 1) n = QUIRA_TITLE_CHARS - 1;
  memcpy(title, whole, n);
  title[n] = '\0';
}

int quira_wav_header(int64_t samples, uint8_t header[44]) {
  // The count is bounded before it is doubled: a doubled count past 2^63 would wrap into range.
  if (samples < 0 || samples > ((int64_t)0xFFFFFFFF - 36) / 2) return 0;
  wav_header_write(header, 1, VOICE_RATE, (uint32_t)(samples * 2));
  return 1;
}

// Layer III encoding over libmp3lame.
#include "tool/mpeg_encoder.h"

#include <lame.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "decode/block_decoder.h"

namespace {

const int RATE = 16000;

int encoder_fail(MpegEncoder* e, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(e->why, sizeof e->why, format, args);
  va_end(args);
  return 0;
}

}  // namespace

int mpeg_encoder_start(MpegEncoder* e, int kbps) {
  e->lame = nullptr;
  e->frames = nullptr;
  e->bytes = e->capacity = 0;
  e->why[0] = '\0';
  e->format = kbps == 32 ? 2 : 1;
  e->lame = lame_init();
  if (!e->lame) return encoder_fail(e, "cannot start libmp3lame");
  lame_global_flags* lame = e->lame;
  lame_set_in_samplerate(lame, RATE);
  lame_set_out_samplerate(lame, RATE);
  lame_set_num_channels(lame, 1);
  lame_set_mode(lame, MONO);
  lame_set_VBR(lame, vbr_off);
  lame_set_brate(lame, kbps);
  lame_set_bWriteVbrTag(lame, 0);  // an Info frame would be one frame too many, of no use here
  lame_set_write_id3tag_automatic(lame, 0);
  lame_set_original(lame, 1);
  lame_set_copyright(lame, 0);
  lame_set_error_protection(lame, 0);
  lame_set_emphasis(lame, 0);
  if (lame_init_params(lame) < 0) return encoder_fail(e, "libmp3lame refuses the settings");
  return 1;
}

int mpeg_encoder_reserve(MpegEncoder* e, size_t bytes) {
  if (bytes <= e->capacity) return 1;
  uint8_t* grown = (uint8_t*)realloc(e->frames, bytes);
  if (!grown) return encoder_fail(e, "out of memory for %zu bytes of frames", bytes);
  e->frames = grown;
  e->capacity = bytes;
  return 1;
}

// Appends one call's output to the stream. A stream longer than reserved grows by half (glibc
// moves a large block's pages rather than copying them).
static int encoder_append(MpegEncoder* e, int bytes) {
  if (bytes <= 0) return 1;
  if (e->bytes + (size_t)bytes > e->capacity) {
    size_t grown = e->capacity + e->capacity / 2;
    if (grown < e->bytes + (size_t)bytes + (1 << 20)) grown = e->bytes + (size_t)bytes + (1 << 20);
    if (!mpeg_encoder_reserve(e, grown)) return 0;
  }
  memcpy(e->frames + e->bytes, e->chunk, (size_t)bytes);
  e->bytes += (size_t)bytes;
  return 1;
}

int mpeg_encoder_encode(MpegEncoder* e, const float* samples, size_t n) {
  if (n > MPEG_ENCODER_PIECE) return encoder_fail(e, "%zu samples in one call, more than %d", n, MPEG_ENCODER_PIECE);
  int bytes = lame_encode_buffer_ieee_float(e->lame, samples, samples, (int)n, e->chunk, (int)sizeof e->chunk);
  if (bytes < 0) return encoder_fail(e, "libmp3lame failed (%d)", bytes);
  return encoder_append(e, bytes);
}

int mpeg_encoder_finish(MpegEncoder* e, int64_t expected_frames) {
  int bytes = lame_encode_flush(e->lame, e->chunk, (int)sizeof e->chunk);
  if (bytes < 0) return encoder_fail(e, "libmp3lame failed to flush (%d)", bytes);
  if (!encoder_append(e, bytes)) return 0;

  const size_t step = (size_t)FRAME_STEP[e->format];
  const uint32_t word = SYNC_WORDS[e->format];
  if (e->bytes != (size_t)expected_frames * step)
    return encoder_fail(e, "libmp3lame gave %zu bytes, not the %lld frames of %zu bytes expected", e->bytes,
                        (long long)expected_frames, step);
  for (size_t at = 0; at < e->bytes; at += step) {
    const uint8_t* h = &e->frames[at];
    uint32_t got = (uint32_t)h[0] << 24 | (uint32_t)h[1] << 16 | (uint32_t)h[2] << 8 | h[3];
    if (got != word)
      return encoder_fail(e, "frame %zu has header 0x%08X, not the accepted 0x%08X", at / step, got, word);
  }
  return 1;
}

void mpeg_encoder_end(MpegEncoder* e) {
  if (e->lame) lame_close(e->lame);
  free(e->frames);
  e->lame = nullptr;
  e->frames = nullptr;
  e->bytes = e->capacity = 0;
}

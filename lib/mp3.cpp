// SPDX-License-Identifier: MIT
// QuiraMp3: 16 kHz mono samples to MP3 with the pinned LAME, an Info frame first.
//
// Constant bit rate, MPEG-2 Layer III, mono: the format every MP3 player opens, at a rate that
// keeps speech and its effects well above the carrier's own 32 kbit/s. The Info frame carries
// LAME's delay and padding, which decoders use to trim the stream to the samples given.
#include <stdlib.h>

#include "quira/quira.h"

#ifdef QUIRA_HAS_LAME
#include <lame.h>
#include <limits.h>

struct QuiraMp3 {
  lame_global_flags* lame;
  int32_t finished;
};

QuiraStatus quira_mp3_new(QuiraMp3** mp3) {
  if (!mp3) return QUIRA_ERR_ARGUMENT;
  *mp3 = nullptr;
  QuiraMp3* m = (QuiraMp3*)calloc(1, sizeof(QuiraMp3));
  if (!m) return QUIRA_ERR_MEMORY;
  m->lame = lame_init();
  if (!m->lame) {
    free(m);
    return QUIRA_ERR_ENCODER;
  }
  lame_set_in_samplerate(m->lame, QUIRA_SAMPLE_RATE);
  lame_set_out_samplerate(m->lame, QUIRA_SAMPLE_RATE);
  lame_set_num_channels(m->lame, 1);
  lame_set_mode(m->lame, MONO);
  lame_set_VBR(m->lame, vbr_off);
  lame_set_brate(m->lame, QUIRA_MP3_KBPS);
  lame_set_bWriteVbrTag(m->lame, 1);
  lame_set_write_id3tag_automatic(m->lame, 0);
  if (lame_init_params(m->lame) < 0) {
    quira_mp3_free(m);
    return QUIRA_ERR_ENCODER;
  }
  *mp3 = m;
  return QUIRA_OK;
}

// LAME counts its output buffer in an int.
static int lame_room(size_t capacity) { return capacity > INT_MAX ? INT_MAX : (int)capacity; }

int32_t quira_mp3_encode(QuiraMp3* mp3, const int16_t* samples, int32_t n, uint8_t* out, size_t capacity) {
  if (!mp3 || n < 0 || (n && !samples) || !out) return QUIRA_ERR_ARGUMENT;
  if (mp3->finished) return QUIRA_ERR_STATE;
  // LAME takes the same buffer as both channels' and reads only the first in mono.
  int bytes = lame_encode_buffer(mp3->lame, samples, samples, n, out, lame_room(capacity));
  return bytes < 0 ? QUIRA_ERR_ENCODER : bytes;
}

int32_t quira_mp3_finish(QuiraMp3* mp3, uint8_t* out, size_t capacity) {
  if (!mp3 || !out) return QUIRA_ERR_ARGUMENT;
  if (mp3->finished) return QUIRA_ERR_STATE;
  mp3->finished = 1;
  int bytes = lame_encode_flush(mp3->lame, out, lame_room(capacity));
  return bytes < 0 ? QUIRA_ERR_ENCODER : bytes;
}

int32_t quira_mp3_info_frame(QuiraMp3* mp3, uint8_t* out, size_t capacity) {
  if (!mp3 || !out) return QUIRA_ERR_ARGUMENT;
  if (!mp3->finished) return QUIRA_ERR_STATE;
  size_t bytes = lame_get_lametag_frame(mp3->lame, out, capacity);
  if (bytes > capacity) return QUIRA_ERR_CAPACITY;
  return bytes == 0 ? QUIRA_ERR_ENCODER : (int32_t)bytes;
}

void quira_mp3_free(QuiraMp3* mp3) {
  if (!mp3) return;
  if (mp3->lame) lame_close(mp3->lame);
  free(mp3);
}
#else
// A build without the maker's LAME.
struct QuiraMp3 {
  int unused;
};
QuiraStatus quira_mp3_new(QuiraMp3** mp3) {
  if (mp3) *mp3 = nullptr;
  return QUIRA_ERR_ENCODER;
}
int32_t quira_mp3_encode(QuiraMp3*, const int16_t*, int32_t, uint8_t*, size_t) { return QUIRA_ERR_STATE; }
int32_t quira_mp3_finish(QuiraMp3*, uint8_t*, size_t) { return QUIRA_ERR_STATE; }
int32_t quira_mp3_info_frame(QuiraMp3*, uint8_t*, size_t) { return QUIRA_ERR_STATE; }
void quira_mp3_free(QuiraMp3*) {}
#endif

// SPDX-License-Identifier: MIT
/* The page's bridge to libquira's maker, compiled to WebAssembly with it and with web/glue.c.
 *
 * The new-message view feeds a recording to makers as it arrives (web/maker-worker.js), one per
 * bit rate, so that the person can pick the effect, its level and the bit rate afterwards: the
 * frames depend on the bit rate only, and the effect code and level byte stand outside the voice
 * mark's check. The carrier's bytes are read with the effect chosen named in the maker's header,
 * and a preview is the message as heard from those bytes, decoded here.
 *
 * Makers cross into JavaScript as their addresses. Sizes and offsets cross as doubles: exact for
 * every value below 2^53.
 */
#include <emscripten.h>

#include "quira/quira.h"

/* A maker for a recording at rate Hz of channels interleaved channels, at kbps; the status into
 * *status, the maker (or null) returned. Its own effect is none: the choice comes at reading. */
EMSCRIPTEN_KEEPALIVE QuiraMaker* web_maker_new(double rate, int channels, int kbps, int* status) {
  QuiraMakeOptions options;
  quira_make_options_init(&options);
  options.bitrate_kbps = kbps;
  QuiraMaker* maker = NULL;
  *status = quira_maker_new(rate, channels, &options, &maker);
  return maker;
}

EMSCRIPTEN_KEEPALIVE int web_maker_write(QuiraMaker* maker, const float* interleaved, int frames) {
  return quira_maker_write(maker, interleaved, frames);
}

EMSCRIPTEN_KEEPALIVE int web_maker_finish(QuiraMaker* maker) { return quira_maker_finish(maker); }
EMSCRIPTEN_KEEPALIVE double web_maker_size(QuiraMaker* maker) { return (double)quira_maker_size(maker); }
EMSCRIPTEN_KEEPALIVE double web_maker_voice_samples(QuiraMaker* maker) {
  return (double)quira_maker_voice_samples(maker);
}
/* What the maker mended, as `quira make` warns of it: samples that were not numbers, made
 * silent, and samples beyond full scale, clipped. */
EMSCRIPTEN_KEEPALIVE double web_maker_not_numbers(QuiraMaker* maker) { return (double)quira_maker_not_numbers(maker); }
EMSCRIPTEN_KEEPALIVE double web_maker_clipped(QuiraMaker* maker) { return (double)quira_maker_clipped(maker); }
EMSCRIPTEN_KEEPALIVE void web_maker_free(QuiraMaker* maker) { quira_maker_free(maker); }

/* The SHA-256 of the player in front of the carriers made here, as 64 hex digits: what a web
 * message of such a carrier names as its player. Valid until the next call. */
EMSCRIPTEN_KEEPALIVE const char* web_embedded_player_sha256(void) {
  static const char DIGITS[] = "0123456789abcdef";
  static char text[2 * QUIRA_SHA256_BYTES + 1];
  uint8_t digest[QUIRA_SHA256_BYTES];
  text[0] = 0;
  if (quira_embedded_player_sha256(digest, sizeof digest) != QUIRA_OK) return text;
  for (int i = 0; i < QUIRA_SHA256_BYTES; i++) {
    text[2 * i] = DIGITS[digest[i] >> 4];
    text[2 * i + 1] = DIGITS[digest[i] & 15];
  }
  text[2 * QUIRA_SHA256_BYTES] = 0;
  return text;
}

/* Names effect code and level (-128 to 127) in the maker's header; the status. */
static int maker_choose(QuiraMaker* maker, int code, int level) {
  QuiraEffectChoice effect = {sizeof effect, code, level};
  return quira_maker_set_effect(maker, &effect);
}

/* The carrier's bytes from offset, with effect code and level (-128 to 127) in its header: how
 * many were copied, or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_maker_read(QuiraMaker* maker, double offset, uint8_t* buffer, int n, int code,
                                        int level) {
  int refused = maker_choose(maker, code, level);
  if (refused) return refused;
  return (int)quira_maker_read(maker, (int64_t)offset, buffer, n < 0 ? 0 : (size_t)n);
}

/* ---- Preview: the message as heard from a finished maker's bytes ---------------------------- */

static QuiraCarrier* PREVIEW_CARRIER;
static QuiraHeard* PREVIEW_HEARD;

static int64_t preview_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  return quira_maker_read((const QuiraMaker*)context, offset, buffer, (size_t)n);
}

EMSCRIPTEN_KEEPALIVE void web_preview_close(void) {
  quira_heard_close(PREVIEW_HEARD);
  PREVIEW_HEARD = NULL;
  quira_carrier_close(PREVIEW_CARRIER);
  PREVIEW_CARRIER = NULL;
}

/* Opens the message as heard from maker's carrier with effect code and level; closes the
 * preview before. The maker must stay until the preview is closed. */
EMSCRIPTEN_KEEPALIVE int web_preview_open(QuiraMaker* maker, int code, int level) {
  web_preview_close();
  int status = maker_choose(maker, code, level);
  QuiraSource source = {sizeof source, maker, preview_read_at, quira_maker_size(maker)};
  if (!status) status = quira_carrier_open_source(&source, &PREVIEW_CARRIER);
  if (!status) status = quira_heard_open(PREVIEW_CARRIER, NULL, &PREVIEW_HEARD);
  if (status) web_preview_close();
  return status;
}

/* Up to max samples of the preview: how many (0 at the end), or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_preview_read(int16_t* samples, int max) {
  return (int)quira_heard_read(PREVIEW_HEARD, samples, max < 0 ? 0 : (size_t)max);
}

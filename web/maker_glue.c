/* The page's bridge to libquira's maker, compiled to WebAssembly with it and with web/glue.c.
 *
 * The new-message view feeds a recording to makers as it arrives (web/maker-worker.js), one per
 * bit rate, so that the person can pick the effect, its level and the bit rate afterwards: the
 * frames depend on the bit rate only, and the effect code and level byte stand outside the voice
 * mark's check. The carrier's bytes are read with the effect chosen in place of the maker's, and
 * a preview is the message as heard from those bytes, decoded here.
 *
 * Makers cross into JavaScript as their addresses. Sizes and offsets cross as doubles: exact for
 * every value below 2^53.
 */
#include <emscripten.h>

#include "quira/quira.h"

/* A maker for a recording at rate Hz of channels interleaved channels, at kbps; the status into
 * *status, the maker (or null) returned. Its own effect is none: the choice comes at reading. */
EMSCRIPTEN_KEEPALIVE QuiraMaker* web_maker_new(double rate, int channels, int kbps, int* status) {
  QuiraMakeOptions options = {0, 0, kbps, -1};
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

/* The effect a carrier is read with: header byte 10 and byte 11 (127 - level). */
typedef struct Reading {
  const QuiraMaker* maker;
  uint8_t effect[2];
} Reading;

static int64_t reading_read(const Reading* r, int64_t offset, void* buffer, int64_t n) {
  int64_t got = quira_maker_read(r->maker, offset, buffer, n);
  for (int i = 0; i < 2; i++) {
    int64_t at = QUIRA_PAYLOAD_OFFSET + 10 + i - offset;
    if (at >= 0 && at < got) ((uint8_t*)buffer)[at] = r->effect[i];
  }
  return got;
}

static Reading reading_of(const QuiraMaker* maker, int code, int level) {
  Reading r = {maker, {(uint8_t)code, (uint8_t)(127 - level)}};
  return r;
}

/* The carrier's bytes from offset, with effect code and level (-128 to 127) in its header: how
 * many were copied. */
EMSCRIPTEN_KEEPALIVE int web_maker_read(QuiraMaker* maker, double offset, uint8_t* buffer, int n, int code,
                                        int level) {
  Reading r = reading_of(maker, code, level);
  return (int)reading_read(&r, (int64_t)offset, buffer, n);
}

/* ---- Preview: the message as heard from a finished maker's bytes ---------------------------- */

static Reading PREVIEW_READING;
static QuiraCarrier* PREVIEW_CARRIER;
static QuiraHeard* PREVIEW_HEARD;

static int64_t preview_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  return reading_read((const Reading*)context, offset, buffer, n);
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
  PREVIEW_READING = reading_of(maker, code, level);
  QuiraSource source = {&PREVIEW_READING, preview_read_at, quira_maker_size(maker)};
  int status = quira_carrier_open_source(&source, &PREVIEW_CARRIER);
  if (status == QUIRA_OK) status = quira_heard_open(PREVIEW_CARRIER, NULL, &PREVIEW_HEARD);
  if (status != QUIRA_OK) web_preview_close();
  return status;
}

/* Up to max samples of the preview: how many (0 at the end), or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_preview_read(int16_t* samples, int max) {
  return (int)quira_heard_read(PREVIEW_HEARD, samples, max);
}

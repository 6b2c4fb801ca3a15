// SPDX-License-Identifier: MIT
/* The web page's bridge to libquira, compiled to WebAssembly with it.
 *
 * Each worker of the page runs its own instance of this module, which holds at most one carrier,
 * one player and one heard stream at a time (the statics below): a worker serves one file.
 *
 * The carrier is read through web_file_read, over slices of the File that the page's thread reads
 * and hands to the worker (worker-core.js, PageFile), so a file is never loaded whole. A slice
 * not there yet suspends the library's call until it arrives: the module is built with Asyncify,
 * and web_file_read is the one import that may wait, so the worker calls the functions that read
 * through ccall's async mode. Block indices, offsets and sizes cross into JavaScript as doubles:
 * exact for every value below 2^53.
 *
 * Facts go out as JSON text in one static buffer, valid until the next call that writes it.
 *
 * Statuses and levels cross as the library gives them: a QuiraStatus (0, or negative: the page
 * names them by the constants of quira.h), and the effect level as its signed weight.
 */
#include <emscripten.h>
#include <stdio.h>

#include "quira/quira.h"

/* Reads n bytes at offset into buffer: the count read, 0 at the end, -1 when the file cannot be
 * read (it changed or vanished since it was picked). readAt answers at once from the slices held,
 * or -2 when one must come from the page first; then the call sleeps until readLater has it.
 * When the call is woken, this runs again in the rewinding state and returns what readLater
 * gave. */
EM_JS(int, web_file_read, (double offset, void* buffer, int n), {
  if (Asyncify.state === Asyncify.State.Normal) {
    var got = Module["readAt"](offset, buffer, n);
    if (got !== -2) return got;
  }
  return Asyncify.handleSleep(function(wakeUp) {
    Module["readLater"](offset, buffer, n).then(wakeUp);
  });
});

enum { FAILED_LISTED = 32, TEXT_BYTES = 4096 };

static QuiraCarrier* CARRIER;
static QuiraPlayer* PLAYER;
static QuiraHeard* HEARD;
static char TEXT[TEXT_BYTES];
static char TITLE[QUIRA_TITLE_CHARS];

static int64_t source_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  (void)context;
  return web_file_read((double)offset, buffer, n);
}

/* A choice of effect from the page: use_header 1 plays the header's effect. */
static const QuiraEffectChoice* choice_of(int use_header, int code, int level, QuiraEffectChoice* choice) {
  if (use_header) return NULL;
  choice->struct_size = sizeof *choice;
  choice->effect_code = code;
  choice->effect_level = level;
  return choice;
}

static void release_all(void) {
  quira_heard_close(HEARD);
  HEARD = NULL;
  quira_player_free(PLAYER);
  PLAYER = NULL;
  quira_carrier_close(CARRIER);
  CARRIER = NULL;
}

/* Opens the worker's file, of size bytes, as the carrier; releases what came before. */
EMSCRIPTEN_KEEPALIVE int web_open(double size) {
  release_all();
  QuiraSource source = {sizeof source, NULL, source_read_at, (int64_t)size};
  return quira_carrier_open_source(&source, &CARRIER);
}

/* Opens the worker's file, of size bytes, as a bare payload (the page of a web message hands
 * over the one it holds), standing behind the player of digest player_sha256 (32 bytes). */
EMSCRIPTEN_KEEPALIVE int web_open_payload(double size, const uint8_t* player_sha256) {
  release_all();
  QuiraSource source = {sizeof source, NULL, source_read_at, (int64_t)size};
  return quira_carrier_open_payload(&source, player_sha256, &CARRIER);
}

/* Up to n of the carrier's bytes from offset into buffer: how many (0 at the end), or a negative
 * status. */
EMSCRIPTEN_KEEPALIVE int web_read(double offset, uint8_t* buffer, int n) {
  return (int)quira_carrier_read(CARRIER, (int64_t)offset, buffer, n < 0 ? 0 : (size_t)n);
}

/* The closing comment of a web message (quira_web_trailer) whose base64 begins at offset at,
 * holding payload_bytes, for the player of digest player_sha256 (32 bytes); "" when refused. */
EMSCRIPTEN_KEEPALIVE const char* web_trailer(double at, double payload_bytes, const uint8_t* player_sha256) {
  if (quira_web_trailer((int64_t)at, (int64_t)payload_bytes, player_sha256, TEXT, TEXT_BYTES) < 0) TEXT[0] = 0;
  return TEXT;
}

/* Appends text as a JSON string (quotes and backslashes escaped, control characters dropped). */
static size_t put_string(size_t at, const char* text) {
  if (at < TEXT_BYTES - 1) TEXT[at++] = '"';
  for (; text && *text && at < TEXT_BYTES - 3; text++) {
    unsigned char c = (unsigned char)*text;
    if (c < 0x20) continue;
    if (c == '"' || c == '\\') TEXT[at++] = '\\';
    TEXT[at++] = (char)c;
  }
  if (at < TEXT_BYTES - 1) TEXT[at++] = '"';
  TEXT[at] = 0;
  return at;
}

static size_t put(size_t at, const char* format, long long a, long long b) {
  if (at >= TEXT_BYTES - 1) return at;
  int n = snprintf(TEXT + at, TEXT_BYTES - at, format, a, b);
  if (n < 0) return at;
  return at + (size_t)n < TEXT_BYTES ? at + (size_t)n : TEXT_BYTES - 1;
}

static void hex(const uint8_t* bytes, int n, char* out) {
  static const char DIGITS[] = "0123456789abcdef";
  for (int i = 0; i < n; i++) {
    out[2 * i] = DIGITS[bytes[i] >> 4];
    out[2 * i + 1] = DIGITS[bytes[i] & 15];
  }
  out[2 * n] = 0;
}

/* What the header says, as JSON: the facts `quira info` shows that need no decoding. */
EMSCRIPTEN_KEEPALIVE const char* web_header_json(void) {
  QuiraHeaderFacts f = {.struct_size = sizeof f};
  int status = quira_carrier_header(CARRIER, &f);
  if (status != QUIRA_OK) {
    put(0, "{\"status\":%lld}", status, 0);
    return TEXT;
  }
  char sha[65], header[2 * QUIRA_HEADER_BYTES + 1];
  hex(f.player_sha256, 32, sha);
  hex(f.header, QUIRA_HEADER_BYTES, header);
  const QuiraEffect* effect = quira_effect(f.effect_code);
  size_t at = put(0, "{\"status\":0,\"payload_bytes\":%lld,\"header_bytes_read\":%lld",
                  f.payload_bytes, f.header_bytes_read);
  at = put(at, ",\"effect_code\":%lld,\"effect_known\":%lld", f.effect_code, f.effect_known);
  at = put(at, ",\"level_byte\":%lld,\"effect_level\":%lld", f.level_byte, f.effect_level);
  at = put(at, ",\"blocks\":%lld,\"last_block_bytes\":%lld", f.blocks, f.last_block_bytes);
  at = put(at, ",\"has_voice_mark\":%lld,\"voice_samples\":%lld", f.has_voice_mark,
           f.voice_samples);
  at = put(at, ",\"total_seconds\":%lld,\"player_ours\":%lld", f.total_seconds, f.player_ours);
  at = put(at, ",\"web_message\":%lld", f.web_message, 0);
  at = put(at, ",\"player_sha256\":", 0, 0);
  at = put_string(at, sha);
  at = put(at, ",\"header\":", 0, 0);
  at = put_string(at, header);
  at = put(at, ",\"effect_name\":", 0, 0);
  at = effect ? put_string(at, effect->name) : put(at, "null", 0, 0);
  at = put(at, ",\"effect_family\":", 0, 0);
  at = effect ? put_string(at, effect->family) : put(at, "null", 0, 0);
  put(at, "}", 0, 0);
  return TEXT;
}

/* Decodes every block once, as playback from the start does: format, failed blocks, as JSON. */
EMSCRIPTEN_KEEPALIVE const char* web_survey_json(void) {
  QuiraSurvey s = {.struct_size = sizeof s};
  int64_t failed[FAILED_LISTED];
  int status = quira_carrier_survey(CARRIER, &s, failed, FAILED_LISTED);
  if (status != QUIRA_OK) {
    put(0, "{\"status\":%lld}", status, 0);
    return TEXT;
  }
  size_t at = put(0, "{\"status\":0,\"format\":%lld,\"mixed_formats\":%lld", s.format,
                  s.mixed_formats);
  at = put(at, ",\"decoded_blocks\":%lld,\"failed_blocks\":%lld", s.decoded_blocks,
           s.failed_blocks);
  at = put(at, ",\"bitrate_kbps\":%lld,\"sample_rate\":%lld", quira_format_kbps(s.format),
           quira_format_rate(s.format));
  at = put(at, ",\"format_name\":", 0, 0);
  const char* name = quira_format_name(s.format);
  at = name ? put_string(at, name) : put(at, "null", 0, 0);
  at = put(at, ",\"failed\":[", 0, 0);
  int64_t listed = s.failed_blocks < FAILED_LISTED ? s.failed_blocks : FAILED_LISTED;
  for (int64_t i = 0; i < listed; i++) at = put(at, i ? ",%lld" : "%lld", failed[i], 0);
  put(at, "]}", 0, 0);
  return TEXT;
}

/* The sixteen effects as JSON: code, name, family, description. */
EMSCRIPTEN_KEEPALIVE const char* web_effects_json(void) {
  size_t at = put(0, "[", 0, 0);
  for (int code = 1; code <= QUIRA_EFFECT_CODE_MAX; code++) {
    const QuiraEffect* e = quira_effect(code);
    if (!e) continue;
    at = put(at, code > 1 ? ",{\"code\":%lld,\"name\":" : "{\"code\":%lld,\"name\":", e->code, 0);
    at = put_string(at, e->name);
    at = put(at, ",\"family\":", 0, 0);
    at = put_string(at, e->family);
    at = put(at, ",\"description\":", 0, 0);
    at = put_string(at, e->description);
    at = put(at, "}", 0, 0);
  }
  put(at, "]", 0, 0);
  return TEXT;
}

/* ---- The player ----------------------------------------------------------------------- */

/* A new player over the carrier with the header's effect or another; the old one is freed. */
EMSCRIPTEN_KEEPALIVE int web_player_new(int use_header, int code, int level) {
  quira_player_free(PLAYER);
  PLAYER = NULL;
  QuiraEffectChoice choice;
  return quira_player_new(CARRIER, choice_of(use_header, code, level, &choice), &PLAYER);
}

EMSCRIPTEN_KEEPALIVE int web_player_start(void) { return quira_player_start(PLAYER); }

/* The next buffer into samples (QUIRA_BUFFER_SAMPLES): 1 + its kind, 0 at the natural end or
 * when not playing, or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_player_next(int16_t* samples) {
  int32_t kind = 0;
  int got = quira_player_next(PLAYER, samples, QUIRA_BUFFER_SAMPLES, &kind);
  return got > 0 ? 1 + kind : got;
}

EMSCRIPTEN_KEEPALIVE void web_player_stop(void) { quira_player_stop(PLAYER); }
EMSCRIPTEN_KEEPALIVE int web_player_seek(double block) {
  return quira_player_seek(PLAYER, (int64_t)block);
}
EMSCRIPTEN_KEEPALIVE double web_player_position(void) {
  return PLAYER ? (double)quira_player_position(PLAYER) : 0;
}
EMSCRIPTEN_KEEPALIVE const char* web_player_title(void) {
  TITLE[0] = 0;
  if (PLAYER) quira_player_title(PLAYER, TITLE, sizeof TITLE);
  return TITLE;
}

/* ---- The message as heard, and the plain frames ---------------------------------------- */

EMSCRIPTEN_KEEPALIVE int web_heard_open(int use_header, int code, int level) {
  quira_heard_close(HEARD);
  HEARD = NULL;
  QuiraEffectChoice choice;
  return quira_heard_open(CARRIER, choice_of(use_header, code, level, &choice), &HEARD);
}

/* Up to max samples of the heard message: how many (0 at the end), or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_heard_read(int16_t* samples, int max) {
  return (int)quira_heard_read(HEARD, samples, max < 0 ? 0 : (size_t)max);
}

/* The most samples the heard stream opened last can give, known before it is read. */
EMSCRIPTEN_KEEPALIVE double web_heard_bound(void) { return (double)quira_heard_bound(HEARD); }

EMSCRIPTEN_KEEPALIVE void web_heard_close(void) {
  quira_heard_close(HEARD);
  HEARD = NULL;
}

/* 1 when the header for samples was written into header, 0 when they are too many. */
EMSCRIPTEN_KEEPALIVE int web_wav_header(double samples, uint8_t* header) {
  return quira_wav_header((int64_t)samples, header, QUIRA_WAV_HEADER_BYTES) > 0;
}

/* Block's plain frames into frames (QUIRA_BLOCK_BYTES): their byte count, or a negative status
 * (QUIRA_ERR_NOT_FRAMES for a block of no accepted format). */
EMSCRIPTEN_KEEPALIVE int web_frames(double block, uint8_t* frames) {
  return quira_carrier_frames(CARRIER, (int64_t)block, frames, QUIRA_BLOCK_BYTES);
}

/* ---- The message as heard, as MP3 -------------------------------------------------------- */

/* One encoder at a time, fed the heard stream as it is read (as `quira export x.exe -o x.mp3`
 * feeds it), so the page's file is the tool's. */
static QuiraMp3* MP3;

EMSCRIPTEN_KEEPALIVE void web_mp3_free(void) {
  quira_mp3_free(MP3);
  MP3 = NULL;
}

EMSCRIPTEN_KEEPALIVE int web_mp3_new(void) {
  web_mp3_free();
  return quira_mp3_new(&MP3);
}

/* n samples into out (capacity bytes): the bytes made, or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_mp3_encode(const int16_t* samples, int n, uint8_t* out, int capacity) {
  return quira_mp3_encode(MP3, samples, n, out, capacity < 0 ? 0 : (size_t)capacity);
}

EMSCRIPTEN_KEEPALIVE int web_mp3_finish(uint8_t* out, int capacity) {
  return quira_mp3_finish(MP3, out, capacity < 0 ? 0 : (size_t)capacity);
}

/* The Info frame to write over the stream's first bytes: its bytes, or a negative status. */
EMSCRIPTEN_KEEPALIVE int web_mp3_info_frame(uint8_t* out, int capacity) {
  return quira_mp3_info_frame(MP3, out, capacity < 0 ? 0 : (size_t)capacity);
}

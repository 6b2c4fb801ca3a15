// SPDX-License-Identifier: MIT
// Web messages and bare payloads read as the carriers they came from.
//
// A web message holds its payload as one run of base64 and ends with a comment of fixed width
// naming where the run begins, the payload's length and the digest of the player it stood
// behind. Reading it needs only that comment and, for each read, the base64 characters of the
// bytes asked for: four characters for every three bytes, so any byte's place is known without
// looking at what comes before it. Memory stays the same whatever the message's length.
#include <stdio.h>
#include <string.h>

#include "lib/carrier.h"

namespace {

const char TRAILER_FORMAT[] = "<!-- quira-message at=%015lld bytes=%015lld player=%s -->\n";
const char TRAILER_OPENING[] = "<!-- quira-message at=";
const char PAGE_OPENING[] = "<!doctype html";
// Base64 groups decoded per read of the page: 4,096 characters.
enum { GROUPS_PER_READ = 1024 };
// How far before its place the closing comment is looked for.
enum { END_SLACK = 64 };

int base64_value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A decimal field of exactly 15 digits.
bool read_digits(const char* text, int64_t* value) {
  int64_t v = 0;
  for (int i = 0; i < 15; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

int64_t payload_bytes_of(const QuiraCarrier* c) { return c->source.length - PAYLOAD_OFFSET; }

// The payload's bytes from offset at, decoded from the page's base64: three bytes a group of
// four characters, the last group padded with '='. -1 on a read error, -2 when a character is
// not base64.
int64_t base64_read(QuiraCarrier* c, int64_t at, uint8_t* out, int64_t n) {
  const int64_t total = payload_bytes_of(c);
  int64_t done = 0;
  uint8_t text[GROUPS_PER_READ * 4];
  while (done < n) {
    const int64_t first_group = (at + done) / 3;
    const int64_t end = at + n;
    int64_t groups = (end + 2) / 3 - first_group;
    if (groups > GROUPS_PER_READ) groups = GROUPS_PER_READ;
    const int32_t chars = (int32_t)(groups * 4);
    if (c->inner.read_at(c->inner.context, c->text_at + first_group * 4, text, chars) != chars) return -1;
    for (int64_t g = 0; g < groups; g++) {
      const uint8_t* q = text + g * 4;
      const int64_t group_at = (first_group + g) * 3;
      // The final group holds 1 or 2 bytes when the payload is not a multiple of three long.
      const int64_t in_group = total - group_at < 3 ? total - group_at : 3;
      int v[4];
      for (int i = 0; i < 4; i++) {
        v[i] = base64_value(q[i]);
        if (v[i] < 0 && !(q[i] == '=' && i > in_group)) return -2;
        if (v[i] < 0) v[i] = 0;
      }
      const uint8_t bytes[3] = {(uint8_t)(v[0] << 2 | v[1] >> 4), (uint8_t)(v[1] << 4 | v[2] >> 2),
                                (uint8_t)(v[2] << 6 | v[3])};
      for (int64_t i = 0; i < in_group; i++) {
        const int64_t p = group_at + i;
        if (p >= at + done && p < end) out[p - at] = bytes[i];
      }
    }
    done = (first_group + groups) * 3 - at;
    if (done > n) done = n;
  }
  return n;
}

// The carrier a wrapped payload stands for: the front part (the player's bytes, when the digest
// is of the player this library holds), then the payload.
int64_t wrapped_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  QuiraCarrier* c = (QuiraCarrier*)context;
  if (offset >= c->source.length) return 0;
  int64_t want = c->source.length - offset < n ? c->source.length - offset : n;
  uint8_t* out = (uint8_t*)buffer;
  int64_t got = 0;
  if (offset < PAYLOAD_OFFSET) {
    uint8_t own[32];
    player_own_sha256(own);
    size_t image_size = 0;
    const uint8_t* image = quira_embedded_player(&image_size);
    if (memcmp(own, c->front_sha256, 32) != 0 || !image || image_size != PAYLOAD_OFFSET) return -1;
    got = PAYLOAD_OFFSET - offset < want ? PAYLOAD_OFFSET - offset : want;
    memcpy(out, image + offset, (size_t)got);
    if (got == want) return got;
  }
  const int64_t at = offset + got - PAYLOAD_OFFSET;
  const int64_t rest = want - got;
  int64_t r;
  if (c->wrap == WRAP_PAYLOAD) {
    r = c->inner.read_at(c->inner.context, at, out + got, (int32_t)rest);
    if (r >= 0 && r < rest) r = -1;  // the payload is shorter than it said: a read error
  } else {
    r = base64_read(c, at, out + got, rest);
  }
  return r < 0 ? -1 : got + r;
}

}  // namespace

void carrier_wrap_payload(QuiraCarrier* c, const QuiraSource* payload, int32_t wrap, int64_t text_at,
                          int64_t payload_bytes, const uint8_t front[32]) {
  c->inner = *payload;
  c->wrap = wrap;
  c->text_at = text_at;
  memcpy(c->front_sha256, front, 32);
  c->source = {sizeof c->source, c, wrapped_read_at, PAYLOAD_OFFSET + payload_bytes};
}

int web_message_detect(QuiraCarrier* c) {
  const int64_t size = c->source.length;
  if (size < QUIRA_WEB_TRAILER_CHARS + (int64_t)sizeof PAGE_OPENING) return 0;
  char opening[sizeof PAGE_OPENING - 1];
  int64_t got = c->source.read_at(c->source.context, 0, opening, (int32_t)sizeof opening);
  if (got < 0) return -1;
  if (got != (int64_t)sizeof opening) return 0;
  for (size_t i = 0; i < sizeof opening; i++)
    if ((opening[i] >= 'A' && opening[i] <= 'Z' ? opening[i] | 0x20 : opening[i]) != PAGE_OPENING[i]) return 0;

  // The page's end, with room for a comment that lost or gained a few characters on the way.
  char t[QUIRA_WEB_TRAILER_CHARS + END_SLACK + 1];
  const int64_t end_bytes = size < (int64_t)sizeof t - 1 ? size : (int64_t)sizeof t - 1;
  got = c->source.read_at(c->source.context, size - end_bytes, t, (int32_t)end_bytes);
  if (got < 0) return -1;
  if (got != end_bytes) return 0;
  t[end_bytes] = 0;
  // A page that ends with no such comment is no web message. One whose comment is there but is
  // not whole, or names more than the page holds, was one and is damaged: it must not be read
  // as a carrier whose payload is the page's text.
  const char* comment = nullptr;
  for (const char* p = t; (p = (const char*)memchr(p, '<', (size_t)(t + end_bytes - p))); p++)
    if (strncmp(p, TRAILER_OPENING, sizeof TRAILER_OPENING - 1) == 0) comment = p;
  if (!comment) return 0;
  if (comment != t + end_bytes - QUIRA_WEB_TRAILER_CHARS) return -2;
  const char* w = comment;
  // Field by field, at the places the fixed-width format puts them.
  int64_t at = 0, bytes = 0;
  const size_t o = sizeof TRAILER_OPENING - 1;
  if (!read_digits(w + o, &at) || memcmp(w + o + 15, " bytes=", 7) != 0 || !read_digits(w + o + 22, &bytes) ||
      memcmp(w + o + 37, " player=", 8) != 0 || memcmp(w + o + 45 + 64, " -->\n", 5) != 0)
    return -2;
  uint8_t front[32];
  for (int i = 0; i < 32; i++) {
    int hi = hex_value(w[o + 45 + 2 * i]), lo = hex_value(w[o + 45 + 2 * i + 1]);
    if (hi < 0 || lo < 0) return -2;
    front[i] = (uint8_t)(hi << 4 | lo);
  }
  // The base64 must lie inside the page, before the comment.
  const int64_t chars = (bytes + 2) / 3 * 4;
  if (at < (int64_t)sizeof PAGE_OPENING || at > size - QUIRA_WEB_TRAILER_CHARS - chars) return -2;
  QuiraSource page = c->source;
  carrier_wrap_payload(c, &page, WRAP_BASE64, at, bytes, front);
  // Every character once: a damaged page is refused when it is opened, not in the middle of
  // playing it.
  uint8_t chunk[3 * GROUPS_PER_READ];
  for (int64_t done = 0; done < bytes; done += (int64_t)sizeof chunk) {
    const int64_t n = bytes - done < (int64_t)sizeof chunk ? bytes - done : (int64_t)sizeof chunk;
    const int64_t r = base64_read(c, done, chunk, n);
    if (r < 0) return (int)r;
  }
  return 1;
}

int32_t quira_web_trailer(int64_t at, int64_t payload_bytes, const uint8_t* player_sha256, char* trailer,
                          size_t capacity) {
  if (!player_sha256 || !trailer || at < 0 || payload_bytes < 0 || at > 999999999999999LL ||
      payload_bytes > 999999999999999LL)
    return QUIRA_ERR_ARGUMENT;
  if (capacity < QUIRA_WEB_TRAILER_CHARS + 1) return QUIRA_ERR_CAPACITY;
  char hex[65];
  for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", player_sha256[i]);
  snprintf(trailer, QUIRA_WEB_TRAILER_CHARS + 1, TRAILER_FORMAT, (long long)at, (long long)payload_bytes, hex);
  return QUIRA_WEB_TRAILER_CHARS;
}

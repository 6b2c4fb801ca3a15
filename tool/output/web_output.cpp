// SPDX-License-Identifier: MIT
// Web messages: the player page with a payload inside.
#include "tool/output/web_output.h"

#include <string.h>

#include <string_view>

#include "tool/cli.h"

#ifdef QUIRA_PLAYER_PAGE
extern "C" const char player_page_begin[];
extern "C" const char player_page_end[];
#endif

const char WEB_MESSAGE_SLOT[] = "<script type=\"application/octet-stream\" id=\"quira-message\">";

#ifdef QUIRA_PLAYER_PAGE
namespace {

const char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 of n bytes (whole groups of three but at the very end) into text; returns its length.
size_t base64_encode(const uint8_t* bytes, size_t n, char* text) {
  size_t o = 0;
  for (size_t i = 0; i < n; i += 3) {
    const uint32_t a = bytes[i], b = i + 1 < n ? bytes[i + 1] : 0, c = i + 2 < n ? bytes[i + 2] : 0;
    const uint32_t group = a << 16 | b << 8 | c;
    text[o++] = BASE64[group >> 18 & 63];
    text[o++] = BASE64[group >> 12 & 63];
    text[o++] = i + 1 < n ? BASE64[group >> 6 & 63] : '=';
    text[o++] = i + 2 < n ? BASE64[group & 63] : '=';
  }
  return o;
}

}  // namespace
#endif

void web_message_write(AtomicOutput& out, const Carrier& carrier) {
#ifndef QUIRA_PLAYER_PAGE
  (void)out;
  fail(carrier.path(), "this quira was built without the web page: it cannot write web messages");
#else
  const std::string_view page(player_page_begin, (size_t)(player_page_end - player_page_begin));
  const size_t slot = page.find(WEB_MESSAGE_SLOT);
  if (slot == std::string_view::npos) fail(out.target(), "the player page built in has no place for a message");
  const size_t head = slot + strlen(WEB_MESSAGE_SLOT);
  out.write(page.data(), head);

  // The payload, read through the carrier (a web message's too), three bytes to four characters.
  const int64_t payload = carrier.facts().payload_bytes;
  uint8_t chunk[3 * 16384];
  char text[4 * 16384];
  for (int64_t at = 0; at < payload;) {
    const int32_t want = (int32_t)(payload - at < (int64_t)sizeof chunk ? payload - at : (int64_t)sizeof chunk);
    const int64_t n = quira_carrier_read(carrier.get(), QUIRA_PAYLOAD_OFFSET + at, chunk, (size_t)want);
    check_status(carrier.path(), n);
    if (n != want) fail(carrier.path(), "the file changed while it was read");
    out.write(text, base64_encode(chunk, (size_t)n, text));
    at += n;
  }
  out.write(page.data() + head, page.size() - head);
  char trailer[QUIRA_WEB_TRAILER_CHARS + 1];
  // The base64 begins right after the page's head: the file's own offset, as it is written from
  // its start.
  check_status(out.target(), quira_web_trailer((int64_t)head, payload, carrier.facts().player_sha256, trailer, sizeof trailer));
  out.write(trailer, QUIRA_WEB_TRAILER_CHARS);
#endif
}

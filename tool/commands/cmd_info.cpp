// SPDX-License-Identifier: MIT
// quira info FILE [--json]: what a person wants to know about a carrier.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tool/carrier.h"
#include "tool/commands/commands.h"

namespace {

// The failed blocks listed: the first thousand (--json), of which the text shows the first eight.
// How many fail in all is blocks less decoded_blocks.
constexpr size_t FAILED_SHOWN = 1000;
constexpr size_t FAILED_SHOWN_TEXT = 8;

std::string hex(const uint8_t* bytes, int n, const char* separator) {
  std::string out;
  char digits[4];
  for (int i = 0; i < n; i++) {
    snprintf(digits, sizeof digits, "%02x", bytes[i]);
    if (i) out += separator;
    out += digits;
  }
  return out;
}

// Length of the well-formed UTF-8 sequence at s[at] (shortest form, no surrogates, at most
// U+10FFFF), or 0 when the byte there begins none.
size_t utf8_sequence(const std::string& s, size_t at) {
  const unsigned char c = (unsigned char)s[at];
  size_t n;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (at + n > s.size()) return 0;
  for (size_t i = 1; i < n; i++) {
    const unsigned char b = (unsigned char)s[at + i];
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return 0;
  }
  return n;
}

// A JSON string. A file name is bytes, not always UTF-8: each byte that is not part of a
// well-formed UTF-8 sequence is written as U+FFFD, so the output always parses.
std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (size_t at = 0; at < s.size();) {
    const unsigned char c = (unsigned char)s[at];
    const size_t n = utf8_sequence(s, at);
    if (n == 0) {
      out += "\\ufffd";
      at++;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
      at++;
    } else if (c < 0x20) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      at++;
    } else {
      out.append(s, at, n);
      at += n;
    }
  }
  return out + "\"";
}

std::string effect_label(int code) {
  if (code == 0) return "none";
  const QuiraEffect* effect = quira_effect(code);
  return effect ? effect->name : "unknown, played without effect";
}

}  // namespace

int command_info(Args& args) {
  bool json = args.flag("--json");
  std::string path = args.single_operand("FILE");
  Carrier carrier(path);
  const QuiraHeaderFacts& facts = carrier.facts();
  // Every block decoded once, in order, as playback from the start does, to count those that do.
  // Only the failed blocks that are shown are kept, so memory is the same for any length of file.
  std::vector<int64_t> failed(FAILED_SHOWN);
  QuiraSurvey survey{};
  survey.struct_size = sizeof survey;
  check_status(path, quira_carrier_survey(carrier.get(), &survey, failed.data(), failed.size()));
  failed.resize((size_t)std::min<int64_t>(survey.failed_blocks, FAILED_SHOWN));
  const bool ours = facts.player_ours;
  const std::string front_sha256 = hex(facts.player_sha256, 32, "");
  const bool voice = facts.has_voice_mark;
  char voice_seconds[32] = "null";
  if (voice) snprintf(voice_seconds, sizeof voice_seconds, "%.3f", facts.voice_samples / 16000.0);
  const int64_t blocks = facts.blocks;
  const int32_t last = facts.last_block_bytes;
  const bool last_short = blocks > 0 && last < QUIRA_BLOCK_BYTES;
  const int level = facts.effect_level;
  const int header_read = facts.header_bytes_read;
  char duration[QUIRA_CLOCK_CHARS];
  quira_clock_text(facts.total_seconds, duration, sizeof duration);
  const char* format_name = quira_format_name(survey.format);
  const QuiraEffect* effect = quira_effect(facts.effect_code);

  if (json) {
    printf("{\n");
    printf("  \"file\": %s,\n", json_string(path).c_str());
    printf("  \"web_message\": %s,\n", facts.web_message ? "true" : "false");
    printf("  \"payload_offset\": %d,\n", QUIRA_PAYLOAD_OFFSET);
    printf("  \"payload_bytes\": %lld,\n", (long long)facts.payload_bytes);
    printf("  \"player\": \"%s\",\n", ours ? "ours" : "foreign");
    printf("  \"player_sha256\": \"%s\",\n", front_sha256.c_str());
    printf("  \"header\": \"%s\",\n", hex(facts.header, QUIRA_HEADER_BYTES, "").c_str());
    printf("  \"header_bytes_read\": %d,\n", header_read);
    printf("  \"effect_code\": %d,\n", facts.effect_code);
    printf("  \"effect_name\": %s,\n", effect ? json_string(effect->name).c_str() : "null");
    printf("  \"effect_known\": %s,\n", facts.effect_known ? "true" : "false");
    printf("  \"level_byte\": %d,\n", facts.level_byte);
    printf("  \"effect_level\": %d,\n", level);
    printf("  \"blocks\": %lld,\n", (long long)blocks);
    printf("  \"last_block_bytes\": %d,\n", last);
    printf("  \"last_block_short\": %s,\n", last_short ? "true" : "false");
    printf("  \"format\": %d,\n", survey.format);
    printf("  \"format_name\": %s,\n", format_name ? json_string(format_name).c_str() : "null");
    printf("  \"bitrate_kbps\": %d,\n", quira_format_kbps(survey.format));
    printf("  \"sample_rate\": %d,\n", quira_format_rate(survey.format));
    printf("  \"mixed_formats\": %s,\n", survey.mixed_formats ? "true" : "false");
    printf("  \"decoded_blocks\": %lld,\n", (long long)survey.decoded_blocks);
    printf("  \"failed_blocks\": [");
    for (size_t i = 0; i < failed.size(); i++)
      printf("%s%lld", i ? ", " : "", (long long)failed[i]);
    printf("],\n");
    printf("  \"voice_samples\": %s,\n", voice ? std::to_string(facts.voice_samples).c_str() : "null");
    printf("  \"voice_seconds\": %s,\n", voice_seconds);
    printf("  \"total_seconds\": %d,\n", facts.total_seconds);
    printf("  \"duration\": \"%s\"\n", duration);
    printf("}\n");
    return EXIT_OK;
  }

  printf("file          %s\n", path.c_str());
  if (facts.web_message)
    printf("web message   the payload of a carrier, inside a page that plays it\n");
  printf("payload       %lld bytes at offset %d\n", (long long)(facts.payload_bytes < 0 ? 0 : facts.payload_bytes),
         QUIRA_PAYLOAD_OFFSET);
  // A web message names the player its carrier had; it holds no program itself.
  const char* had = facts.web_message ? " (in the carrier it came from)" : "";
  if (ours)
    printf("player        ours: a player built by this project%s\n", had);
  else
    printf("player        foreign: not a player built by this project%s (sha256 %s)\n", had, front_sha256.c_str());
  printf("header        %s%s\n", hex(facts.header, QUIRA_HEADER_BYTES, " ").c_str(),
         header_read < QUIRA_HEADER_BYTES ? " (payload shorter than its header)" : "");
  printf("effect        %d (%s)\n", facts.effect_code, effect_label(facts.effect_code).c_str());
  printf("level         byte %d, level %d of 128\n", facts.level_byte, level);
  if (blocks == 0)
    printf("blocks        0\n");
  else if (last_short)
    printf("blocks        %lld (the last one short, %d of %d bytes)\n", (long long)blocks, last, QUIRA_BLOCK_BYTES);
  else
    printf("blocks        %lld (the last one whole)\n", (long long)blocks);
  printf("format        %s%s\n", format_name ? format_name : "unknown",
         survey.mixed_formats ? " (later blocks differ)" : "");
  printf("decoded       %lld of %lld blocks", (long long)survey.decoded_blocks, (long long)blocks);
  if (!failed.empty()) {
    printf("; failed:");
    for (size_t i = 0; i < failed.size() && i < FAILED_SHOWN_TEXT; i++) printf(" %lld", (long long)failed[i]);
    if (survey.failed_blocks > (int64_t)FAILED_SHOWN_TEXT) printf(" ...");
  }
  printf("\n");
  if (voice)
    printf("voice         %s s, %u samples at 16 kHz from block 1 (voice mark)\n", voice_seconds, facts.voice_samples);
  else
    printf("voice         no voice mark: the voice fills the blocks\n");
  printf("duration      %s\n", duration);
  return EXIT_OK;
}

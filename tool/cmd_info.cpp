// quira info FILE [--json]: what a person wants to know about a carrier.
#include <stdio.h>

#include <optional>
#include <string>
#include <vector>

#include "app/title.h"
#include "decode/block_decoder.h"
#include "effects/effect_names.h"
#include "tool/carrier.h"
#include "tool/commands.h"
#include "tool/player_check.h"
#include "tool/player_image.h"
#include "tool/voice_mark.h"

namespace {

struct FormatFacts {
  const char* name;
  int kbps;
  int rate;
};
const FormatFacts FORMATS[BLOCK_FORMATS] = {
    {"MPEG-2.5 Layer III, 8 kbit/s, 8000 Hz", 8, 8000},
    {"MPEG-2 Layer III, 16 kbit/s, 16000 Hz", 16, 16000},
    {"MPEG-2 Layer III, 32 kbit/s, 16000 Hz", 32, 16000},
};

struct Facts {
  int format = -1;            // format of block 0
  bool mixed_formats = false;  // some later block has another
  int64_t decoded = 0;
  std::vector<int64_t> failed;
};

// Decodes every block once, in order, through a fresh stream, as playback from the start does
// (block 0 being the priming block, whose first decode is the one that counts).
Facts survey(Carrier& carrier) {
  Facts facts;
  static uint8_t block[BLOCK_BYTES];
  static int16_t samples[BLOCK_SAMPLES];
  for (uint8_t& b : block) b = 0;
  int32_t samples_out = 0;
  DecodeRequest request = {block, BLOCK_BYTES, samples, &samples_out};
  block_decoder_reset();
  for (int64_t k = 0; k < carrier.block_count(); k++) {
    carrier.read_block(k, block);
    int format = block_format(block);
    if (k == 0) facts.format = format;
    else if (format != facts.format) facts.mixed_formats = true;
    if (block_decode(&request)) facts.decoded++;
    else facts.failed.push_back(k);
  }
  return facts;
}

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

// Whether a code plays an effect is the effect stage's to say; the names table only names them.
std::string effect_label(int code) {
  if (code == 0) return "none";
  if (!effect_code_known(code)) return "unknown, played without effect";
  return effect_info(code)->name;
}

}  // namespace

int command_info(Args& args) {
  bool json = args.flag("--json");
  std::string path = args.single_operand("FILE");
  Carrier carrier(path);
  const PayloadInfo& info = carrier.info();
  Facts facts = survey(carrier);
  std::vector<uint8_t> front(PAYLOAD_OFFSET);
  front.resize(carrier.read_at(0, front.data(), front.size()));
  const bool ours = player_is_ours(front, player_image());
  const std::string front_sha256 = sha256_hex(sha256(front));
  const std::optional<uint32_t> voice = voice_mark_read(info.header);
  char voice_seconds[32] = "null";
  if (voice) snprintf(voice_seconds, sizeof voice_seconds, "%.3f", *voice / 16000.0);
  int64_t blocks = carrier.block_count();
  int32_t last = carrier.last_block_bytes();
  bool last_short = blocks > 0 && last < BLOCK_BYTES;
  int level = payload_effect_level(info.level_byte);
  int64_t header_read = info.payload_bytes < 0 ? 0 : info.payload_bytes;
  if (header_read > PAYLOAD_HEADER_BYTES) header_read = PAYLOAD_HEADER_BYTES;
  char duration[32];
  title_format_clock(duration, info.total_seconds);
  const FormatFacts* format = facts.format >= 0 ? &FORMATS[facts.format] : nullptr;
  const EffectInfo* effect = effect_info(info.effect_code);

  if (json) {
    printf("{\n");
    printf("  \"file\": %s,\n", json_string(path).c_str());
    printf("  \"payload_offset\": %d,\n", PAYLOAD_OFFSET);
    printf("  \"payload_bytes\": %lld,\n", (long long)info.payload_bytes);
    printf("  \"player\": \"%s\",\n", ours ? "ours" : "foreign");
    printf("  \"player_sha256\": \"%s\",\n", front_sha256.c_str());
    printf("  \"header\": \"%s\",\n", hex(info.header.bytes, PAYLOAD_HEADER_BYTES, "").c_str());
    printf("  \"header_bytes_read\": %d,\n", (int)header_read);
    printf("  \"effect_code\": %d,\n", info.effect_code);
    printf("  \"effect_name\": %s,\n", effect ? json_string(effect->name).c_str() : "null");
    printf("  \"effect_known\": %s,\n", info.effect_code == 0 || effect_code_known(info.effect_code) ? "true" : "false");
    printf("  \"level_byte\": %d,\n", info.level_byte);
    printf("  \"effect_level\": %d,\n", level);
    printf("  \"blocks\": %lld,\n", (long long)blocks);
    printf("  \"last_block_bytes\": %d,\n", last);
    printf("  \"last_block_short\": %s,\n", last_short ? "true" : "false");
    printf("  \"format\": %d,\n", facts.format);
    printf("  \"format_name\": %s,\n", format ? json_string(format->name).c_str() : "null");
    printf("  \"bitrate_kbps\": %d,\n", format ? format->kbps : 0);
    printf("  \"sample_rate\": %d,\n", format ? format->rate : 0);
    printf("  \"mixed_formats\": %s,\n", facts.mixed_formats ? "true" : "false");
    printf("  \"decoded_blocks\": %lld,\n", (long long)facts.decoded);
    printf("  \"failed_blocks\": [");
    for (size_t i = 0; i < facts.failed.size(); i++)
      printf("%s%lld", i ? ", " : "", (long long)facts.failed[i]);
    printf("],\n");
    printf("  \"voice_samples\": %s,\n", voice ? std::to_string(*voice).c_str() : "null");
    printf("  \"voice_seconds\": %s,\n", voice_seconds);
    printf("  \"total_seconds\": %d,\n", info.total_seconds);
    printf("  \"duration\": \"%s\"\n", duration);
    printf("}\n");
    return EXIT_OK;
  }

  printf("file          %s\n", path.c_str());
  printf("payload       %lld bytes at offset %d\n", (long long)(info.payload_bytes < 0 ? 0 : info.payload_bytes),
         PAYLOAD_OFFSET);
  if (ours)
    printf("player        ours: a player built by this project\n");
  else
    printf("player        foreign: not a player built by this project (sha256 %s)\n", front_sha256.c_str());
  printf("header        %s%s\n", hex(info.header.bytes, PAYLOAD_HEADER_BYTES, " ").c_str(),
         header_read < PAYLOAD_HEADER_BYTES ? " (payload shorter than its header)" : "");
  printf("effect        %d (%s)\n", info.effect_code, effect_label(info.effect_code).c_str());
  printf("level         byte %d, level %d of 128\n", info.level_byte, level);
  if (blocks == 0)
    printf("blocks        0\n");
  else if (last_short)
    printf("blocks        %lld (the last one short, %d of %d bytes)\n", (long long)blocks, last, BLOCK_BYTES);
  else
    printf("blocks        %lld (the last one whole)\n", (long long)blocks);
  printf("format        %s%s\n", format ? format->name : "unknown",
         facts.mixed_formats ? " (later blocks differ)" : "");
  printf("decoded       %lld of %lld blocks", (long long)facts.decoded, (long long)blocks);
  if (!facts.failed.empty()) {
    printf("; failed:");
    for (size_t i = 0; i < facts.failed.size() && i < 8; i++) printf(" %lld", (long long)facts.failed[i]);
    if (facts.failed.size() > 8) printf(" ...");
  }
  printf("\n");
  if (voice)
    printf("voice         %s s, %u samples at 16 kHz from block 1 (voice mark)\n", voice_seconds, *voice);
  else
    printf("voice         no voice mark: the voice fills the blocks\n");
  printf("duration      %s\n", duration);
  return EXIT_OK;
}

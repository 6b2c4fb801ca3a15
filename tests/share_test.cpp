// SPDX-License-Identifier: MIT
// Sharing a message: audio files of the message as heard, checked by other programs' decoders
// (sox, opusdec, mpg123), and web messages, read back by the library and the tool as the carrier
// they hold, whatever their payload's length, and refused cleanly when damaged.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quira/quira.h"
#include "tests/tool_run.h"

namespace {

const std::string Q = "-q ";

std::vector<int16_t> wav_samples(const std::string& path) { return samples_of(read_bytes(path), 44); }

// Runs a shell command; true when it exits 0.
bool run(const std::string& command) { return system((command + " 2>/dev/null").c_str()) == 0; }

// The signal-to-noise ratio of got against want, in dB, at the lag (within +-max_lag samples)
// that gives the best; the lag into *lag.
double snr_db(const std::vector<int16_t>& want, const std::vector<int16_t>& got, int max_lag, int* lag) {
  double best = -1e9;
  for (int l = -max_lag; l <= max_lag; l++) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < want.size(); i++) {
      const long j = (long)i + l;
      const double g = j >= 0 && j < (long)got.size() ? got[(size_t)j] : 0;
      signal += (double)want[i] * want[i];
      noise += (want[i] - g) * (want[i] - g);
    }
    const double snr = 10 * log10(signal / (noise > 0 ? noise : 1e-9));
    if (snr > best) {
      best = snr;
      *lag = l;
    }
  }
  return best;
}

struct Case {
  const char* carrier;
  const char* effect;  // one of each family, and none
};
const Case CASES[] = {
    {"speech-32.exe", "none"}, {"prompts-32.exe", "large-room"}, {"speech-16.exe", "chorus"},
    {"prompts-32.exe", "third-up"}};

// Each file is decoded by another program to 16-bit mono at 16 kHz, raw.
struct Codec {
  const char* extension;
  const char* decode;  // %1$s in, %2$s out
  double min_snr_db;   // within the codec's error (perceptual codecs keep the sound, not the wave)
  int max_lag;         // Opus's 48 kHz pre-skip lands within a sample at 16 kHz
};
const Codec LOSSY[] = {
    {"ogg", "sox '%s' -t s16 -r 16000 -c 1 '%s'", 18, 0},
    {"opus", "opusdec --quiet --rate 16000 '%1$s' '%2$s.wav' && sox '%2$s.wav' -t s16 '%2$s'", 12, 1},
    {"mp3", "mpg123 -q -e s16 -m -s '%s' > '%s'", 22, 0},
};

std::string format(const char* pattern, const std::string& a, const std::string& b) {
  char line[2048];
  snprintf(line, sizeof line, pattern, a.c_str(), b.c_str());
  return line;
}

TEST(ShareMedia, AudioFilesDecodeToTheMessageAsHeard) {
  TempDir dir;
  for (const Case& c : CASES) {
    SCOPED_TRACE(std::string(c.carrier) + " " + c.effect);
    const std::string carrier = media_path(c.carrier), d = dir.path + "/";
    // The media carriers are dry (level byte 127): the level is given with the effect.
    const std::string effect = std::string(" --effect ") + c.effect + " --level 40 ";
    ASSERT_EQ(quira(Q + "export" + effect + carrier + " -o " + d + "heard.wav").status, 0);
    const std::vector<int16_t> heard = wav_samples(d + "heard.wav");
    ASSERT_GT(heard.size(), 16000u);

    // FLAC is lossless: the very samples, written to a file or to a pipe.
    ASSERT_EQ(quira(Q + "export" + effect + carrier + " -o " + d + "heard.flac").status, 0);
    ASSERT_EQ(quira(Q + "export --format flac" + effect + carrier + " -o - > " + d + "piped.flac").status, 0);
    for (const char* name : {"heard.flac", "piped.flac"}) {
      ASSERT_TRUE(run(format("sox '%s' -t s16 '%s'", d + name, d + "flac.raw")));
      EXPECT_EQ(samples_of(read_bytes(d + "flac.raw"), 0), heard) << name;
    }

    for (const Codec& codec : LOSSY) {
      SCOPED_TRACE(codec.extension);
      const std::string file = d + "heard." + codec.extension;
      ASSERT_EQ(quira(Q + "export" + effect + carrier + " -o " + file).status, 0);
      ASSERT_TRUE(run(format(codec.decode, file, d + "lossy.raw")));
      const std::vector<int16_t> got = samples_of(read_bytes(d + "lossy.raw"), 0);
      int lag = 0;
      const double snr = snr_db(heard, got, 8, &lag);
      printf("%-15s %-11s %-4s %zu samples of %zu, lag %d, SNR %.1f dB\n", c.carrier, c.effect,
             codec.extension, got.size(), heard.size(), lag, snr);
      EXPECT_GE(snr, codec.min_snr_db);
      // The decoders trim what the encoders added: the length is the message's (Vorbis and
      // MP3 to the sample; Opus to its 20 ms frames at most).
      EXPECT_LE(labs((long)got.size() - (long)heard.size()), 320L);
      EXPECT_LE(abs(lag), codec.max_lag);
    }
    // The MP3's Info frame, which mpg123 trims by, is the same to a pipe as to a file.
    ASSERT_EQ(quira(Q + "export --format mp3" + effect + carrier + " -o - > " + d + "piped.mp3").status, 0);
    EXPECT_TRUE(read_bytes(d + "piped.mp3") == read_bytes(d + "heard.mp3"));
  }
}

// As-played is what the device gets: exported as MP3, mpg123 gives back its length exactly.
TEST(ShareMedia, AsPlayedAsMp3KeepsTheDevicesLength) {
  TempDir dir;
  const std::string carrier = media_path("speech-32.exe");
  ASSERT_EQ(quira(Q + "export --as-played " + carrier + " -o " + dir.path + "/p.wav").status, 0);
  ASSERT_EQ(quira(Q + "export --as-played " + carrier + " -o " + dir.path + "/p.mp3").status, 0);
  ASSERT_TRUE(run("mpg123 -q -e s16 -m -s " + dir.path + "/p.mp3 > " + dir.path + "/p.raw"));
  EXPECT_EQ(samples_of(read_bytes(dir.path + "/p.raw"), 0).size(), wav_samples(dir.path + "/p.wav").size());
}

TEST(ShareErrors, FormatsAreNamedOrRefused) {
  TempDir dir;
  const std::string carrier = media_path("speech-8.exe");
  Result r = quira("export " + carrier + " -o " + dir.path + "/x.m4a", dir.path + "/err");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(read_bytes(dir.path + "/err").size(), 0u);
  EXPECT_EQ(quira("export " + carrier + " --format aac -o -").status, 1);
  // --format overrides the name; a name without an extension is WAV, as it always was.
  ASSERT_EQ(quira(Q + "export " + carrier + " --format flac -o " + dir.path + "/x.wav").status, 0);
  EXPECT_EQ(std::string((const char*)read_bytes(dir.path + "/x.wav").data(), 4), "fLaC");
  ASSERT_EQ(quira(Q + "export " + carrier + " -o " + dir.path + "/plain").status, 0);
  EXPECT_EQ(std::string((const char*)read_bytes(dir.path + "/plain").data(), 4), "RIFF");
  // A web message is the message itself: previews of other effects do not apply.
  EXPECT_EQ(quira("export --dry " + carrier + " -o " + dir.path + "/x.html").status, 1);
  EXPECT_EQ(TempDir::list(dir.path), (std::vector<std::string>{"err", "plain", "x.wav"}));
}

// ---- Web messages through the library, whatever the page around them ----

struct Memory {
  std::vector<uint8_t> bytes;
};

std::string base64(const std::vector<uint8_t>& bytes) {
  static const char A[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t g = bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                 (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    text += A[g >> 18 & 63];
    text += A[g >> 12 & 63];
    text += i + 1 < bytes.size() ? A[g >> 6 & 63] : '=';
    text += i + 2 < bytes.size() ? A[g & 63] : '=';
  }
  return text;
}

// A web message around payload, as a writer of any page lays it out.
std::vector<uint8_t> web_message(const std::vector<uint8_t>& payload, const uint8_t sha[32]) {
  std::string page = "<!DOCTYPE html>\n<html><body><p>a page</p><script type=\"application/octet-stream\">";
  const size_t at = page.size();
  page += base64(payload) + "</script></body></html>\n";
  char trailer[QUIRA_WEB_TRAILER_CHARS + 1];
  EXPECT_EQ(quira_web_trailer((int64_t)at, (int64_t)payload.size(), sha, trailer, sizeof trailer), QUIRA_WEB_TRAILER_CHARS);
  EXPECT_EQ(strlen(trailer), (size_t)QUIRA_WEB_TRAILER_CHARS);
  page += trailer;
  return std::vector<uint8_t>(page.begin(), page.end());
}

TEST(ShareMedia, WebMessagesReadAsTheirCarrier) {
  const std::vector<uint8_t> exe = read_bytes(media_path("speech-16.exe"));
  ASSERT_GT(exe.size(), (size_t)QUIRA_PAYLOAD_OFFSET);
  uint8_t own[32];
  {
    QuiraCarrier* c = nullptr;
    ASSERT_EQ(quira_carrier_open_memory(exe.data(), exe.size(), &c), QUIRA_OK);
    QuiraHeaderFacts f = {};
    f.struct_size = sizeof f;
    ASSERT_EQ(quira_carrier_header(c, &f), QUIRA_OK);
    memcpy(own, f.player_sha256, 32);
    quira_carrier_close(c);
  }
  // Payloads of every length modulo three (the last base64 group holding 1, 2 or 3 bytes).
  for (size_t cut : {0, 1, 2}) {
    SCOPED_TRACE(cut);
    std::vector<uint8_t> carrier(exe.begin(), exe.end() - (long)cut);
    std::vector<uint8_t> payload(carrier.begin() + QUIRA_PAYLOAD_OFFSET, carrier.end());
    std::vector<uint8_t> page = web_message(payload, own);
    QuiraCarrier* c = nullptr;
    ASSERT_EQ(quira_carrier_open_memory(page.data(), page.size(), &c), QUIRA_OK);
    QuiraHeaderFacts f = {};
    f.struct_size = sizeof f;
    ASSERT_EQ(quira_carrier_header(c, &f), QUIRA_OK);
    EXPECT_EQ(f.web_message, 1);
    EXPECT_EQ(f.player_ours, 1);
    EXPECT_EQ(f.payload_bytes, (int64_t)payload.size());
    EXPECT_EQ(memcmp(f.header, payload.data(), 12), 0);
    // Every byte at odd offsets and lengths, the front part (our player) included.
    std::vector<uint8_t> back(carrier.size());
    for (int64_t at = 0, n = 1; at < (int64_t)carrier.size(); at += n, n = n * 7 % 5003 + 1) {
      int64_t got = quira_carrier_read(c, at, back.data() + at, (size_t)n);
      ASSERT_EQ(got, std::min<int64_t>(n, (int64_t)carrier.size() - at)) << at;
    }
    EXPECT_TRUE(back == carrier);
    quira_carrier_close(c);
  }

  // A foreign front part is known by its digest only; its bytes cannot be read.
  std::vector<uint8_t> payload(exe.begin() + QUIRA_PAYLOAD_OFFSET, exe.end());
  uint8_t foreign[32];
  memset(foreign, 0xab, 32);
  std::vector<uint8_t> page = web_message(payload, foreign);
  QuiraCarrier* c = nullptr;
  ASSERT_EQ(quira_carrier_open_memory(page.data(), page.size(), &c), QUIRA_OK);
  QuiraHeaderFacts f = {};
  f.struct_size = sizeof f;
  ASSERT_EQ(quira_carrier_header(c, &f), QUIRA_OK);
  EXPECT_EQ(f.player_ours, 0);
  EXPECT_EQ(memcmp(f.player_sha256, foreign, 32), 0);
  uint8_t byte;
  EXPECT_EQ(quira_carrier_read(c, 100, &byte, 1), QUIRA_ERR_READ);
  quira_carrier_close(c);

  // A bare payload, as the page hands over the one it holds.
  Memory m{payload};
  QuiraSource source = {sizeof source, &m,
                        [](void* context, int64_t offset, void* buffer, int32_t n) -> int64_t {
                          auto* mem = static_cast<Memory*>(context);
                          if (offset >= (int64_t)mem->bytes.size()) return 0;
                          int64_t take = std::min<int64_t>(n, (int64_t)mem->bytes.size() - offset);
                          memcpy(buffer, mem->bytes.data() + offset, (size_t)take);
                          return take;
                        },
                        (int64_t)payload.size()};
  ASSERT_EQ(quira_carrier_open_payload(&source, nullptr, &c), QUIRA_OK);
  ASSERT_EQ(quira_carrier_header(c, &f), QUIRA_OK);
  EXPECT_EQ(f.player_ours, 1);
  EXPECT_EQ(f.web_message, 0);
  std::vector<uint8_t> back(exe.size());
  EXPECT_EQ(quira_carrier_read(c, 0, back.data(), back.size()), (int64_t)exe.size());
  EXPECT_TRUE(back == exe);
  quira_carrier_close(c);
}

TEST(ShareHostile, DamagedWebMessagesAreRefusedCleanly) {
  TempDir dir;
  const std::vector<uint8_t> exe = read_bytes(media_path("speech-8.exe"));
  std::vector<uint8_t> payload(exe.begin() + QUIRA_PAYLOAD_OFFSET, exe.end());
  uint8_t sha[32] = {0};
  const std::vector<uint8_t> good = web_message(payload, sha);
  const std::string text(good.begin(), good.end());
  const size_t at = text.find("application/octet-stream\">") + 26;

  // A character that is no base64 in a block: reading it is a read error, which info and export
  // report on one line, leaving no file.
  std::vector<uint8_t> bad = good;
  bad[at + 4 * 1000] = '!';
  write_file(dir.path + "/bad.html", bad);
  EXPECT_EQ(quira("export " + dir.path + "/bad.html -o " + dir.path + "/bad.wav").status, 2);
  EXPECT_EQ(quira("info " + dir.path + "/bad.html").status, 2);

  // A closing comment that claims more than the page holds, or is cut: the page is a damaged
  // web message, never read as a carrier whose payload is the page's text (a real player page
  // is longer than the player).
  std::vector<uint8_t> claims = good;
  const size_t bytes_at = claims.size() - QUIRA_WEB_TRAILER_CHARS + 44;
  claims[bytes_at] = '9';
  write_file(dir.path + "/claims.html", claims);
  EXPECT_EQ(quira("info " + dir.path + "/claims.html").status, 2);
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  write_file(dir.path + "/cut.html", cut);
  EXPECT_EQ(quira("export " + dir.path + "/cut.html -o " + dir.path + "/cut.wav").status, 2);
  EXPECT_EQ(TempDir::list(dir.path), (std::vector<std::string>{"bad.html", "claims.html", "cut.html"}));

  // The good one plays as its carrier.
  write_file(dir.path + "/good.html", good);
  ASSERT_EQ(quira(Q + "export --as-played " + dir.path + "/good.html -o " + dir.path + "/a.wav").status, 0);
  ASSERT_EQ(quira(Q + "export --as-played " + media_path("speech-8.exe") + " -o " + dir.path + "/b.wav").status, 0);
  EXPECT_TRUE(read_bytes(dir.path + "/a.wav") == read_bytes(dir.path + "/b.wav"));
}

// The tool's web messages: for a carrier of each effect family (and none), `export -o x.html`
// writes the player page this build made with the payload's base64 in its slot and the closing
// comment after it, nothing else; `info` reads it as that carrier, `repack` gives the carrier
// back byte for byte, and a web message made from the web message is the same file. A damaged
// one is refused on one line, leaving nothing.
TEST(ShareWebMessage, TheToolWritesThePlayerPageWithThePayload) {
  const std::string page_path = QUIRA_PLAYER_PAGE_FILE;
  if (page_path.empty()) GTEST_SKIP() << "this build carries no player page";
  const std::vector<uint8_t> page_bytes = read_bytes(page_path);
  const std::string page(page_bytes.begin(), page_bytes.end());
  const std::string slot = "<script type=\"application/octet-stream\" id=\"quira-message\">";
  const size_t head = page.find(slot) + slot.size();
  ASSERT_NE(page.find(slot), std::string::npos);
  ASSERT_EQ(page.find(slot, head), std::string::npos) << "the slot's opening tag stands in the page once";
  ASSERT_EQ(page.compare(0, 15, "<!DOCTYPE html>"), 0) << "a web message begins with its doctype";

  TempDir dir;
  const std::vector<uint8_t> exe = read_bytes(media_path("prompts-16.exe"));
  struct Family {
    const char* name;
    uint8_t code;
  };
  const Family families[] = {{"none", 0}, {"reverb", 4}, {"swept-delay", 7}, {"pitch-shift", 15}};
  for (const Family& family : families) {
    SCOPED_TRACE(family.name);
    // The carrier with the family's effect at level 40 in its header.
    std::vector<uint8_t> carrier = exe;
    carrier[QUIRA_PAYLOAD_OFFSET + 10] = family.code;
    carrier[QUIRA_PAYLOAD_OFFSET + 11] = 127 - 40;
    const std::string d = dir.path + "/" + family.name;
    write_file(d + ".exe", carrier);
    ASSERT_EQ(quira(Q + "export " + d + ".exe -o " + d + ".html").status, 0);

    const std::vector<uint8_t> payload(carrier.begin() + QUIRA_PAYLOAD_OFFSET, carrier.end());
    uint8_t sha[32];
    {
      QuiraCarrier* c = nullptr;
      ASSERT_EQ(quira_carrier_open_memory(carrier.data(), carrier.size(), &c), QUIRA_OK);
      QuiraHeaderFacts f = {};
      f.struct_size = sizeof f;
      ASSERT_EQ(quira_carrier_header(c, &f), QUIRA_OK);
      ASSERT_EQ(f.player_ours, 1);
      memcpy(sha, f.player_sha256, 32);
      quira_carrier_close(c);
    }
    char trailer[QUIRA_WEB_TRAILER_CHARS + 1];
    ASSERT_EQ(quira_web_trailer((int64_t)head, (int64_t)payload.size(), sha, trailer, sizeof trailer), QUIRA_WEB_TRAILER_CHARS);
    const std::string want = page.substr(0, head) + base64(payload) + page.substr(head) + trailer;
    const std::vector<uint8_t> html = read_bytes(d + ".html");
    EXPECT_TRUE(std::string(html.begin(), html.end()) == want) << "the player page, the base64 in its slot, the comment";

    const std::string info = quira("info --json " + d + ".html").out;
    EXPECT_EQ(json_field(info, "web_message"), "true");
    EXPECT_EQ(json_field(info, "player"), "\"ours\"");
    EXPECT_EQ(json_field(info, "effect_code"), std::to_string(family.code));
    EXPECT_EQ(json_field(info, "payload_bytes"), std::to_string(payload.size()));
    ASSERT_EQ(quira(Q + "repack " + d + ".html -o " + d + ".back.exe").status, 0);
    EXPECT_TRUE(read_bytes(d + ".back.exe") == carrier) << "the carrier back, byte for byte";
    ASSERT_EQ(quira(Q + "export " + d + ".html -o " + d + ".again.html").status, 0);
    EXPECT_TRUE(read_bytes(d + ".again.html") == html) << "a web message of the web message is the same file";
  }

  // A message whose base64 was cut short (the file truncated in the middle, the comment kept):
  // one line naming the file, exit status non-zero, nothing written.
  const std::vector<uint8_t> good = read_bytes(dir.path + "/reverb.html");
  std::vector<uint8_t> cut(good.begin(), good.begin() + (long)head + 5000);
  cut.insert(cut.end(), good.end() - QUIRA_WEB_TRAILER_CHARS, good.end());
  write_file(dir.path + "/cut.html", cut);
  const std::string err = dir.path + "/err.txt";
  EXPECT_NE(quira("export " + dir.path + "/cut.html -o " + dir.path + "/cut.wav", err).status, 0);
  const std::vector<uint8_t> said = read_bytes(err);
  const std::string line(said.begin(), said.end());
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
  EXPECT_EQ(line.rfind("quira: error: " + dir.path + "/cut.html: ", 0), 0u) << line;
  EXPECT_FALSE(access((dir.path + "/cut.wav").c_str(), F_OK) == 0);
}

}  // namespace

namespace {

// `quira play` of a web message plays the carrier inside it: the sound card, ALSA's file plugin
// writing every sample to a file, gets what `export --as-played` writes for the carrier.
TEST(ShareMedia, PlayingAWebMessagePlaysItsCarrier) {
  TempDir dir;
  const std::vector<uint8_t> exe = read_bytes(media_path("prompts-16.exe"));
  std::vector<uint8_t> payload(exe.begin() + QUIRA_PAYLOAD_OFFSET, exe.end());
  payload[10] = 8;   // chorus,
  payload[11] = 40;  // strong
  uint8_t sha[32] = {0};
  write_file(dir.path + "/m.html", web_message(payload, sha));
  std::vector<uint8_t> carrier(exe.begin(), exe.begin() + QUIRA_PAYLOAD_OFFSET);
  carrier.insert(carrier.end(), payload.begin(), payload.end());
  write_file(dir.path + "/m.exe", carrier);
  const std::string conf = dir.path + "/asound.conf";
  const std::string card = "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" + dir.path +
                           "/card\"\n  format \"raw\"\n}\n";
  write_file(conf, std::vector<uint8_t>(card.begin(), card.end()));
  ASSERT_TRUE(run("ALSA_CONFIG_PATH='" + conf + "' " + QUIRA_TOOL + " play " + dir.path + "/m.html </dev/null >/dev/null"));
  ASSERT_EQ(quira(Q + "export --as-played " + dir.path + "/m.exe -o " + dir.path + "/p.wav").status, 0);
  // As with a carrier, the card may be handed up to one buffer more as the device closes.
  const std::vector<int16_t> got = samples_of(read_bytes(dir.path + "/card"), 0);
  const std::vector<int16_t> as_played = wav_samples(dir.path + "/p.wav");
  ASSERT_GE(got.size(), as_played.size());
  EXPECT_LE(got.size() - as_played.size(), (size_t)QUIRA_BUFFER_SAMPLES);
  EXPECT_TRUE(std::equal(as_played.begin(), as_played.end(), got.begin()));
}

}  // namespace

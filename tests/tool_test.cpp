// SPDX-License-Identifier: MIT
// The quira command as a user runs it: output, exit codes, files written whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "audio/buffer_cycle.h"
#include "tests/media.h"
#include "tests/tool_run.h"

namespace {

// What the player plays for a dry carrier: two silent buffers, then every refilled block buffer.
std::vector<int16_t> player_samples(const std::string& carrier) {
  auto blocks = carrier_blocks(carrier);
  std::vector<int16_t> samples(2 * BLOCK_SAMPLES, 0), buffer(BLOCK_SAMPLES);
  static BlockDecoder decoder;
  static EffectStage dry;
  BufferCycle cycle;
  buffer_cycle_init(&cycle, &decoder, &dry);
  buffer_cycle_start(&cycle, 0, 0);
  for (auto& block : blocks) {
    buffer_cycle_refill(&cycle, buffer.data(), block.data());
    samples.insert(samples.end(), buffer.begin(), buffer.end());
  }
  return samples;
}

}  // namespace

TEST(ToolInfoMedia, JsonDescribesTheCarrier) {
  for (auto [name, format, rate] : {std::tuple{"speech-32", 2, 16000}, {"speech-16", 1, 16000}, {"speech-8", 0, 8000}}) {
    std::string path = media_path(std::string(name) + ".exe");
    Result r = quira("info --json '" + path + "'");
    ASSERT_EQ(r.status, 0) << name;
    int64_t blocks = (int64_t)carrier_blocks(path).size();
    EXPECT_EQ(json_field(r.out, "blocks"), std::to_string(blocks));
    EXPECT_EQ(json_field(r.out, "decoded_blocks"), std::to_string(blocks));
    EXPECT_EQ(json_field(r.out, "format"), std::to_string(format));
    EXPECT_EQ(json_field(r.out, "sample_rate"), std::to_string(rate));
    EXPECT_EQ(json_field(r.out, "last_block_short"), "false");
    EXPECT_EQ(json_field(r.out, "effect_code"), "0");
    EXPECT_EQ(json_field(r.out, "effect_level"), "0");
    EXPECT_EQ(json_field(r.out, "payload_offset"), "163840");
    EXPECT_EQ(json_field(r.out, "header"), "\"00000000000000000000007f\"");
    // Our player in front, no voice mark: the media script lays LAME's frames out itself.
    EXPECT_EQ(json_field(r.out, "player"), "\"ours\"");
    EXPECT_EQ(json_field(r.out, "voice_samples"), "null");
    EXPECT_EQ(json_field(r.out, "voice_seconds"), "null");
    int64_t seconds = (36 * blocks + 50) / 100;
    char clock[16];
    snprintf(clock, sizeof clock, "\"00:00:%02d\"", (int)seconds);
    EXPECT_EQ(json_field(r.out, "total_seconds"), std::to_string(seconds));
    EXPECT_EQ(json_field(r.out, "duration"), clock);
  }
}

TEST(ToolInfoMedia, ShortLastBlockAndDamageAreReported) {
  TempDir dir;
  std::vector<uint8_t> bytes = read_bytes(media_path("speech-32.exe"));
  bytes.resize(bytes.size() - 1000);                // last block 440 bytes
  bytes[PAYLOAD_OFFSET + 12 + 1440 * 3] ^= 0x01;    // block 3's first header no longer matches
  bytes[PAYLOAD_OFFSET + 10] = 13;                  // effect: octave up
  bytes[PAYLOAD_OFFSET + 11] = 0;                   // level 127
  write_file(dir.path + "/c.exe", bytes);
  Result r = quira("info --json " + dir.path + "/c.exe");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(json_field(r.out, "last_block_short"), "true");
  EXPECT_EQ(json_field(r.out, "last_block_bytes"), "440");
  EXPECT_EQ(json_field(r.out, "effect_code"), "13");
  EXPECT_EQ(json_field(r.out, "effect_level"), "127");
  EXPECT_NE(r.out.find("\"failed_blocks\": [3"), std::string::npos) << r.out;
  Result text = quira("info " + dir.path + "/c.exe");
  EXPECT_NE(text.out.find("the last one short, 440 of 1440 bytes"), std::string::npos) << text.out;
}

TEST(ToolExportMedia, AsPlayedIsWhatThePlayerHandsTheDevice) {
  TempDir dir;
  for (const char* name : {"speech-32", "speech-8"}) {
    std::string path = media_path(std::string(name) + ".exe");
    ASSERT_EQ(quira("export --as-played '" + path + "' -o " + dir.path + "/p.wav").status, 0);
    std::vector<uint8_t> wav = read_bytes(dir.path + "/p.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(wav[24] | wav[25] << 8, 16000);  // sample rate, whatever the coded rate
    std::vector<int16_t> played = samples_of(wav, 44);
    std::vector<int16_t> expected = player_samples(path);
    ASSERT_EQ(played.size(), expected.size()) << name;
    EXPECT_TRUE(played == expected) << name;
    // Two start buffers and the priming buffer are silent; speech follows.
    EXPECT_TRUE(std::all_of(played.begin(), played.begin() + 3 * BLOCK_SAMPLES, [](int16_t s) { return s == 0; }));
    EXPECT_FALSE(std::all_of(played.begin() + 3 * BLOCK_SAMPLES, played.end(), [](int16_t s) { return s == 0; }));
  }
}

TEST(ToolExportMedia, AsPlayedWritesNothingButItsOutput) {
  // The player holds its own file name in 260 characters: a carrier deeper than that still plays.
  TempDir dir, scratch;
  std::string deep = dir.path;
  while (deep.size() < 300) deep += "/a-folder-with-a-long-name";
  ASSERT_EQ(system(("mkdir -p '" + deep + "'").c_str()), 0);
  std::string carrier = deep + "/speech-16.exe";
  ASSERT_EQ(system(("cp '" + media_path("speech-16.exe") + "' '" + carrier + "'").c_str()), 0);
  ASSERT_EQ(quira("export --as-played '" + carrier + "' -o " + dir.path + "/p.wav").status, 0);
  EXPECT_TRUE(samples_of(read_bytes(dir.path + "/p.wav"), 44) == player_samples(media_path("speech-16.exe")));

  // Another effect is played from the carrier itself, whatever TMPDIR is: deep, unwritable or
  // missing, nothing is written there, and the output is the whole message.
  std::string deep_tmp = scratch.path;
  while (deep_tmp.size() < 300) deep_tmp += "/a-long-temporary-folder";
  ASSERT_EQ(system(("mkdir -p '" + deep_tmp + "'").c_str()), 0);
  std::vector<uint8_t> first;
  for (std::string tmp : {deep_tmp, std::string("/proc"), scratch.path + "/missing"}) {
    std::string out = dir.path + "/e.wav";
    std::string command = "TMPDIR='" + tmp + "' " + QUIRA_TOOL + " export --as-played --effect 9 --level 0 '" +
                          carrier + "' -o " + out;
    ASSERT_EQ(system(command.c_str()), 0) << tmp;
    std::vector<uint8_t> bytes = read_bytes(out);
    EXPECT_EQ(bytes.size(), 44 + 2 * player_samples(carrier).size()) << tmp;
    if (first.empty()) first = bytes;
    EXPECT_TRUE(bytes == first) << tmp;
    EXPECT_EQ(system(("find '" + scratch.path + "' -type f | grep -q .").c_str()) != 0, true) << tmp;
  }
  EXPECT_EQ(dir.entries().size(), 3u);  // the folder, p.wav and e.wav: no temporary files
}

TEST(ToolExportMedia, PlainExportDropsTheLeadingSilenceAndWritesStdout) {
  TempDir dir;
  std::string path = media_path("prompts-32.exe");
  ASSERT_EQ(quira("export '" + path + "' -o " + dir.path + "/m.wav").status, 0);
  ASSERT_EQ(quira("-q export --as-played '" + path + "' -o " + dir.path + "/p.wav").status, 0);
  std::vector<int16_t> heard = samples_of(read_bytes(dir.path + "/m.wav"), 44);
  std::vector<int16_t> played = samples_of(read_bytes(dir.path + "/p.wav"), 44);
  ASSERT_EQ(heard.size() + 3 * BLOCK_SAMPLES, played.size());
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), played.begin() + 3 * BLOCK_SAMPLES));
  // To a pipe, in one pass: the same samples behind a header whose sizes are open.
  Result piped = quira("export '" + path + "' -o -");
  ASSERT_EQ(piped.status, 0);
  EXPECT_TRUE(std::vector<uint8_t>(piped.out.begin(), piped.out.end()) == streamed_wav(read_bytes(dir.path + "/m.wav")));
  // Readers of such a stream take the samples to its end: sox, and libsndfile in quira make.
  Result by_sox = quira("export '" + path + "' -o - | sox -t wav - -t raw -");
  ASSERT_EQ(by_sox.status, 0);
  EXPECT_TRUE(samples_of(std::vector<uint8_t>(by_sox.out.begin(), by_sox.out.end()), 0) == heard);
  ASSERT_EQ(quira("export '" + path + "' -o - | " + QUIRA_TOOL + " make - -o " + dir.path + "/again.exe").status, 0);
  EXPECT_EQ(json_field(quira("info --json " + dir.path + "/again.exe").out, "voice_samples"), std::to_string(heard.size()));
  EXPECT_EQ(dir.entries().size(), 3u);  // no temporary files left behind
}

TEST(ToolExtractMedia, GivesBackLamesFramesByteForByte) {
  TempDir dir;
  for (const char* name : {"speech-32", "speech-16", "speech-8", "prompts-8"}) {
    std::string out = dir.path + "/" + name + ".mp3";
    ASSERT_EQ(quira("extract '" + media_path(std::string(name) + ".exe") + "' -o " + out).status, 0);
    EXPECT_TRUE(read_bytes(out) == read_bytes(media_path(std::string(name) + ".mp3"))) << name;
  }
}

// --version: the build's version, the pinned decoder (its generic synth alone: Debian's shared
// library would name its CPU-specific ones), the pinned resampler and encoder, the player that
// `info` calls ours, and the licences of the tool and of what is built into it.
TEST(ToolVersionMedia, NamesTheVersionThePinnedLibrariesAndThePlayer) {
  Result r = quira("--version");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(quira("-q -V").out, r.out);
  std::string info = quira("info --json '" + media_path("speech-32.exe") + "'").out;
  std::string sha = json_field(info, "player_sha256");
  EXPECT_EQ(r.out, std::string("quira ") + QUIRA_VERSION + "\n" +
                       "libmpg123 " + QUIRA_MPG123_VERSION + ", built in from Debian's source " +
                       QUIRA_MPG123_DEBIAN_VERSION + ": generic decoder, Layer III only\n" +
                       QUIRA_MAKER_STRING + "\n" +
                       "player 163840 bytes, SHA-256 " + sha.substr(1, 64) + "\n" +
                       "licence: MIT, copyright 2026 The Quira developers (LICENSE)\n" +
                       "built in under their own licences (THIRD-PARTY.md): libmpg123 LGPL-2.1-only, "
                       "libmp3lame LGPL-2.0-or-later, libsoxr LGPL-2.1-or-later, musl's maths MIT\n");
}

TEST(ToolErrors, ExitCodesAndOneLineMessages) {
  TempDir dir;
  std::string err = dir.path + "/err.txt";
  write_file(dir.path + "/short.exe", std::vector<uint8_t>(1000, 0x4D));
  write_file(dir.path + "/empty.exe", {});
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"info /nonexistent/x.exe", 2, "quira: error: /nonexistent/x.exe: No such file or directory"},
      {"info " + dir.path, 2, "Is a directory"},
      {"info " + dir.path + "/short.exe", 3, "not a carrier"},
      {"info " + dir.path + "/empty.exe", 3, "not a carrier"},
      {"export " + dir.path + "/short.exe -o " + dir.path + "/o.wav", 3, "not a carrier"},
      {"export " + media_path("speech-32.exe"), 1, "-o OUT.wav is required"},
      {"export " + media_path("speech-32.exe") + " -o /nonexistent/dir/o.wav", 2, "/nonexistent/dir/o.wav"},
      {"export " + media_path("speech-32.exe") + " -o x.wav --bogus", 1, "unknown option --bogus"},
      {"info", 1, "missing FILE"},
      {"frobnicate", 1, "unknown command"},
      {"", 1, "usage"},
  };
  for (const Case& c : cases) {
    Result r = quira(c.args, err);
    std::vector<uint8_t> err_bytes = read_bytes(err);
    std::string said(err_bytes.begin(), err_bytes.end());
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.args << " said: " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
  // Nothing half-written: the failed exports left no file in the directory.
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"empty.exe", "err.txt", "short.exe"}));
}

TEST(ToolErrors, RefusesToOverwriteItsInput) {
  TempDir dir;
  std::string path = dir.path + "/c.exe";
  std::vector<uint8_t> carrier = read_bytes(media_path("speech-8.exe"));
  write_file(path, carrier);
  EXPECT_EQ(quira("export " + path + " -o " + path).status, 2);
  EXPECT_TRUE(read_bytes(path) == carrier);
}

TEST(ToolHostile, OddCarriersNeverCrashTheTool) {
  TempDir dir;
  std::mt19937 random(99);
  std::vector<std::vector<uint8_t>> files;
  std::vector<uint8_t> bytes(PAYLOAD_OFFSET + 12 + 1440 * 7 + 100);
  for (uint8_t& b : bytes) b = (uint8_t)random();
  files.push_back(bytes);                                           // random
  files.push_back(std::vector<uint8_t>(PAYLOAD_OFFSET + 5000, 0xFF));  // all 0xFF
  files.push_back(std::vector<uint8_t>(PAYLOAD_OFFSET, 0));         // front part only
  files.push_back(std::vector<uint8_t>(PAYLOAD_OFFSET + 7, 0));     // part of a header
  std::vector<uint8_t> truncated = read_bytes(media_path("speech-32.exe"));
  truncated.resize(PAYLOAD_OFFSET + 12 + 1440 * 4 + 77);
  files.push_back(truncated);
  for (size_t i = 0; i < files.size(); i++) {
    std::string path = dir.path + "/h" + std::to_string(i) + ".exe";
    write_file(path, files[i]);
    for (const char* command : {"info", "info --json", "export --as-played", "extract"}) {
      std::string out;
      if (std::string(command) == "extract") out = " -o " + dir.path + "/x.mp3";
      if (std::string(command).find("export") == 0) out = " -o " + dir.path + "/x.wav";
      int status = quira(std::string(command) + " " + path + out).status;
      EXPECT_TRUE(status == 0 || status == 2) << command << " on file " << i << ": " << status;
    }
  }
  // The front part alone plays as the two silent start buffers; the first refill finds no block.
  ASSERT_EQ(quira("export --as-played " + dir.path + "/h2.exe -o " + dir.path + "/x.wav").status, 0);
  EXPECT_EQ(read_bytes(dir.path + "/x.wav").size(), 44u + 2u * 2 * BLOCK_SAMPLES);
}

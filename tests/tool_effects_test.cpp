// SPDX-License-Identifier: MIT
// quira export with voice effects: where the player applies them, the header's choice and its
// overrides, and the tail that the export rings out after the last block.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "audio/buffer_cycle.h"
#include "tests/media.h"

namespace {

int quira_status(const std::string& args) {
  int status = system((std::string(QUIRA_TOOL) + " -q " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string temp_path(const char* suffix) {
  return "/tmp/quira-fx-" + std::to_string(getpid()) + suffix;
}

// The player with an effect: start buffers dry and silent, then every refilled buffer (the
// priming one included) through the effect stage, its memory running on across buffers.
std::vector<int16_t> player_samples(const std::string& carrier, int8_t code, int8_t level) {
  auto blocks = carrier_blocks(carrier);
  std::vector<int16_t> samples(2 * BLOCK_SAMPLES, 0), buffer(BLOCK_SAMPLES);
  static BlockDecoder decoder;
  static EffectStage effect;
  BufferCycle cycle;
  buffer_cycle_init(&cycle, &decoder, &effect);
  buffer_cycle_start(&cycle, code, level);
  for (auto& block : blocks) {
    buffer_cycle_next(&cycle, buffer.data(), block.data());
    samples.insert(samples.end(), buffer.begin(), buffer.end());
  }
  return samples;
}

std::vector<int16_t> export_samples(const std::string& args) {
  std::string out = temp_path(".wav");
  EXPECT_EQ(quira_status("export " + args + " -o " + out), 0) << args;
  std::vector<int16_t> samples = samples_of(read_bytes(out), 44);
  unlink(out.c_str());
  return samples;
}

// A copy of a media carrier with other effect code and level bytes in its header.
std::string with_header(const char* name, uint8_t code, uint8_t level_byte) {
  std::vector<uint8_t> bytes = read_bytes(media_path(name));
  bytes[PAYLOAD_OFFSET + 10] = code;
  bytes[PAYLOAD_OFFSET + 11] = level_byte;
  std::string path = temp_path(("-" + std::to_string(code) + ".exe").c_str());
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  return path;
}

}  // namespace

TEST(ToolEffectsMedia, AsPlayedAppliesTheHeadersEffectWhereThePlayerDoes) {
  for (int code : {2, 7, 10, 11, 16}) {
    std::string carrier = with_header("speech-32.exe", (uint8_t)code, 20);
    std::vector<int16_t> played = export_samples("--as-played " + carrier);
    std::vector<int16_t> expected = player_samples(carrier, (int8_t)code, 107);
    unlink(carrier.c_str());
    ASSERT_EQ(played.size(), expected.size()) << code;
    EXPECT_TRUE(played == expected) << "code " << code;
    // The start buffers are never run through the effect; the priming buffer is, but it is the
    // first one after set-up, so nothing has reached the effect's output yet.
    EXPECT_TRUE(std::all_of(played.begin(), played.begin() + 3 * BLOCK_SAMPLES, [](int16_t s) { return s == 0; }));
  }
}

TEST(ToolEffectsMedia, OverridesMapOntoTheHeader) {
  std::string plain = media_path("prompts-32.exe");  // code 0 in its header
  std::string octave = with_header("prompts-32.exe", 13, 30);
  // --effect by name or code and --level, the effect's weight as make takes it, give what the
  // header storing them gives: level 97 is level byte 30, and -128 byte 255.
  EXPECT_TRUE(export_samples("--as-played --effect octave-up --level 97 " + plain) ==
              export_samples("--as-played " + octave));
  EXPECT_TRUE(export_samples("--as-played --effect 13 --level 97 " + plain) ==
              export_samples("--as-played " + octave));
  std::string inverted = with_header("prompts-32.exe", 13, 255);
  EXPECT_TRUE(export_samples("--as-played --level -128 " + octave) == export_samples("--as-played " + inverted));
  // --dry and level 0 both give the decoded samples unchanged.
  std::vector<int16_t> dry = export_samples("--as-played " + plain);
  EXPECT_TRUE(export_samples("--as-played --dry " + octave) == dry);
  EXPECT_TRUE(export_samples("--as-played --level 0 " + octave) == dry);
  EXPECT_FALSE(export_samples("--as-played " + octave) == dry);
  EXPECT_EQ(quira_status("export --effect nosuch " + plain + " -o /tmp/x.wav"), 1);
  EXPECT_EQ(quira_status("export --level 128 " + plain + " -o /tmp/x.wav"), 1);
  EXPECT_EQ(quira_status("export --level -129 " + plain + " -o /tmp/x.wav"), 1);
  unlink(inverted.c_str());
  unlink(octave.c_str());
}

TEST(ToolEffectsMedia, CodesWithoutAnEffectPlayDry) {
  std::vector<int16_t> dry = export_samples("--as-played " + media_path("speech-8.exe"));
  for (int byte : {17, 127, 128, 255}) {
    std::string carrier = with_header("speech-8.exe", (uint8_t)byte, 0);
    EXPECT_TRUE(export_samples("--as-played " + carrier) == dry) << byte;
    unlink(carrier.c_str());
  }
}

TEST(ToolEffectsMedia, PlainExportRingsTheTailOut) {
  for (int code : {4, 5, 15}) {
    std::string carrier = with_header("speech-32.exe", (uint8_t)code, 0);
    std::vector<int16_t> played = export_samples("--as-played " + carrier);
    std::vector<int16_t> heard = export_samples(carrier);
    unlink(carrier.c_str());
    // The message as played after the three leading buffers, then a tail of at most six seconds
    // that ends on a sound, not on trailing silence.
    size_t message = played.size() - 3 * BLOCK_SAMPLES;
    ASSERT_GT(heard.size(), message) << code;
    EXPECT_LE(heard.size() - message, 6u * 16000 + BLOCK_SAMPLES) << code;
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + (long)message, played.begin() + 3 * BLOCK_SAMPLES));
    EXPECT_NE(heard.back(), 0) << code;
  }
  // Without an effect there is no tail.
  EXPECT_EQ(export_samples(media_path("speech-32.exe")).size(),
            export_samples("--as-played " + media_path("speech-32.exe")).size() - 3 * BLOCK_SAMPLES);
}

TEST(ToolEffectsMedia, InfoAndEffectsNameTheEffect) {
  std::string carrier = with_header("speech-32.exe", 5, 0);
  FILE* pipe = popen((std::string(QUIRA_TOOL) + " info " + carrier).c_str(), "r");
  char line[256];
  std::string out;
  while (fgets(line, sizeof line, pipe)) out += line;
  pclose(pipe);
  unlink(carrier.c_str());
  EXPECT_NE(out.find("effect        5 (echo)"), std::string::npos) << out;
  EXPECT_NE(out.find("level         byte 0, level 127 of 128"), std::string::npos) << out;

  pipe = popen((std::string(QUIRA_TOOL) + " effects").c_str(), "r");
  int rows = 0;
  while (fgets(line, sizeof line, pipe)) rows++;
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(rows, 17);  // heading and sixteen effects
}

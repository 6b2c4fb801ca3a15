// SPDX-License-Identifier: MIT
// Block decoding on carriers made from real speech, against the pinned library decoding the plain
// stream in one go, against Debian's mpg123 command, and on blocks damaged on purpose.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include "decode/block_decoder.h"
#include "tests/media.h"

namespace {

// The decoder every case here runs on, as the player runs its one.
BlockDecoder DECODER;

using Block = std::vector<uint8_t>;

struct Decoded {
  std::vector<int16_t> samples;
  int decoded = 0;
};

// Decodes blocks once each, in order, from a reset.
Decoded decode_straight(std::vector<Block> blocks) {
  Decoded run;
  run.samples.assign(blocks.size() * BLOCK_SAMPLES, 0);
  block_decoder_reset(&DECODER);
  for (size_t k = 0; k < blocks.size(); k++) {
    int32_t samples_out = -1;
    DecodeRequest request = {blocks[k].data(), &run.samples[k * BLOCK_SAMPLES], &samples_out};
    run.decoded += block_decode(&DECODER, &request);
  }
  return run;
}

// The pinned library, fed a whole plain stream at once, read to the end.
std::vector<int16_t> library_decode(const std::vector<uint8_t>& mp3) {
  std::vector<int16_t> samples;
  mpg123_init();
  mpg123_handle* handle = mpg123_new(NULL, NULL);
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET, 0);
  mpg123_format_none(handle);
  for (long rate : {8000L, 16000L}) mpg123_format(handle, rate, MPG123_MONO, MPG123_ENC_SIGNED_16);
  mpg123_open_feed(handle);
  mpg123_feed(handle, mp3.data(), mp3.size());
  unsigned char buffer[4608];
  for (;;) {
    size_t done = 0;
    int result = mpg123_read(handle, buffer, sizeof buffer, &done);
    for (size_t i = 0; i + 1 < done; i += 2) samples.push_back((int16_t)(buffer[i] | buffer[i + 1] << 8));
    if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
  }
  mpg123_delete(handle);
  return samples;
}

// Re-scrambles a plain header word into frame `frame` of a block at the given step.
void put_header(Block& block, int frame, int step, uint32_t word) {
  for (int i = 0; i < 4; i++) block[(size_t)(frame * step + i)] = (uint8_t)(word >> (24 - 8 * i)) ^ SCRAMBLE_KEY;
}

const char* const FORMAT_CARRIERS[] = {"speech-8", "speech-16", "speech-32", "prompts-8", "prompts-16", "prompts-32"};

}  // namespace

TEST(DecodeMedia, EveryAcceptedFormatGivesWholeBlocks) {
  const int32_t rates[] = {8000, 16000, 16000};
  for (int i = 0; i < 6; i++) {
    auto blocks = carrier_blocks(media_path(std::string(FORMAT_CARRIERS[i]) + ".exe"));
    ASSERT_GT(blocks.size(), 10u) << FORMAT_CARRIERS[i];
    EXPECT_EQ(block_format(blocks[0].data()), i % 3);
    block_decoder_reset(&DECODER);
    std::vector<int16_t> out(BLOCK_SAMPLES);
    for (size_t k = 0; k < blocks.size(); k++) {
      int32_t samples_out = -1;
      DecodeRequest request = {blocks[k].data(), out.data(), &samples_out};
      ASSERT_EQ(block_decode(&DECODER, &request), 1) << FORMAT_CARRIERS[i] << " block " << k;
      ASSERT_EQ(samples_out, BLOCK_SAMPLES);
    }
    // Blocks of 8 kHz frames are handed on at their coded rate, not resampled.
    EXPECT_EQ(block_decoder_rate(&DECODER), rates[i % 3]) << FORMAT_CARRIERS[i];
  }
}

TEST(DecodeMedia, FrameByFrameEqualsPinnedLibraryOnWholeStream) {
  for (const char* name : FORMAT_CARRIERS) {
    Decoded run = decode_straight(carrier_blocks(media_path(std::string(name) + ".exe")));
    std::vector<int16_t> whole = library_decode(read_bytes(media_path(std::string(name) + ".mp3")));
    ASSERT_EQ(run.samples.size(), whole.size()) << name;
    EXPECT_TRUE(run.samples == whole) << name;
  }
}

TEST(DecodeMedia, WithinOneOfDebiansDecoder) {
  for (const char* name : FORMAT_CARRIERS) {
    Decoded run = decode_straight(carrier_blocks(media_path(std::string(name) + ".exe")));
    std::string command = "mpg123 -q --no-gapless -e s16 -m -s '" + media_path(std::string(name) + ".mp3") + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::vector<uint8_t> raw;
    uint8_t chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) raw.insert(raw.end(), chunk, chunk + n);
    ASSERT_EQ(pclose(pipe), 0) << command;
    std::vector<int16_t> theirs = samples_of(raw, 0);
    ASSERT_EQ(theirs.size(), run.samples.size()) << name;
    size_t differ = 0;
    for (size_t i = 0; i < theirs.size(); i++) {
      int d = theirs[i] - run.samples[i];
      ASSERT_LE(abs(d), 1) << name << " sample " << i;
      differ += d != 0;
    }
    EXPECT_LE(differ, theirs.size() / 1000) << name << ": " << differ << " samples differ";
  }
}

TEST(DecodeMedia, SixteenKbitBlocksIgnoreTheirUnusedHalf) {
  auto blocks = carrier_blocks(media_path("speech-16.exe"));
  blocks.resize(8);
  auto scribbled = blocks;
  std::mt19937 random(7);
  for (Block& block : scribbled)
    for (size_t i = 720; i < BLOCK_BYTES; i++) block[i] = (uint8_t)random();
  EXPECT_TRUE(decode_straight(blocks).samples == decode_straight(scribbled).samples);
}

TEST(DecodeMedia, LoudSpeechClipsWithoutWrapping) {
  Decoded run = decode_straight(carrier_blocks(media_path("loud-32.exe")));
  size_t top = 0, bottom = 0;
  const std::vector<int16_t>& s = run.samples;
  for (size_t i = 0; i < s.size(); i++) {
    top += s[i] == 32767;
    bottom += s[i] == -32768;
    // A wrapped sample is a lone spike to the other rail between two samples near one rail.
    if (i > 0 && i + 1 < s.size()) {
      ASSERT_FALSE(s[i - 1] > 24000 && s[i] < -24000 && s[i + 1] > 24000) << "sample " << i;
      ASSERT_FALSE(s[i - 1] < -24000 && s[i] > 24000 && s[i + 1] < -24000) << "sample " << i;
    }
  }
  EXPECT_GT(top, 10u);
  EXPECT_GT(bottom, 10u);
}

TEST(DecodeMedia, FirstHeaderOutsideTheThreeWordsLeavesAllUntouched) {
  Block original = carrier_blocks(media_path("speech-32.exe"))[3];
  const uint32_t others[] = {
      0xFFF34AC4,  // padding set
      0xFFF34804,  // stereo
      0xFFF248C4,  // CRC present
      0xFFF358C4,  // 40 kbit/s
      0xFFFB18C4,  // MPEG-1
      0xFFF348C5,  // emphasis
      0x00000000,
  };
  block_decoder_reset(&DECODER);
  for (uint32_t word : others) {
    Block block = original;
    put_header(block, 0, 144, word);
    Block before = block;
    std::vector<int16_t> out(BLOCK_SAMPLES, 1234);
    int32_t samples_out = -7;
    DecodeRequest request = {block.data(), out.data(), &samples_out};
    EXPECT_EQ(block_decode(&DECODER, &request), 0) << std::hex << word;
    EXPECT_TRUE(block == before);
    EXPECT_EQ(samples_out, -7);
    EXPECT_EQ(out, std::vector<int16_t>(BLOCK_SAMPLES, 1234));
  }
}

TEST(DecodeMedia, RefusedHeaderInSeventhFrameKeepsSixFrames) {
  auto blocks = carrier_blocks(media_path("speech-32.exe"));
  Decoded clean = decode_straight({blocks[0], blocks[1], blocks[2]});
  Block damaged = blocks[2];
  put_header(damaged, 6, 144, 0xFFF308C4);  // free format: refused
  block_decoder_reset(&DECODER);
  std::vector<int16_t> out(BLOCK_SAMPLES, 1234);
  int32_t samples_out = -1;
  for (int k = 0; k < 2; k++) {
    DecodeRequest request = {blocks[(size_t)k].data(), out.data(), &samples_out};
    ASSERT_EQ(block_decode(&DECODER, &request), 1);
  }
  std::fill(out.begin(), out.end(), 1234);
  DecodeRequest request = {damaged.data(), out.data(), &samples_out};
  EXPECT_EQ(block_decode(&DECODER, &request), 0);
  EXPECT_EQ(samples_out, 3456);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 3456, clean.samples.begin() + 2 * BLOCK_SAMPLES));
  EXPECT_TRUE(std::all_of(out.begin() + 3456, out.end(), [](int16_t s) { return s == 1234; }));
  // The refused header is left plain, its body scrambled as stored.
  EXPECT_EQ(damaged[6 * 144], 0xFF);
  EXPECT_EQ(damaged[6 * 144 + 10], blocks[2][6 * 144 + 10]);
}

TEST(DecodeMedia, SecondDecodeOfABlockFailsAndChangesNothing) {
  Block block = carrier_blocks(media_path("speech-32.exe"))[5];
  std::vector<int16_t> out(BLOCK_SAMPLES);
  int32_t samples_out = 0;
  DecodeRequest request = {block.data(), out.data(), &samples_out};
  block_decoder_reset(&DECODER);
  ASSERT_EQ(block_decode(&DECODER, &request), 1);
  Block plain = block;
  std::vector<int16_t> first = out;
  EXPECT_EQ(block_decode(&DECODER, &request), 0);
  EXPECT_TRUE(block == plain);
  EXPECT_TRUE(out == first);
  EXPECT_EQ(samples_out, BLOCK_SAMPLES);
}

TEST(DecodeMedia, BlockAfterPrimingEqualsFreshDecoderThroughBoth) {
  for (const char* name : {"speech-32", "speech-8"}) {
    auto blocks = carrier_blocks(media_path(std::string(name) + ".exe"));
    // A decoder with history: some blocks, then a restart at block 15 as a resume would do.
    Decoded history = decode_straight({blocks.begin(), blocks.begin() + 12});
    ASSERT_EQ(history.decoded, 12);
    std::vector<int16_t> priming(BLOCK_SAMPLES), after(BLOCK_SAMPLES);
    int32_t samples_out;
    Block b15 = blocks[15], b16 = blocks[16];
    block_decoder_reset(&DECODER);
    DecodeRequest p = {b15.data(), priming.data(), &samples_out};
    DecodeRequest a = {b16.data(), after.data(), &samples_out};
    ASSERT_EQ(block_decode(&DECODER, &p), 1);
    ASSERT_EQ(block_decode(&DECODER, &p), 0);  // the priming block's second decode, as the refill makes it
    ASSERT_EQ(block_decode(&DECODER, &a), 1);
    Decoded fresh = decode_straight({blocks[15], blocks[16]});
    EXPECT_TRUE(std::equal(after.begin(), after.end(), fresh.samples.begin() + BLOCK_SAMPLES)) << name;
  }
}

TEST(DecodeMedia, FrameTheLibraryCannotDecodeRepeatsThePreviousFrame) {
  auto blocks = carrier_blocks(media_path("speech-32.exe"));
  Block damaged = blocks[4];
  // An MPEG-1 header of the same length: the library gives 1,152 samples, not 576.
  put_header(damaged, 5, 144, 0xFFFB18C4);
  Decoded run = decode_straight({blocks[2], blocks[3], damaged});
  EXPECT_EQ(run.decoded, 3);
  const int16_t* frames = &run.samples[2 * BLOCK_SAMPLES];
  EXPECT_TRUE(std::equal(frames + 5 * 576, frames + 6 * 576, frames + 4 * 576));
  EXPECT_FALSE(std::all_of(frames + 4 * 576, frames + 5 * 576, [](int16_t s) { return s == 0; }));
}

TEST(DecodeMedia, BodyReachingPastTheBlockIsRefused) {
  auto blocks = carrier_blocks(media_path("speech-32.exe"));
  // Frame 9 declares MPEG-1 at 320 kbit/s with padding: 1,437 body bytes from offset 1,300.
  // The block lives in a heap buffer of exactly 1,440 bytes, so a read past it is caught.
  Block damaged = blocks[6];
  put_header(damaged, 9, 144, 0xFFFBEAC4);
  Block tail_before(damaged.begin() + 9 * 144 + 4, damaged.end());
  Decoded run = decode_straight({blocks[5], damaged});
  EXPECT_EQ(run.decoded, 1);
  EXPECT_TRUE(std::equal(tail_before.begin(), tail_before.end(), damaged.begin() + 9 * 144 + 4));

  // In a block of 72-byte frames a longer body may reach into the unused half, but not past it.
  auto small = carrier_blocks(media_path("speech-16.exe"));
  Block into_tail = small[6], past_end = small[6];
  put_header(into_tail, 9, 72, 0xFFF348C4);  // 140-byte body from offset 652: inside the block
  put_header(past_end, 9, 72, 0xFFFBEAC4);
  EXPECT_EQ(decode_straight({small[5], into_tail}).decoded, 2);
  EXPECT_EQ(decode_straight({small[5], past_end}).decoded, 1);
}

TEST(DecodeHostile, DamagedBlocksNeverLeaveTheirBytes) {
  // Random blocks, blocks behind a valid first header, and every frame header random: the decoder
  // must only ever refuse or decode, never touch memory outside the block (ASan checks in CI).
  std::mt19937 random(2024);
  auto real = carrier_blocks(media_path("speech-32.exe"));
  std::vector<int16_t> out(BLOCK_SAMPLES);
  int32_t samples_out;
  block_decoder_reset(&DECODER);
  for (int trial = 0; trial < 600; trial++) {
    auto block = std::make_unique<uint8_t[]>(BLOCK_BYTES);
    switch (trial % 4) {
      case 0:
        for (int i = 0; i < BLOCK_BYTES; i++) block[(size_t)i] = (uint8_t)random();
        break;
      case 1:
        for (int i = 0; i < BLOCK_BYTES; i++) block[(size_t)i] = (uint8_t)random();
        for (int i = 0; i < 4; i++) block[(size_t)i] = (uint8_t)(SYNC_WORDS[trial % 3] >> (24 - 8 * i)) ^ SCRAMBLE_KEY;
        break;
      case 2: {  // a real block whose later frame headers are random but keep the sync bits
        std::copy(real[(size_t)trial % real.size()].begin(), real[(size_t)trial % real.size()].end(), block.get());
        for (int f = 1; f < FRAMES_PER_BLOCK; f++) {
          uint32_t word = 0xFFE00000u | ((uint32_t)random() & 0x001FFFFFu);
          for (int i = 0; i < 4; i++) block[(size_t)(f * 144 + i)] = (uint8_t)(word >> (24 - 8 * i)) ^ SCRAMBLE_KEY;
        }
        break;
      }
      case 3:
        std::fill(block.get(), block.get() + BLOCK_BYTES, (uint8_t)(trial & 1 ? 0xFF : 0x00));
        break;
    }
    DecodeRequest request = {block.get(), out.data(), &samples_out};
    int result = block_decode(&DECODER, &request);
    ASSERT_TRUE(result == 0 || result == 1);
  }
  // And the decoder still decodes real speech afterwards.
  EXPECT_EQ(decode_straight({real[0], real[1], real[2]}).decoded, 3);
}

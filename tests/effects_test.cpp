// SPDX-License-Identifier: MIT
// Effect stage: the mix, truncation and clip, level signs, dry codes, buffer boundaries, names.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "effects/delay_line.h"
#include "quira/quira.h"
#include "effects/effect_stage.h"
#include "effects/room_reverb.h"
#include "tests/effect_records.h"

namespace {

// The level the header's byte 11 gives: 127 minus the byte, as a signed 8-bit value.
int8_t level_of_byte(int byte) { return (int8_t)(127 - byte); }

std::vector<int16_t> noise(int samples, uint32_t seed) {
  std::vector<int16_t> out;
  for (int n = 0; n < samples; n++) {
    seed = seed * 1664525u + 1013904223u;
    out.push_back((int16_t)(seed >> 16));
  }
  return out;
}

std::vector<int16_t> impulse(int16_t first, int samples) {
  std::vector<int16_t> out(samples, 0);
  out[0] = first;
  return out;
}

std::vector<int16_t> run(int8_t code, int8_t level, std::vector<int16_t> samples) {
  effect_start(code, level);
  effect_apply(samples.data(), (int32_t)(samples.size() * 2));
  return samples;
}

// On the first sample every family's effect value is 0, so the sum is (128 - level) * x.
TEST(EffectStage, SumTruncatesTowardZeroThenClips) {
  for (int8_t code : {1, 5, 11}) {
    SCOPED_TRACE(testing::Message() << "code " << (int)code);
    EXPECT_EQ(run(code, 28, {-1})[0], 0);               // sum -100
    EXPECT_EQ(run(code, -128, {16384})[0], 32767);      // sum 4,194,304
    EXPECT_EQ(run(code, -128, {-16384})[0], -32768);    // sum -4,194,304, exactly in range
    EXPECT_EQ(run(code, -70, {-21184})[0], -32768);     // sum -4,194,432
    EXPECT_EQ(run(code, 127, {-127})[0], 0);            // sum -127
  }
}

TEST(EffectStage, LevelWeighsTheEffectSample) {
  // Code 9 echoes 1,000 as 800 at sample 203.
  std::vector<int16_t> out = run(9, level_of_byte(0), impulse(1000, 204));
  EXPECT_EQ(out[0], 7);       // (1000 + 127 * 0) / 128
  EXPECT_EQ(out[203], 793);   // (0 + 127 * 800) / 128
  out = run(9, level_of_byte(255), impulse(1000, 204));
  EXPECT_EQ(out[0], 2000);    // 2x - w
  EXPECT_EQ(out[203], -800);
  // Code 1 hears 32,767 as 8,191 and answers 24 at sample 1,355, mixed twelve times as strong.
  out = run(1, level_of_byte(0), impulse(32767, 1356));
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1355], 285);  // 1524 * 24 / 128
}

TEST(EffectStage, ReverbHearsAQuarterTruncatedTowardZero) {
  std::vector<int16_t> out = run(1, 127, impulse(-3, 6000));
  EXPECT_EQ(out, std::vector<int16_t>(6000, 0));
  // -5 arrives as -1, whose echo of -1 sums to -1524 and truncates to -11.
  out = run(1, 127, impulse(-5, 1356));
  for (int n = 0; n < 1355; n++) ASSERT_EQ(out[n], 0) << n;
  EXPECT_EQ(out[1355], -11);
}

TEST(EffectStage, RunawayEchoIsClippedOnlyInTheMix) {
  std::vector<int16_t> loud(40 * 4003, 32767);
  std::vector<int16_t> out = run(5, 127, loud);
  EXPECT_EQ(out.back(), 32767);
  EXPECT_GT(DELAY_LINE.wet, 141900.0f);
  out = run(5, -128, loud);
  EXPECT_EQ(out.back(), -32768);  // 2 * 32767 - 141,9xx
}

TEST(EffectStage, LevelZeroPassesSamplesWhileTheFamilyRuns) {
  const std::vector<int16_t> in = noise(5000, 7);
  EXPECT_EQ(run(2, 0, in), in);
  EXPECT_EQ(ROOM_REVERB.tap_position, REVERB_TAP_LINE - 5000 % REVERB_TAP_LINE);
  EXPECT_EQ(run(8, 0, in), in);
  EXPECT_EQ(DELAY_LINE.write_index, 5000 % 1280);
  EXPECT_EQ(run(15, 0, in), in);
  EXPECT_EQ(DELAY_LINE.write_index, 5000 % 4960);
}

TEST(EffectStage, ByteCountGivesWholeSamplesOnly) {
  for (int32_t bytes : {-2, 0, 1}) {
    std::vector<int16_t> samples = {100, 100};
    effect_start(5, -128);
    effect_apply(samples.data(), bytes);
    EXPECT_EQ(samples, (std::vector<int16_t>{100, 100})) << bytes;
  }
  std::vector<int16_t> samples = {100, 100, 100, 100};
  effect_start(5, -128);
  effect_apply(samples.data(), 7);
  EXPECT_EQ(samples, (std::vector<int16_t>{200, 200, 200, 100}));
}

// Code 0 and codes without a record run no set-up and leave buffers and every state untouched.
TEST(EffectStage, DryCodesTouchNothing) {
  static RoomReverb reverb_before;
  static DelayLineState delay_before;
  run(3, 64, noise(3000, 1));
  run(14, 64, noise(3000, 2));
  memcpy(&reverb_before, &ROOM_REVERB, sizeof reverb_before);
  memcpy(&delay_before, &DELAY_LINE, sizeof delay_before);
  const std::vector<int16_t> in = noise(6000, 3);
  for (int code : {0, 17, 127, -1, -128}) {
    SCOPED_TRACE(testing::Message() << "code " << code);
    EXPECT_EQ(run((int8_t)code, -128, in), in);
    EXPECT_EQ(memcmp(&reverb_before, &ROOM_REVERB, sizeof reverb_before), 0);
    EXPECT_EQ(memcmp(&delay_before, &DELAY_LINE, sizeof delay_before), 0);
    EXPECT_EQ(effect_code_known(code), 0);
  }
  for (int code = 1; code <= EFFECT_CODE_MAX; code++) EXPECT_EQ(effect_code_known(code), 1);
}

TEST(EffectStage, BufferBoundariesMakeNoDifference) {
  const std::vector<int16_t> in = noise(3 * 5760 + 11, 42);
  const int chunks[] = {1, 7, 333, 5760, 2, 999, 4097};
  for (int code = 1; code <= EFFECT_CODE_MAX; code++) {
    for (int8_t level : {100, -77}) {
      std::vector<int16_t> whole = run((int8_t)code, level, in);
      std::vector<int16_t> pieces = in;
      effect_start((int8_t)code, level);
      size_t at = 0;
      for (int c = 0; at < pieces.size(); c++) {
        size_t n = std::min(pieces.size() - at, (size_t)chunks[c % 7]);
        effect_apply(pieces.data() + at, (int32_t)(n * 2));
        at += n;
      }
      ASSERT_EQ(whole, pieces) << "code " << code << " level " << (int)level;
    }
  }
}

TEST(EffectNames, OneUniqueNamePerCodeInItsFamily) {
  std::set<std::string> names;
  for (int code = 1; code <= EFFECT_CODE_MAX; code++) {
    const QuiraEffect* info = quira_effect(code);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->code, code);
    std::string name = info->name;
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string::npos) << name;
    EXPECT_STREQ(info->family, code <= 4 ? "reverb" : code <= 10 ? "swept-delay" : "pitch-shift");
    EXPECT_GT(strlen(info->description), 10u);
    EXPECT_EQ(quira_effect_find(info->name), code);
    EXPECT_EQ(quira_effect_find(std::to_string(code).c_str()), code);
  }
  EXPECT_EQ(quira_effect(0), nullptr);
  EXPECT_EQ(quira_effect(17), nullptr);
  EXPECT_EQ(quira_effect(-1), nullptr);
}

TEST(EffectNames, FindAcceptsNoneAndRejectsTheRest) {
  EXPECT_EQ(quira_effect_find("none"), 0);
  EXPECT_EQ(quira_effect_find("0"), 0);
  EXPECT_EQ(quira_effect_find("05"), 5);
  for (const char* bad : {"", "17", "-1", "255", "1000", "0x5", "Echo", "echo ", " 5", "5a"})
    EXPECT_EQ(quira_effect_find(bad), QUIRA_ERR_ARGUMENT) << '"' << bad << '"';
  EXPECT_EQ(quira_effect_find(nullptr), QUIRA_ERR_ARGUMENT);
}

}  // namespace

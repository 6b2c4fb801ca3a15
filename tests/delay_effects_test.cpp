// SPDX-License-Identifier: MIT
// Swept delay and pitch shift: derived presets, impulse responses, sweeps, jumps and cross-fades.
#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "effects/pitch_shift.h"
#include "effects/swept_delay.h"
#include "tests/effect_records.h"

namespace {

typedef int32_t (*Process)(int32_t);

// Wet output for an input of 1,000 at sample 0 and zeros after.
std::vector<int32_t> impulse_response(void (*setup)(int), Process process, int index, int samples) {
  setup(index);
  std::vector<int32_t> out;
  for (int n = 0; n < samples; n++) out.push_back(process(n == 0 ? 1000 : 0));
  return out;
}

// Checks that out holds exactly the listed non-zero samples.
void expect_only(const std::vector<int32_t>& out, std::vector<std::pair<int, int32_t>> expected) {
  for (size_t n = 0; n < out.size(); n++) {
    int32_t want = 0;
    for (auto& e : expected)
      if (e.first == (int)n) want = e.second;
    ASSERT_EQ(out[n], want) << "sample " << n;
  }
}

TEST(SweptDelay, SetupDerivesTheSweep) {
  struct Row { int32_t increment, span, base, length, lower, upper, start; };
  const Row rows[6] = {
      {0, 0, 4000, 8000, 3998, 3998, 3998},     {131, 96, 0, 192, 94, 190, 142},
      {131, 96, 0, 192, 94, 190, 142},          {720, 320, 320, 1280, 638, 958, 798},
      {0, 0, 200, 400, 198, 198, 198},          {9830, 640, 640, 2560, 1278, 1918, 1598},
  };
  for (int i = 0; i < 6; i++) {
    swept_delay_setup(i);
    const DelayLineState& d = DELAY_LINE;
    SCOPED_TRACE(testing::Message() << "code " << i + 5);
    EXPECT_EQ(d.increment, rows[i].increment);
    EXPECT_EQ(d.span_samples, rows[i].span);
    EXPECT_EQ(d.base_samples, rows[i].base);
    EXPECT_EQ(d.length, rows[i].length);
    EXPECT_EQ(d.lower_bound, rows[i].lower);
    EXPECT_EQ(d.upper_bound, rows[i].upper);
    EXPECT_EQ(d.phase, (uint32_t)rows[i].start << 16);
  }
}

TEST(SweptDelay, FixedEchoesRepeatAndFade) {
  // 1.3f * 1000 rounds to 1300.0f before truncation, so the first echo is 1300, not 1299.
  expect_only(impulse_response(swept_delay_setup, swept_delay_process, 0, 16013),
              {{4003, 1300}, {8006, 909}, {12009, 637}, {16012, 445}});
  expect_only(impulse_response(swept_delay_setup, swept_delay_process, 4, 813),
              {{203, 800}, {406, 600}, {609, 450}, {812, 337}});
}

TEST(SweptDelay, FlangersInterpolateAndInvertTheirFeedback) {
  expect_only(impulse_response(swept_delay_setup, swept_delay_process, 1, 30000), {{50, 179}, {51, 1616}});
  expect_only(impulse_response(swept_delay_setup, swept_delay_process, 2, 154),
              {{50, -179}, {51, -1616}, {100, 25}, {101, 328}, {102, 900},
               {150, -5}, {151, -81}, {152, -351}, {153, -437}});
}

TEST(SweptDelay, SweepReversesOnePastEachBound) {
  swept_delay_setup(1);
  std::vector<int> at;
  std::vector<uint32_t> offsets;
  for (int n = 0; n < 130000; n++) {
    int32_t before = DELAY_LINE.increment;
    swept_delay_process(0);
    if (DELAY_LINE.increment != before) {
      at.push_back(n);
      offsets.push_back(DELAY_LINE.phase >> 16);
    }
  }
  EXPECT_EQ(at, (std::vector<int>{24513, 24513 + 48528, 24513 + 2 * 48528}));
  EXPECT_EQ(offsets, (std::vector<uint32_t>{191, 93, 191}));
}

TEST(SweptDelay, SweepPeriods) {
  const int codes[4] = {6, 7, 8, 10};
  const int periods[4] = {97056, 97056, 58438, 8550};
  for (int c = 0; c < 4; c++) {
    swept_delay_setup(codes[c] - 5);
    std::vector<int> at;
    for (int n = 0; at.size() < 3 && n < 300000; n++) {
      int32_t before = DELAY_LINE.increment;
      swept_delay_process(0);
      if (DELAY_LINE.increment != before) at.push_back(n);
    }
    ASSERT_EQ(at.size(), 3u) << "code " << codes[c];
    EXPECT_EQ(at[2] - at[0], periods[c]) << "code " << codes[c];
  }
  for (int index : {0, 4}) {  // codes 5 and 9 never move
    swept_delay_setup(index);
    uint32_t start = DELAY_LINE.phase;
    for (int n = 0; n < 20000; n++) swept_delay_process(n % 7 * 3000);
    EXPECT_EQ(DELAY_LINE.phase, start);
  }
}

TEST(SweptDelay, WetSampleIsNotLimitedTo16Bits) {
  swept_delay_setup(0);
  int32_t last = 0;
  for (int n = 0; n < 40 * 4003; n++) {
    int32_t wet = swept_delay_process(32767);
    ASSERT_GE(wet, last);
    last = wet;
  }
  EXPECT_GT(last, 141900);  // 32767 / 0.3 * 1.3 = 141,990
  EXPECT_LE(last, 141990);
}

TEST(DelayLine, FirstWetSampleIsZeroForEveryPreset) {
  for (int i = 0; i < 6; i++) {
    swept_delay_setup(i);
    EXPECT_EQ(swept_delay_process(32767), 0) << "code " << i + 5;
    pitch_shift_setup(i);
    EXPECT_EQ(pitch_shift_process(-32768), 0) << "code " << i + 11;
  }
}

TEST(PitchShift, FadeTables) {
  pitch_shift_setup(0);
  EXPECT_EQ(PITCH.fade_sine[0], 0.0f);
  EXPECT_EQ(PITCH.fade_cosine[0], 1.0f);
  EXPECT_EQ(PITCH.fade_sine[1], 0.0081811398f);
  EXPECT_EQ(PITCH.fade_cosine[1], 0.99996656f);
  EXPECT_EQ(PITCH.fade_sine[96], 0.70710677f);
  EXPECT_EQ(PITCH.fade_cosine[96], 0.70710677f);
  EXPECT_EQ(PITCH.fade_sine[191], 0.99996656f);
  EXPECT_EQ(PITCH.fade_cosine[191], 0.0081811398f);
}

TEST(PitchShift, SetupDerivesTheWindowAndJumps) {
  struct Row { int32_t increment, rising, span, base, length, lower, upper, interval, first_jump, between; };
  const Row rows[6] = {
      {-22937, 0, 400, 0, 800, 398, 798, 465, 1328, 1331},
      {17032, 1, 560, 0, 1120, 558, 1118, 509, 1962, 1962},
      {65535, 1, 640, 0, 1280, 638, 1278, 446, 447, 447},
      {21941, 1, 560, 0, 1120, 558, 1118, 494, 1478, 1478},
      {-13107, 0, 560, 1920, 4960, 2478, 3038, 596, 2980, 2985},
      {17032, 1, 560, 1920, 4960, 2478, 3038, 509, 1962, 1962},
  };
  // Codes 13 and 15 always jump the same distance apart, the others one sample more at times.
  const bool steady[6] = {false, false, true, false, true, false};
  for (int i = 0; i < 6; i++) {
    pitch_shift_setup(i);
    const DelayLineState& d = DELAY_LINE;
    const Row& r = rows[i];
    SCOPED_TRACE(testing::Message() << "code " << i + 11);
    EXPECT_EQ(d.increment, r.increment);
    EXPECT_EQ(PITCH.rising, r.rising);
    EXPECT_EQ(d.span_samples, r.span);
    EXPECT_EQ(d.base_samples, r.base);
    EXPECT_EQ(d.length, r.length);
    EXPECT_EQ(d.lower_bound, r.lower);
    EXPECT_EQ(d.upper_bound, r.upper);
    EXPECT_EQ(PITCH.jump_interval, r.interval);
    EXPECT_EQ(d.tap_newer, r.rising ? r.lower : r.upper);
    EXPECT_EQ(d.tap_older, d.tap_newer);
    EXPECT_EQ(PITCH.tap_newer_2, 0);
    EXPECT_EQ(PITCH.gain_2, 0.0f);

    std::vector<int> jumps;
    for (int n = 0; n < 20000; n++) {
      pitch_shift_process(0);
      if (PITCH.fade_count == FADE_LENGTH) jumps.push_back(n);
    }
    ASSERT_GE(jumps.size(), 3u);
    EXPECT_EQ(jumps[0], r.first_jump);
    for (size_t j = 1; j < jumps.size(); j++) {
      int gap = jumps[j] - jumps[j - 1];
      EXPECT_TRUE(gap == r.between || (!steady[i] && gap == r.between + 1)) << "gap " << gap;
    }
  }
}

// How far back the taps that sound read: slot s was written (write_index - s) samples ago.
TEST(PitchShift, SoundingTapsStayInsideTheLine) {
  const int32_t shortest[6] = {2, 3, 4, 3, 1922, 1923};
  const int32_t longest[6] = {536, 563, 643, 563, 2558, 2483};
  for (int i = 0; i < 6; i++) {
    pitch_shift_setup(i);
    const DelayLineState& d = DELAY_LINE;
    int32_t low = INT32_MAX, high = 0;
    auto age = [&](int32_t slot) { return (d.write_index - slot + d.length - 1) % d.length + 1; };
    for (int n = 0; n < 30000; n++) {
      if (PITCH.gain_1 != 0.0f) low = std::min({low, age(d.tap_newer), age(d.tap_older)});
      if (PITCH.gain_1 != 0.0f) high = std::max({high, age(d.tap_newer), age(d.tap_older)});
      if (PITCH.gain_2 != 0.0f) low = std::min({low, age(PITCH.tap_newer_2), age(PITCH.tap_older_2)});
      if (PITCH.gain_2 != 0.0f) high = std::max({high, age(PITCH.tap_newer_2), age(PITCH.tap_older_2)});
      pitch_shift_process(0);
    }
    EXPECT_EQ(low, shortest[i]) << "code " << i + 11;
    EXPECT_EQ(high, longest[i]) << "code " << i + 11;
  }
}

TEST(PitchShift, CrossFadeFollowsSineAndCosine) {
  pitch_shift_setup(2);
  const DelayLineState& d = DELAY_LINE;
  for (int n = 0; n <= 641; n++) {
    // The gains this sample sounds with are those standing at its start.
    if (n == 448) { EXPECT_EQ(PITCH.gain_1, 1.0f); EXPECT_EQ(PITCH.gain_2, 0.0f); }
    if (n == 449) { EXPECT_EQ(PITCH.gain_1, 0.99996656f); EXPECT_EQ(PITCH.gain_2, 0.0081811398f); }
    if (n == 639) { EXPECT_EQ(PITCH.gain_1, 0.0081811398f); EXPECT_EQ(PITCH.gain_2, 0.99996656f); }
    if (n >= 640) { EXPECT_EQ(PITCH.gain_1, 0.0f); EXPECT_EQ(PITCH.gain_2, 1.0f); }
    pitch_shift_process(0);
    if (n == 447) {
      EXPECT_EQ(PITCH.fade_count, FADE_LENGTH);
      EXPECT_EQ(PITCH.pair_one_leads, 0);
    }
  }
}

TEST(PitchShift, FallingPairStandsOnEachBorrow) {
  pitch_shift_setup(0);
  const DelayLineState& d = DELAY_LINE;
  const uint32_t fraction[8] = {0, 42599, 19662, 62261, 39324, 16387, 58986, 36049};
  const int32_t newer[8] = {798, 798, 799, 799, 0, 1, 1, 2};
  const int32_t older[8] = {798, 798, 798, 798, 799, 0, 0, 1};
  const int32_t countdown[8] = {465, 464, 464, 463, 463, 463, 462, 462};
  for (int n = 0; n < 8; n++) {
    EXPECT_EQ(d.phase, fraction[n]) << "sample " << n;
    EXPECT_EQ(d.tap_newer, newer[n]) << "sample " << n;
    EXPECT_EQ(d.tap_older, older[n]) << "sample " << n;
    EXPECT_EQ(PITCH.jump_countdown, countdown[n]) << "sample " << n;
    pitch_shift_process(0);
  }
  EXPECT_EQ(d.tap_newer, 3);
}

TEST(PitchShift, ImpulseResponses) {
  expect_only(impulse_response(pitch_shift_setup, pitch_shift_process, 1, 3000), {{447, 1411}});
  expect_only(impulse_response(pitch_shift_setup, pitch_shift_process, 0, 3000),
              {{4, 720}, {5, 899}, {6, 119}});
}

}  // namespace

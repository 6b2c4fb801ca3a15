// SPDX-License-Identifier: MIT
// Room reverberator: derived gains, impulse timing through taps, combs and all-pass, and rounding.
#include <gtest/gtest.h>
#include <stdint.h>

#include <vector>

#include "effects/room_reverb.h"
#include "tests/effect_records.h"

namespace {

// Output for an input of `first` at sample 0 and zeros after.
std::vector<int32_t> impulse_response(int index, int32_t first, int samples) {
  room_reverb_setup(index);
  std::vector<int32_t> out;
  for (int n = 0; n < samples; n++) out.push_back(room_reverb_process(n == 0 ? first : 0));
  return out;
}

int first_nonzero(const std::vector<int32_t>& out) {
  for (size_t n = 0; n < out.size(); n++)
    if (out[n] != 0) return (int)n;
  return -1;
}

TEST(RoomReverb, SetupDerivesFeedbackGainsForEveryRoom) {
  const int32_t gains[4][REVERB_COMBS] = {
      {-17266, -17216, -17166, -17116, -17066, -17016},
      {-18928, -18872, -18817, -18762, -18707, -18651},
      {-21576, -21496, -21416, -21336, -21257, -21177},
      {-23616, -23518, -23420, -23321, -23223, -23125},
  };
  for (int index = 0; index < 4; index++) {
    room_reverb_setup(index);
    for (int k = 0; k < REVERB_COMBS; k++)
      EXPECT_EQ(ROOM_REVERB.comb_gain[k], gains[index][k]) << "code " << index + 1 << " comb " << k + 1;
  }
}

TEST(RoomReverb, FirstOutputOfAnImpulseForEveryRoom) {
  const int at[4] = {1355, 1493, 1673, 1841};
  const int32_t value[4] = {24, 34, 93, 119};
  for (int index = 0; index < 4; index++) {
    std::vector<int32_t> out = impulse_response(index, 8191, 2100);
    EXPECT_EQ(first_nonzero(out), at[index]) << "code " << index + 1;
    EXPECT_EQ(out[at[index]], value[index]) << "code " << index + 1;
  }
}

// Until comb 1 first reads back (sample 1,355) it stores just (6656 * E) >> 15, so its writes show
// when each of taps 1 to 7 sees the impulse: (sum of spacings) - 1 samples late.
TEST(RoomReverb, TapsReachTheImpulseAtTheirDelays) {
  room_reverb_setup(0);
  std::vector<int> fed;
  for (int n = 0; n < 1355; n++) {
    int32_t q = ROOM_REVERB.comb_position[0];
    room_reverb_process(n == 0 ? 8191 : 0);
    if (ROOM_REVERB.comb_line[0][q] != 0) fed.push_back(n);
    if (n == 238) {
      EXPECT_EQ(q, 879);  // the comb position counts down: 0, 1116, 1115, ...
      EXPECT_EQ(ROOM_REVERB.comb_line[0][q], 259);  // E = 1279
    }
    if (n == 309) {
      EXPECT_EQ(ROOM_REVERB.comb_line[0][q], 246);  // E = (4864 * 8191) >> 15 = 1215
    }
  }
  EXPECT_EQ(fed, (std::vector<int>{238, 309, 412, 539, 652, 809, 982}));
}

// Tap 0 reads the slot the next input overwrites: the impulse comes back 4,095 samples later with
// weight 5632, E = 1407, adding (6656 * 1407) / 32768 = 285.8 to what comb 1 stores.
TEST(RoomReverb, TapZeroFeedsTheImpulseAgainAfter4095Samples) {
  room_reverb_setup(0);
  for (int n = 0; n <= 4096; n++) {
    int32_t q = ROOM_REVERB.comb_position[0];
    room_reverb_process(n == 0 ? 8191 : 0);
    int32_t added = ROOM_REVERB.comb_line[0][q] - ROOM_REVERB.lowpass[0];
    if (n == 4095) {
      EXPECT_TRUE(added == 285 || added == 286) << added;
    } else if (n > 982) {
      ASSERT_EQ(added, 0) << "sample " << n;
    }
  }
}

TEST(RoomReverb, ProductsRoundTowardMinusInfinity) {
  // -8191: E = -1280, comb 1 stores -260, the all-pass returns (-260 * 3072) >> 15 = -25, not -24.
  std::vector<int32_t> out = impulse_response(0, -8191, 1400);
  EXPECT_EQ(first_nonzero(out), 1355);
  EXPECT_EQ(out[1355], -25);
  // -1 stays -1 through every shift.
  out = impulse_response(0, -1, 1400);
  EXPECT_EQ(first_nonzero(out), 1355);
  EXPECT_EQ(out[1355], -1);
}

TEST(RoomReverb, SetupEmptiesEveryMemory) {
  room_reverb_setup(3);
  uint32_t noise = 1;
  for (int n = 0; n < 20000; n++) {
    noise = noise * 1103515245u + 12345u;
    room_reverb_process((int32_t)(noise >> 16) % 8192);
  }
  for (int index = 0; index < 4; index++) {
    room_reverb_setup(index);
    for (int n = 0; n < 10000; n++) ASSERT_EQ(room_reverb_process(0), 0) << "code " << index + 1;
  }
}

// Values far outside what the stage passes must wrap like 32-bit registers, not overflow
// (UndefinedBehaviorSanitizer would stop here).
TEST(RoomReverb, ExtremeInputWrapsWithoutOverflow) {
  room_reverb_setup(3);
  for (int n = 0; n < 12000; n++) room_reverb_process(n % 3 ? INT32_MAX : INT32_MIN);
  EXPECT_EQ(ROOM_REVERB.allpass_position, 12000 % 63);  // counts up: 0, 1, ..., 62, 0
}

}  // namespace

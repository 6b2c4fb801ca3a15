// SPDX-License-Identifier: MIT
#include "effects/room_reverb.h"

#include <string.h>

const ReverbPreset REVERB_PRESETS[REVERB_PRESET_COUNT] = {
    {{239, 71, 103, 127, 113, 157, 173}, 6656, -24832, 9984, 66,
     {1117, 1193, 1283, 1327, 1409, 1499}, 63, 3072},
    {{263, 73, 113, 149, 127, 179, 193}, 7168, -26624, 9472, 68,
     {1231, 1319, 1447, 1499, 1571, 1693}, 63, 4096},
    {{293, 89, 131, 157, 139, 197, 211}, 7680, -29696, 8960, 88,
     {1381, 1471, 1559, 1653, 1733, 1823}, 63, 10240},
    {{331, 97, 147, 179, 163, 223, 239}, 8192, -31488, 8192, 102,
     {1511, 1657, 1741, 1847, 1931, 2029}, 63, 12288},
};

// Early-reflection weights of taps 0 to 7, the same for every room.
static const int32_t TAP_WEIGHTS[REVERB_TAPS] = {5632, 5120, 4864, 4352, 4608, 4096, 1536, 1664};

// The arithmetic is defined as 32-bit two's complement. Sums and products are formed in 64 bits
// and reduced modulo 2^32 here, so that contrived input wraps as the 32-bit form would instead of
// overflowing a signed int. The 64-bit forms themselves cannot overflow: every operand is a 32-bit
// value and every weight and coefficient of the presets is below 2^15 in magnitude.
static inline int32_t wrap32(int64_t value) { return (int32_t)(uint32_t)(uint64_t)value; }

static inline int32_t q15(int64_t value) { return wrap32(value) >> 15; }

void room_reverb_setup(RoomReverb* reverb, int index) {
  RoomReverb& r = *reverb;
  memset(&r, 0, sizeof r);
  r.preset = REVERB_PRESETS[index];
  for (int k = 0; k < REVERB_COMBS; k++) {
    // 32767, not 32768: the gains are one unit below what a full-scale constant would give.
    int64_t keep = 32767 - r.preset.damping - (int64_t)k * r.preset.damping_step;
    r.comb_gain[k] = q15(keep * r.preset.comb_feedback);
  }
}

int32_t room_reverb_process(RoomReverb* reverb, int32_t v) {
  RoomReverb& r = *reverb;
  const ReverbPreset& p = r.preset;

  r.tap_line[r.tap_position] = v;
  r.tap_position = r.tap_position == 0 ? REVERB_TAP_LINE - 1 : r.tap_position - 1;

  // Tap 0 reads the slot the next input will overwrite: the oldest value in the line.
  int32_t tap = r.tap_position;
  int64_t early = (int64_t)TAP_WEIGHTS[0] * r.tap_line[tap];
  for (int j = 1; j < REVERB_TAPS; j++) {
    tap += p.tap_spacing[j - 1];
    if (tap >= REVERB_TAP_LINE) tap -= REVERB_TAP_LINE;
    early += (int64_t)TAP_WEIGHTS[j] * r.tap_line[tap];
  }
  int32_t e = q15(early);

  int64_t u = 0;
  for (int k = 0; k < REVERB_COMBS; k++) {
    int32_t& q = r.comb_position[k];
    int32_t y = r.comb_line[k][q];
    int32_t t = wrap32((int64_t)r.comb_gain[k] * y + (int64_t)p.damping * r.lowpass[k]);
    r.lowpass[k] = t >> 15;
    // The comb stores the unshifted feedback plus the input, shifted once.
    r.comb_line[k][q] = q15((int64_t)t + (int64_t)p.comb_input_gain * e);
    q = q == 0 ? p.comb_length[k] - 1 : q - 1;
    u += y;
  }

  // One-multiplication all-pass: (g + z^-L) / (1 + g z^-L).
  int32_t& a = r.allpass_position;
  int32_t delayed = r.allpass_line[a];
  int32_t s = q15((u - delayed) * p.allpass_coefficient);
  r.allpass_line[a] = wrap32(u + s);
  a = a + 1 == p.allpass_length ? 0 : a + 1;
  return wrap32((int64_t)delayed + s);
}

// SPDX-License-Identifier: MIT
#include "effects/pitch_shift.h"

#include <math.h>

void pitch_shift_setup(DelayLineState* line, PitchShifter* shifter, int index) {
  DelayLineState& d = *line;
  PitchShifter& p = *shifter;
  delay_line_load(line, PITCH_SHIFT_PRESETS[index]);
  // 65,535, not 65,536: a rate of 1 leaves the fraction one short of a carry on the first sample.
  d.increment = (int32_t)((double)d.preset.rate * 65535.0);
  p.rising = d.preset.rate > 0.0f ? 1 : 0;
  // Shortened by the drift of one cross-fade, so a rising pair ends its fade near the window's end.
  p.jump_interval = d.span_samples - (int32_t)((double)d.preset.rate * 192.0) - 2;
  if (d.lower_bound < 0) return;  // a record too short for a window; none of the presets

  const double step = 3.141592654 / 384.0;
  for (int i = 0; i < FADE_LENGTH; i++) {
    p.fade_cosine[i] = (float)cos(i * step);
    p.fade_sine[i] = (float)sin(i * step);
  }
  p.fade_count = 0;
  p.tap_older_2 = p.tap_newer_2 = 0;
  d.write_index = 0;
  d.phase = 0;
  // Pair 1 starts at the far end of the window when rising, at the near end when falling.
  d.tap_older = d.tap_newer = p.rising ? d.lower_bound : d.upper_bound;
  p.jump_countdown = p.jump_interval;
  p.gain_1 = 1.0f;
  p.gain_2 = 0.0f;
  p.gain_1_sine = 1;
  p.pair_one_leads = 1;
}

// The older tap takes the newer tap's slot and the newer tap moves on by one.
static void advance_pairs(DelayLineState& d, PitchShifter& p) {
  d.tap_older = d.tap_newer;
  d.tap_newer = (d.tap_newer + 1) % d.length;
  p.tap_older_2 = p.tap_newer_2;
  p.tap_newer_2 = (p.tap_newer_2 + 1) % d.length;
}

int32_t pitch_shift_process(DelayLineState* line, PitchShifter* shifter, int32_t x) {
  DelayLineState& d = *line;
  PitchShifter& p = *shifter;
  if (d.length < 1) return 0;  // only after a failed set-up, which no preset causes
  double f = (double)(d.phase & 0xFFFFu);
  double g = 65536.0 - f;
  double y = ((double)p.gain_1 * (g * d.line[d.tap_older] + f * d.line[d.tap_newer]) +
              (double)p.gain_2 * (g * d.line[p.tap_older_2] + f * d.line[p.tap_newer_2])) /
             65536.0;
  d.line[d.write_index] = (float)(y * d.preset.feedback + x);
  d.wet = (float)(y * d.preset.wet_gain);
  // Gains change after this sample's read: a jump's fade is first heard two samples later.
  if (p.fade_count > 0) {
    p.fade_count--;
    p.gain_1 = p.gain_1_sine ? p.fade_sine[p.fade_count] : p.fade_cosine[p.fade_count];
    p.gain_2 = p.gain_1_sine ? p.fade_cosine[p.fade_count] : p.fade_sine[p.fade_count];
  }
  d.write_index = (d.write_index + 1) % d.length;

  // Rising pairs move one slot a sample and one more on a carry; falling pairs stand on a borrow.
  d.phase += (uint32_t)d.increment;
  bool overflowed = (d.phase >> 16) != 0;
  if (p.rising || !overflowed) advance_pairs(d, p);
  if (!overflowed) return (int32_t)d.wet;
  if (p.rising) advance_pairs(d, p);
  d.phase &= 0xFFFFu;

  // A jump on every (jump_interval + 1)-th carry or borrow.
  if (p.jump_countdown != 0) {
    p.jump_countdown--;
    return (int32_t)d.wet;
  }
  p.jump_countdown = p.jump_interval;
  p.fade_count = FADE_LENGTH;
  int32_t target = (d.write_index + (p.rising ? d.lower_bound : d.upper_bound)) % d.length;
  // Only the incoming pair's newer tap is placed; its older tap catches up on its next advance.
  if (p.pair_one_leads) {
    p.pair_one_leads = 0;
    p.tap_newer_2 = target;
    p.gain_1_sine = 1;
  } else {
    p.pair_one_leads = 1;
    d.tap_newer = target;
    p.gain_1_sine = 0;
  }
  return (int32_t)d.wet;
}

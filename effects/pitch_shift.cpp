#include "effects/pitch_shift.h"

#include <math.h>

float FADE_SINE[FADE_LENGTH];
float FADE_COSINE[FADE_LENGTH];

void pitch_shift_setup(int index) {
  DelayLineState& d = DELAY_LINE;
  delay_line_load(PITCH_SHIFT_PRESETS[index]);
  // 65,535, not 65,536: a rate of 1 leaves the fraction one short of a carry on the first sample.
  d.increment = (int32_t)((double)d.preset.rate * 65535.0);
  d.rising = d.preset.rate > 0.0f ? 1 : 0;
  // Shortened by the drift of one cross-fade, so a rising pair ends its fade near the window's end.
  d.jump_interval = d.span_samples - (int32_t)((double)d.preset.rate * 192.0) - 2;
  if (d.lower_bound < 0) return;  // a record too short for a window; none of the presets

  const double step = 3.141592654 / 384.0;
  for (int i = 0; i < FADE_LENGTH; i++) {
    FADE_COSINE[i] = (float)cos(i * step);
    FADE_SINE[i] = (float)sin(i * step);
  }
  d.fade_count = 0;
  d.tap_older_2 = d.tap_newer_2 = 0;
  d.write_index = 0;
  d.phase = 0;
  // Pair 1 starts at the far end of the window when rising, at the near end when falling.
  d.tap_older = d.tap_newer = d.rising ? d.lower_bound : d.upper_bound;
  d.jump_countdown = d.jump_interval;
  d.gain_1 = 1.0f;
  d.gain_2 = 0.0f;
  d.curve_1 = FADE_SINE;
  d.curve_2 = FADE_COSINE;
  d.pair_one_leads = 1;
}

// The older tap takes the newer tap's slot and the newer tap moves on by one.
static void advance_pairs(DelayLineState& d) {
  d.tap_older = d.tap_newer;
  d.tap_newer = (d.tap_newer + 1) % d.length;
  d.tap_older_2 = d.tap_newer_2;
  d.tap_newer_2 = (d.tap_newer_2 + 1) % d.length;
}

int32_t pitch_shift_process(int32_t x) {
  DelayLineState& d = DELAY_LINE;
  if (d.length < 1) return 0;  // only after a failed set-up, which no preset causes
  double f = (double)(d.phase & 0xFFFFu);
  double g = 65536.0 - f;
  double y = ((double)d.gain_1 * (g * d.line[d.tap_older] + f * d.line[d.tap_newer]) +
              (double)d.gain_2 * (g * d.line[d.tap_older_2] + f * d.line[d.tap_newer_2])) /
             65536.0;
  d.line[d.write_index] = (float)(y * d.preset.feedback + x);
  d.wet = (float)(y * d.preset.wet_gain);
  // Gains change after this sample's read: a jump's fade is first heard two samples later.
  if (d.fade_count > 0) {
    d.fade_count--;
    d.gain_1 = d.curve_1[d.fade_count];
    d.gain_2 = d.curve_2[d.fade_count];
  }
  d.write_index = (d.write_index + 1) % d.length;

  // Rising pairs move one slot a sample and one more on a carry; falling pairs stand on a borrow.
  d.phase += (uint32_t)d.increment;
  bool overflowed = (d.phase >> 16) != 0;
  if (d.rising || !overflowed) advance_pairs(d);
  if (!overflowed) return (int32_t)d.wet;
  if (d.rising) advance_pairs(d);
  d.phase &= 0xFFFFu;

  // A jump on every (jump_interval + 1)-th carry or borrow.
  if (d.jump_countdown != 0) {
    d.jump_countdown--;
    return (int32_t)d.wet;
  }
  d.jump_countdown = d.jump_interval;
  d.fade_count = FADE_LENGTH;
  int32_t target = (d.write_index + (d.rising ? d.lower_bound : d.upper_bound)) % d.length;
  // Only the incoming pair's newer tap is placed; its older tap catches up on its next advance.
  if (d.pair_one_leads) {
    d.pair_one_leads = 0;
    d.tap_newer_2 = target;
    d.curve_1 = FADE_SINE;
    d.curve_2 = FADE_COSINE;
  } else {
    d.pair_one_leads = 1;
    d.tap_newer = target;
    d.curve_1 = FADE_COSINE;
    d.curve_2 = FADE_SINE;
  }
  return (int32_t)d.wet;
}

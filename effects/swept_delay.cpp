// SPDX-License-Identifier: MIT
#include "effects/swept_delay.h"

void swept_delay_setup(DelayLineState* line, int index) {
  DelayLineState& d = *line;
  delay_line_load(line, SWEPT_DELAY_PRESETS[index]);
  // One unit of increment moves the read point by 1/65,536 sample per sample.
  d.increment = (int32_t)((double)d.preset.rate * (double)65.536f);
  if (d.lower_bound < 0) return;  // a record too short to sweep; none of the presets
  // Start in the middle of the sweep, moving toward the upper bound (shorter delay).
  d.phase = (uint32_t)((d.lower_bound + d.upper_bound) / 2) << 16;
  d.tap_older = 0;
  d.tap_newer = 0;
  d.write_index = 0;
}

int32_t swept_delay_process(DelayLineState* line, int32_t x) {
  DelayLineState& d = *line;
  if (d.length < 1) return 0;  // only after a failed set-up, which no preset causes
  uint32_t f = d.phase & 0xFFFFu;
  d.phase += (uint32_t)d.increment;
  double y = ((double)(65536u - f) * d.line[d.tap_older] + (double)f * d.line[d.tap_newer]) / 65536.0;
  d.line[d.write_index] = (float)(y * d.preset.feedback + x);
  d.wet = (float)(y * d.preset.wet_gain);
  d.write_index = (d.write_index + 1) % d.length;

  uint32_t o = d.phase >> 16;
  d.tap_newer = (int32_t)(((uint32_t)d.write_index + o) % (uint32_t)d.length);
  d.tap_older = d.tap_newer == 0 ? d.length - 1 : d.tap_newer - 1;
  // Tested after the move, so the offset runs one past each bound before turning.
  if ((int64_t)o > d.upper_bound || (int64_t)o < d.lower_bound) d.increment = -d.increment;
  return (int32_t)d.wet;
}

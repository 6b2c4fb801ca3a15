#include "effects/swept_delay.h"

// Rate means thousandths of a sample per sample for the swept delays, and the pitch change less
// one for the pitch shifts.
const DelayPreset DELAY_PRESETS[DELAY_PRESET_COUNT] = {
    // wet_gain, feedback, rate, span_ms, base_ms
    {1.3f, 0.7f, 0.0f, 0.0f, 250.0f},    //  5 echo
    {1.8f, 0.0f, 2.0f, 6.0f, 0.0f},      //  6 flanger
    {-1.8f, -0.7f, 2.0f, 6.0f, 0.0f},    //  7 inverted flanger
    {2.0f, 0.0f, 11.0f, 20.0f, 20.0f},   //  8 chorus
    {0.8f, 0.75f, 0.0f, 0.0f, 12.5f},    //  9 resonator
    {1.85f, 0.3f, 150.0f, 40.0f, 40.0f}, // 10 warble
    {1.2f, 0.0f, -0.35f, 25.0f, 0.0f},   // 11 pitch down
    {1.7f, 0.0f, 0.2599f, 35.0f, 0.0f},  // 12 up a major third
    {1.5f, 0.0f, 1.0f, 40.0f, 0.0f},     // 13 up an octave
    {1.0f, 0.4f, 0.3348f, 35.0f, 0.0f},  // 14 climbing fourths
    {1.1f, 0.5f, -0.2f, 35.0f, 120.0f},  // 15 falling echoes
    {1.0f, 0.4f, 0.2599f, 35.0f, 120.0f} // 16 rising echoes
};

DelayLineState DELAY_LINE;

void swept_delay_setup(int index) {
  DelayLineState& d = DELAY_LINE;
  d.preset = SWEPT_DELAY_PRESETS[index];
  // One unit of increment moves the read point by 1/65,536 sample per sample.
  d.increment = (int32_t)((double)d.preset.rate * (double)65.536f);
  d.span_samples = (int32_t)((double)d.preset.span_ms * 16.0);
  d.base_samples = (int32_t)((double)d.preset.base_ms * 16.0);
  d.length = 2 * (d.span_samples + d.base_samples);
  for (int32_t i = 0; i < d.length; i++) d.line[i] = 0.0f;
  d.upper_bound = d.length - d.base_samples - 2;
  d.lower_bound = d.upper_bound - d.span_samples;
  if (d.lower_bound < 0) return;  // a record too short to sweep; none of the presets
  // Start in the middle of the sweep, moving toward the upper bound (shorter delay).
  d.phase = (uint32_t)((d.lower_bound + d.upper_bound) / 2) << 16;
  d.tap_older = 0;
  d.tap_newer = 0;
  d.write_index = 0;
}

int32_t swept_delay_process(int32_t x) {
  DelayLineState& d = DELAY_LINE;
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

// SPDX-License-Identifier: MIT
// The delay line shared by the swept delay and the pitch shifter: presets and layout.
#include "effects/delay_line.h"

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

void delay_line_load(DelayLineState* line, const DelayPreset& preset) {
  DelayLineState& d = *line;
  d.preset = preset;
  d.span_samples = (int32_t)((double)preset.span_ms * 16.0);
  d.base_samples = (int32_t)((double)preset.base_ms * 16.0);
  d.length = 2 * (d.span_samples + d.base_samples);
  for (int32_t i = 0; i < d.length; i++) d.line[i] = 0.0f;
  d.upper_bound = d.length - d.base_samples - 2;
  d.lower_bound = d.upper_bound - d.span_samples;
}

// Sampling-rate conversion of a mono stream to the carrier's 16 kHz, by libsoxr at high quality
// (linear phase, so the voice is not shifted in time). A stream already at 16 kHz passes
// unchanged.
#pragma once
#include <stddef.h>

#include <vector>

struct soxr;

class Resampler {
 public:
  // Throws ToolError when libsoxr refuses the rates.
  Resampler(double in_rate, double out_rate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts n input samples; appends what comes out to out.
  void process(const float* in, size_t n, std::vector<float>& out);
  // Appends what the filter still holds once the input has ended.
  void flush(std::vector<float>& out);

 private:
  void drain(const float* in, size_t n, std::vector<float>& out);
  soxr* soxr_ = nullptr;  // null when the rates are equal
  double ratio_;
};

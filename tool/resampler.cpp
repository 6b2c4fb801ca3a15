// Resampling over libsoxr.
#include "tool/resampler.h"

#include <soxr.h>

#include "tool/cli.h"

Resampler::Resampler(double in_rate, double out_rate) : ratio_(out_rate / in_rate) {
  if (in_rate == out_rate) return;
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_ = soxr_create(in_rate, out_rate, 1, &error, &io, &quality, nullptr);
  if (!soxr_ || error) throw ToolError(EXIT_PROCESSING, std::string("resampler: ") + (error ? error : "cannot start"));
}

Resampler::~Resampler() {
  if (soxr_) soxr_delete(soxr_);
}

void Resampler::process(const float* in, size_t n, std::vector<float>& out) {
  if (!soxr_) {
    out.insert(out.end(), in, in + n);
    return;
  }
  if (n > 0) drain(in, n, out);
}

void Resampler::flush(std::vector<float>& out) {
  if (soxr_) drain(nullptr, 0, out);
}

// Runs the converter until it has taken all n samples (or, for a null input, given all it holds).
void Resampler::drain(const float* in, size_t n, std::vector<float>& out) {
  const size_t room = (size_t)((double)n * ratio_) + 1024;
  do {
    size_t taken = 0, given = 0;
    size_t at = out.size();
    out.resize(at + room);
    soxr_error_t error = soxr_process(soxr_, in, n, in ? &taken : nullptr, out.data() + at, room, &given);
    out.resize(at + given);
    if (error) throw ToolError(EXIT_PROCESSING, std::string("resampler: ") + error);
    if (in) {
      in += taken;
      n -= taken;
      if (n == 0) return;
    } else if (given == 0) {
      return;
    }
  } while (true);
}

// Resampling over libsoxr.
#include "tool/resampler.h"

#include <soxr.h>
#include <string.h>

int resampler_start(Resampler* r, double in_rate, double out_rate) {
  r->converter = nullptr;
  r->why = nullptr;
  if (in_rate == out_rate) return 1;
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  r->converter = soxr_create(in_rate, out_rate, 1, &error, &io, &quality, nullptr);
  if (r->converter && !error) return 1;
  r->why = error ? error : "cannot start";
  resampler_end(r);
  return 0;
}

int resampler_run(Resampler* r, const float* in, size_t n, size_t* taken, float* out, size_t room, size_t* given) {
  *taken = *given = 0;
  if (!r->converter) {
    size_t count = in ? (n < room ? n : room) : 0;
    if (count) memcpy(out, in, count * sizeof *out);
    *taken = *given = count;
    return 1;
  }
  soxr_error_t error = soxr_process(r->converter, in, in ? n : 0, in ? taken : nullptr, out, room, given);
  if (!error) return 1;
  r->why = error;
  return 0;
}

void resampler_end(Resampler* r) {
  if (r->converter) soxr_delete(r->converter);
  r->converter = nullptr;
}

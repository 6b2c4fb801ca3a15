// Sampling-rate conversion of a mono stream to the carrier's 16 kHz, by libsoxr at high quality
// (linear phase, so the voice is not shifted in time). A stream already at 16 kHz passes
// unchanged.
//
// Plain procedures over a record, failure as a return value: the output comes in pieces of a
// size the caller chooses, so nothing grows with the ratio of the rates (a recording at 1 Hz
// gives 16,000 samples for each one it holds).
#pragma once
#include <stddef.h>

struct soxr;

struct Resampler {
  soxr* converter;  // null when the rates are equal
  const char* why;  // what failed, when a call returned 0
};

// Sets the record up for in_rate to out_rate. Returns 1, or 0 when libsoxr refuses the rates.
int resampler_start(Resampler* r, double in_rate, double out_rate);

// Takes up to n samples of in (in null: the input has ended, give what the filter holds) and
// gives up to room samples into out; taken and given say how many. Returns 1, 0 on failure.
// After the end, a call that gives none has given the last.
int resampler_run(Resampler* r, const float* in, size_t n, size_t* taken, float* out, size_t room, size_t* given);

void resampler_end(Resampler* r);

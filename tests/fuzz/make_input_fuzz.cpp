// Fuzzer of make's input path: the input is the bytes of a recording, read by libsndfile as a
// file (tool/sound_input.h) and run through make's pipeline (tool/make_pipeline.h) to the
// finished frames. Recordings longer than a few seconds of voice are cut there, to keep each run
// short.
//
// Invariants:
// - a recording is read no further than it declares;
// - whatever the samples (NaN, infinities, any size), what goes on to the resampler and the
//   encoder is finite and within full scale, and no more samples are made silent or clipped
//   than were read;
// - the voice is as long as the input at 16 kHz, to a sample;
// - a finished job is whole blocks of the accepted frames, its voice mark reads back.
#include <math.h>

#include <algorithm>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tool/cli.h"
#include "tool/make_pipeline.h"
#include "tool/sound_input.h"
#include "tool/voice_mark.h"

namespace {

const int64_t VOICE_CUT = 4 * MAKE_VOICE_RATE;  // the voice made from one input, at most

bool within_full_scale(const float* samples, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (!(samples[i] >= -1.0f && samples[i] <= 1.0f)) return false;
  return true;
}

MakeJob job;

// Reads the recording into the job, up to VOICE_CUT samples of voice.
void feed(SoundInput& input, std::vector<float>& chunk, int64_t* read) {
  MakeStatus status = MAKE_OK;
  while (status == MAKE_OK && job.voice_samples < VOICE_CUT) {
    // Few frames at a time at a low rate: each makes many samples at 16 kHz.
    size_t want = (size_t)std::max<int64_t>(
        1, std::min<int64_t>(4096, (VOICE_CUT - job.voice_samples) * input.rate() / MAKE_VOICE_RATE));
    size_t n = input.read(chunk.data(), want);
    if (n == 0) break;
    *read += (int64_t)n;
    FUZZ_CHECK(input.frames() < 0 || *read <= input.frames(), "a recording is read no further than it declares");
    status = make_feed(&job, chunk.data(), n);
    FUZZ_CHECK(status == MAKE_OK, job.why);
    const size_t last = (size_t)((n - 1) % MAKE_PIECE) + 1;
    FUZZ_CHECK(within_full_scale(job.mono, last), "the resampler is given samples within full scale");
    FUZZ_CHECK(job.not_numbers + job.clipped <= *read * input.channels(), "no more samples mended than read");
  }
}

void run(SoundInput& input) {
  MakeSettings settings = {(double)input.rate(), input.channels(), 32, input.frames()};
  MakeStatus status = make_start(&job, &settings);
  if (status != MAKE_OK) {
    // A declared length beyond the voice mark, or rates libsoxr does not take.
    FUZZ_CHECK(status == MAKE_TOO_LONG || status == MAKE_RESAMPLER_FAILED, job.why);
    make_end(&job);
    return;
  }
  std::vector<float> chunk((size_t)4096 * (size_t)input.channels());
  int64_t read = 0;
  try {
    feed(input, chunk, &read);
  } catch (const ToolError&) {
    make_end(&job);  // a read that fails half-way: the job goes as any other
    throw;
  }
  status = make_finish(&job);
  if (read == 0) FUZZ_CHECK(status == MAKE_NO_SAMPLES, "no samples read, none made");
  if (status == MAKE_OK) {
    const double expected = (double)job.frames_in * MAKE_VOICE_RATE / input.rate();
    FUZZ_CHECK(fabs((double)job.voice_samples - expected) <= 1.0, "the voice is the input's length at 16 kHz");
    FUZZ_CHECK(job.encoder.bytes == (size_t)(job.blocks * FRAMES_PER_BLOCK * FRAME_STEP[job.encoder.format]),
               "whole blocks of frames");
    PayloadHeader header;
    make_header(&job, 5, 63, &header);
    FUZZ_CHECK(voice_mark_read(header) == (uint32_t)job.voice_samples, "the voice mark reads back");
  } else {
    FUZZ_CHECK(status == MAKE_TOO_SHORT || status == MAKE_NO_SAMPLES, job.why);
  }
  make_end(&job);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  const std::string& path = file.hold(data, size);
  try {
    SoundInput input(path);
    run(input);
  } catch (const ToolError&) {
    // Refused with its error line: not a recording, no samples, unreadable. That is an answer.
  }
  return 0;
}

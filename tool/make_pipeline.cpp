// make's pipeline over libsoxr and libmp3lame.
#include "tool/make_pipeline.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tool/voice_mark.h"

namespace {

MakeStatus make_fail(MakeJob* job, MakeStatus status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(job->why, sizeof job->why, format, args);
  va_end(args);
  return status;
}

// "H:MM:SS" of a voice of the given length at 16 kHz.
void voice_clock(char* out, size_t size, double samples) {
  long long s = (long long)(samples / MAKE_VOICE_RATE);
  snprintf(out, size, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
}

// A voice of the given length (negative: a stream that ran past the bound) is too long.
MakeStatus make_too_long(MakeJob* job, double samples) {
  const char* why = "its voice mark counts samples at 16 kHz in 32 bits";
  char longest[32], wanted[32];
  voice_clock(longest, sizeof longest, (double)MAKE_VOICE_SAMPLES_MAX);
  if (samples < 0)
    return make_fail(job, MAKE_TOO_LONG, "too long: more than the %s of voice a carrier holds at most (%s)", longest,
                     why);
  voice_clock(wanted, sizeof wanted, samples);
  return make_fail(job, MAKE_TOO_LONG, "too long: %s of voice, and a carrier holds at most %s (%s)", wanted, longest,
                   why);
}

float make_condition(MakeJob* job, float x) {
  if (isnan(x)) {
    job->not_numbers++;
    return 0.0f;
  }
  if (x > 1.0f || x < -1.0f) {
    job->clipped++;
    return x > 0 ? 1.0f : -1.0f;
  }
  return x;
}

// Encodes the n samples of job->voice. The resampler's filter may overshoot full scale a little:
// it is clipped there too, uncounted.
MakeStatus make_encode_voice(MakeJob* job, size_t n) {
  if (job->voice_samples + (int64_t)n > MAKE_VOICE_SAMPLES_MAX) return make_too_long(job, -1);
  for (size_t i = 0; i < n; i++) job->voice[i] = fminf(1.0f, fmaxf(-1.0f, job->voice[i]));
  if (!mpeg_encoder_encode(&job->encoder, job->voice, n))
    return make_fail(job, MAKE_ENCODER_FAILED, "encoder: %s", job->encoder.why);
  job->voice_samples += (int64_t)n;
  return MAKE_OK;
}

// Resamples n samples (in null: what the filter still holds) and encodes what comes out, a piece
// at a time.
MakeStatus make_resample(MakeJob* job, const float* in, size_t n) {
  for (;;) {
    size_t taken = 0, given = 0;
    if (!resampler_run(&job->resampler, in, n, &taken, job->voice, MAKE_PIECE, &given))
      return make_fail(job, MAKE_RESAMPLER_FAILED, "resampler: %s", job->resampler.why);
    if (in && n > 0 && taken == 0 && given == 0)
      return make_fail(job, MAKE_RESAMPLER_FAILED, "resampler: it takes no input and gives no output");
    if (given > 0) {
      MakeStatus status = make_encode_voice(job, given);
      if (status != MAKE_OK) return status;
    }
    if (in) {
      in += taken;
      n -= taken;
      if (n == 0) return MAKE_OK;
    } else if (given == 0) {
      return MAKE_OK;
    }
  }
}

MakeStatus make_encode_zeros(MakeJob* job, int64_t n) {
  float zeros[MAKE_PIECE] = {0};
  for (; n > 0; n -= MAKE_PIECE) {
    size_t piece = n < MAKE_PIECE ? (size_t)n : (size_t)MAKE_PIECE;
    if (!mpeg_encoder_encode(&job->encoder, zeros, piece))
      return make_fail(job, MAKE_ENCODER_FAILED, "encoder: %s", job->encoder.why);
  }
  return MAKE_OK;
}

}  // namespace

int64_t make_blocks_for(int64_t voice_samples) {
  // The least k with 576 x (10k - 2) >= lead + voice.
  const int64_t total = MAKE_LEAD_SAMPLES + voice_samples;
  return (total + 2 * FRAME_SAMPLES + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
}

MakeStatus make_start(MakeJob* job, const MakeSettings* settings) {
  job->settings = *settings;
  job->resampler = Resampler{};
  job->encoder.lame = nullptr;
  job->encoder.frames = nullptr;
  job->frames_in = job->voice_samples = job->not_numbers = job->clipped = job->blocks = 0;
  job->why[0] = '\0';
  const MakeSettings& s = *settings;
  if (!(s.rate > 0 && isfinite(s.rate)) || s.channels <= 0)
    return make_fail(job, MAKE_BAD_SETTINGS, "declares no sampling rate or no channels");
  if (s.kbps != 32 && s.kbps != 16) return make_fail(job, MAKE_BAD_SETTINGS, "no bit rate of %d kbit/s", s.kbps);
  // Refused before any work: a declared length whose voice the mark cannot count.
  double voice = -1;
  if (s.declared_frames >= 0) {
    voice = (double)s.declared_frames * MAKE_VOICE_RATE / s.rate;
    if (voice > (double)MAKE_VOICE_SAMPLES_MAX + 0.5) return make_too_long(job, voice);
  }
  if (!resampler_start(&job->resampler, s.rate, MAKE_VOICE_RATE))
    return make_fail(job, MAKE_RESAMPLER_FAILED, "resampler: %s", job->resampler.why);
  if (!mpeg_encoder_start(&job->encoder, s.kbps))
    return make_fail(job, MAKE_ENCODER_FAILED, "encoder: %s", job->encoder.why);
  // A length known up front: the frames in one allocation of their final size.
  if (voice >= 0) {
    const int64_t blocks = make_blocks_for((int64_t)voice + 1);
    mpeg_encoder_reserve(&job->encoder, (size_t)(blocks * FRAMES_PER_BLOCK * FRAME_STEP[job->encoder.format]));
  }
  return make_encode_zeros(job, MAKE_LEAD_SAMPLES);
}

MakeStatus make_feed(MakeJob* job, const float* interleaved, size_t frames) {
  const int channels = job->settings.channels;
  while (frames > 0) {
    const size_t n = frames < (size_t)MAKE_PIECE ? frames : (size_t)MAKE_PIECE;
    for (size_t i = 0; i < n; i++) {
      const float* frame = interleaved + i * (size_t)channels;
      if (channels == 1) {
        job->mono[i] = make_condition(job, frame[0]);
        continue;
      }
      double sum = 0;
      for (int c = 0; c < channels; c++) sum += make_condition(job, frame[c]);
      job->mono[i] = (float)(sum / channels);
    }
    interleaved += n * (size_t)channels;
    frames -= n;
    job->frames_in += (int64_t)n;
    MakeStatus status = make_resample(job, job->mono, n);
    if (status != MAKE_OK) return status;
  }
  return MAKE_OK;
}

MakeStatus make_finish(MakeJob* job) {
  MakeStatus status = make_resample(job, nullptr, 0);
  if (status != MAKE_OK) return status;
  if (job->voice_samples == 0 && job->frames_in == 0) return make_fail(job, MAKE_NO_SAMPLES, "holds no samples");
  if (job->voice_samples == 0)
    return make_fail(job, MAKE_TOO_SHORT, "too short: %lld sample%s at %g Hz, less than one sample at 16 kHz",
                     (long long)job->frames_in, job->frames_in == 1 ? "" : "s", job->settings.rate);
  const int64_t blocks = make_blocks_for(job->voice_samples);
  const int64_t padded = FRAME_SAMPLES * (FRAMES_PER_BLOCK * blocks - 2);
  status = make_encode_zeros(job, padded - MAKE_LEAD_SAMPLES - job->voice_samples);
  if (status != MAKE_OK) return status;
  if (!mpeg_encoder_finish(&job->encoder, blocks * FRAMES_PER_BLOCK))
    return make_fail(job, MAKE_ENCODER_FAILED, "encoder: %s", job->encoder.why);
  job->blocks = blocks;
  return MAKE_OK;
}

void make_header(const MakeJob* job, int8_t effect_code, uint8_t level_byte, PayloadHeader* header) {
  memset(header, 0, sizeof *header);
  voice_mark_write(*header, (uint32_t)job->voice_samples);
  header->bytes[10] = (uint8_t)effect_code;
  header->bytes[11] = level_byte;
}

void make_block(const MakeJob* job, int64_t k, uint8_t block[BLOCK_BYTES]) {
  const size_t frame_bytes = (size_t)FRAME_STEP[job->encoder.format] * FRAMES_PER_BLOCK;
  const uint8_t* frames = job->encoder.frames + (size_t)k * frame_bytes;
  memset(block, 0, BLOCK_BYTES);
  for (size_t i = 0; i < frame_bytes; i++) block[i] = frames[i] ^ SCRAMBLE_KEY;
}

void make_end(MakeJob* job) {
  resampler_end(&job->resampler);
  mpeg_encoder_end(&job->encoder);
}

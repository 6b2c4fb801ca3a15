// SPDX-License-Identifier: MIT
// QuiraMaker: a recording to a carrier. The channels are mixed to their mean, resampled to
// 16 kHz by libsoxr (high quality, linear phase, so the voice is not shifted in time) and encoded
// by libmp3lame as MPEG-2 Layer III mono at a constant 32 or 16 kbit/s, no Info tag, no CRC,
// original bit set, so that every frame header is the word the player accepts for its format.
//
// Alignment: the encoder delays its input by 576 samples and the decoder by 529 more, so input
// sample i decodes at sample 1,105 + i. LEAD_SAMPLES zeros before the voice put its first sample
// on the first sample of block 1 (block 0 is the priming block, never heard). N input samples give
// ceil(N / 576) + 2 frames, so padding the input to 576 x (10k - 2) samples gives exactly 10k
// frames: whole blocks, and the voice's end well inside the last one.
//
// Conditioning: a sample that is not a number (NaN) carries no value and becomes silence; one
// beyond full scale, infinity included, is clipped to it, as any converter to fixed point does;
// both are counted. The resampler's filter may overshoot full scale a little: that is clipped
// too, uncounted. The encoder sees finite samples within +-1 only.
//
// Memory: the recording streams through; only the frames (4,000 bytes a second of voice) are
// held, so that every one is checked before any byte of the carrier is handed out. The voice is
// limited to QUIRA_VOICE_SAMPLES_MAX, what the voice mark counts.
#include <lame.h>
#include <math.h>
#include <soxr.h>
#include <stdlib.h>
#include <string.h>

#include "decode/block_decoder.h"
#include "lib/carrier.h"
#include "payload/voice_mark.h"

enum {
  CODEC_DELAY = FRAME_SAMPLES + 529,          // encoder delay + decoder delay
  LEAD_SAMPLES = BLOCK_SAMPLES - CODEC_DELAY,  // 4,655
  MIX_CHUNK = 4096,                            // mono samples mixed per step
  MAX_CHANNELS = 1024
};

struct QuiraMaker {
  int32_t channels;
  int32_t format;                 // block format index of the frames made
  int32_t finished;
  QuiraStatus status;             // the first failure, which every later call returns
  soxr_t resampler;               // null when the input is at 16 kHz already
  lame_global_flags* lame;
  PayloadHeader header;
  int64_t voice_samples;          // 16 kHz samples of voice so far
  int64_t input_frames;
  int64_t not_numbers;
  int64_t clipped;
  uint8_t* frames;                // the stream so far
  int64_t frames_bytes;
  int64_t frames_capacity;
  float mono[MIX_CHUNK];
  float resampled[MIX_CHUNK * 4 + 1024];
  uint8_t encoded[MIX_CHUNK * 5 / 4 * 4 + 7200];
};

static QuiraStatus maker_fail(QuiraMaker* m, QuiraStatus status) {
  if (!m->status) m->status = status;
  return m->status;
}

static QuiraStatus maker_keep(QuiraMaker* m, const uint8_t* bytes, int n) {
  if (m->frames_bytes + n > m->frames_capacity) {
    int64_t capacity = m->frames_capacity ? m->frames_capacity * 2 : 1 << 16;
    while (capacity < m->frames_bytes + n) capacity *= 2;
    uint8_t* grown = (uint8_t*)realloc(m->frames, (size_t)capacity);
    if (!grown) return maker_fail(m, QUIRA_ERR_MEMORY);
    m->frames = grown;
    m->frames_capacity = capacity;
  }
  memcpy(m->frames + m->frames_bytes, bytes, (size_t)n);
  m->frames_bytes += n;
  return QUIRA_OK;
}

// Encodes n samples at 16 kHz (null: n zeros).
static QuiraStatus maker_encode(QuiraMaker* m, const float* samples, int64_t n) {
  static const float ZEROS[MIX_CHUNK] = {0};
  while (n > 0 && !m->status) {
    int count = n < MIX_CHUNK ? (int)n : MIX_CHUNK;
    const float* in = samples ? samples : ZEROS;
    int bytes = lame_encode_buffer_ieee_float(m->lame, in, in, count, m->encoded, (int)sizeof m->encoded);
    if (bytes < 0) return maker_fail(m, QUIRA_ERR_ENCODER);
    maker_keep(m, m->encoded, bytes);
    if (samples) samples += count;
    n -= count;
  }
  return m->status;
}

// Encodes n samples of voice at 16 kHz, within full scale.
static QuiraStatus maker_encode_voice(QuiraMaker* m, float* voice, size_t n) {
  if (m->voice_samples + (int64_t)n > QUIRA_VOICE_SAMPLES_MAX) return maker_fail(m, QUIRA_ERR_TOO_LONG);
  for (size_t i = 0; i < n; i++) voice[i] = fminf(1.0f, fmaxf(-1.0f, voice[i]));
  m->voice_samples += (int64_t)n;
  return maker_encode(m, voice, (int64_t)n);
}

// Resamples n voice samples (null with 0: what the filter still holds) and encodes them.
static QuiraStatus maker_voice(QuiraMaker* m, float* in, size_t n) {
  if (!m->resampler) return maker_encode_voice(m, in, n);
  const size_t room = sizeof m->resampled / sizeof *m->resampled;
  do {
    size_t taken = 0, given = 0;
    soxr_error_t error = soxr_process(m->resampler, in, n, in ? &taken : nullptr, m->resampled, room, &given);
    if (error) return maker_fail(m, QUIRA_ERR_RATE);
    if (in && n > 0 && taken == 0 && given == 0) return maker_fail(m, QUIRA_ERR_RATE);
    if (given > 0 && maker_encode_voice(m, m->resampled, given)) return m->status;
    if (in) {
      in += taken;
      n -= taken;
      if (n == 0) return QUIRA_OK;
    } else if (given == 0) {
      return QUIRA_OK;
    }
  } while (true);
}

QuiraStatus quira_make_options_init(QuiraMakeOptions* options) {
  if (!options) return QUIRA_ERR_ARGUMENT;
  *options = {sizeof *options, 0, 0, 32, -1};
  return QUIRA_OK;
}

// The effect code and level into the header's bytes 10 and 11; the code a carrier may name is
// none or an effect of the table.
static QuiraStatus maker_header_effect(PayloadHeader* header, int32_t code, int32_t level) {
  if (code < 0 || code > QUIRA_EFFECT_CODE_MAX || level < QUIRA_LEVEL_MIN || level > QUIRA_LEVEL_MAX)
    return QUIRA_ERR_ARGUMENT;
  header->bytes[PAYLOAD_EFFECT_BYTE] = (uint8_t)code;
  header->bytes[PAYLOAD_LEVEL_BYTE] = payload_level_byte((int8_t)level);
  return QUIRA_OK;
}

QuiraStatus quira_maker_new(double rate, int32_t channels, const QuiraMakeOptions* options, QuiraMaker** maker) {
  if (!struct_known(options) || !maker) return QUIRA_ERR_ARGUMENT;
  *maker = nullptr;
  PayloadHeader header = {};
  voice_mark_write(&header, 0);
  if (maker_header_effect(&header, options->effect_code, options->effect_level) ||
      (options->bitrate_kbps != 32 && options->bitrate_kbps != 16))
    return QUIRA_ERR_ARGUMENT;
  // The resampler's range, checked at both ends: it resamples 1 Hz and 2^32 - 1 Hz (the most a
  // WAV header declares) correctly, and far below or above it crashes, hangs or never returns
  // from a write.
  if (!(rate >= QUIRA_MAKER_RATE_MIN && rate <= QUIRA_MAKER_RATE_MAX)) return QUIRA_ERR_ARGUMENT;
  if (channels < 1 || channels > MAX_CHANNELS) return QUIRA_ERR_RATE;
  // Refused before any work: a declared length whose voice the mark cannot count.
  double declared_voice = -1;
  if (options->declared_frames >= 0) {
    declared_voice = (double)options->declared_frames * VOICE_RATE / rate;
    if (declared_voice > (double)QUIRA_VOICE_SAMPLES_MAX + 0.5) return QUIRA_ERR_TOO_LONG;
  }
  QuiraMaker* m = (QuiraMaker*)calloc(1, sizeof(QuiraMaker));
  if (!m) return QUIRA_ERR_MEMORY;
  m->channels = channels;
  m->format = options->bitrate_kbps == 32 ? 2 : 1;
  m->header = header;

  if (rate != VOICE_RATE) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    m->resampler = soxr_create(rate, VOICE_RATE, 1, &error, &io, &quality, nullptr);
    if (!m->resampler || error) {
      quira_maker_free(m);
      return QUIRA_ERR_RATE;
    }
  }
  m->lame = lame_init();
  if (!m->lame) {
    quira_maker_free(m);
    return QUIRA_ERR_ENCODER;
  }
  lame_set_in_samplerate(m->lame, VOICE_RATE);
  lame_set_out_samplerate(m->lame, VOICE_RATE);
  lame_set_num_channels(m->lame, 1);
  lame_set_mode(m->lame, MONO);
  lame_set_VBR(m->lame, vbr_off);
  lame_set_brate(m->lame, options->bitrate_kbps);
  lame_set_bWriteVbrTag(m->lame, 0);  // an Info frame would be one frame too many, of no use here
  lame_set_write_id3tag_automatic(m->lame, 0);
  lame_set_original(m->lame, 1);
  lame_set_copyright(m->lame, 0);
  lame_set_error_protection(m->lame, 0);
  lame_set_emphasis(m->lame, 0);
  if (lame_init_params(m->lame) < 0) {
    quira_maker_free(m);
    return QUIRA_ERR_ENCODER;
  }
  // A length known up front: the frames in one allocation of their final size.
  if (declared_voice >= 0) {
    const int64_t total = LEAD_SAMPLES + (int64_t)declared_voice + 1;
    const int64_t blocks = (total + 2 * FRAME_SAMPLES + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
    const int64_t bytes = blocks * FRAMES_PER_BLOCK * FRAME_STEP[m->format];
    uint8_t* frames = (uint8_t*)malloc((size_t)bytes);
    if (frames) {
      m->frames = frames;
      m->frames_capacity = bytes;
    }
  }
  maker_encode(m, nullptr, LEAD_SAMPLES);
  if (m->status) {
    QuiraStatus status = m->status;
    quira_maker_free(m);
    return status;
  }
  *maker = m;
  return QUIRA_OK;
}

QuiraStatus quira_maker_write(QuiraMaker* maker, const float* interleaved, int64_t frames) {
  if (!maker || (!interleaved && frames > 0) || frames < 0) return QUIRA_ERR_ARGUMENT;
  QuiraMaker* m = maker;
  if (m->status) return m->status;
  if (m->finished) return QUIRA_ERR_STATE;
  while (frames > 0) {
    int n = frames < MIX_CHUNK ? (int)frames : MIX_CHUNK;
    for (int i = 0; i < n; i++) {
      double sum = 0;
      for (int c = 0; c < m->channels; c++) {
        float v = interleaved[(int64_t)i * m->channels + c];
        // A NaN would poison the resampler's filter and abort the encoder.
        if (isnan(v)) {
          m->not_numbers++;
          v = 0.0f;
        } else if (v > 1.0f || v < -1.0f) {
          m->clipped++;
          v = v > 0 ? 1.0f : -1.0f;
        }
        sum += v;
      }
      m->mono[i] = m->channels == 1 ? (float)sum : (float)(sum / m->channels);
    }
    interleaved += (int64_t)n * m->channels;
    frames -= n;
    m->input_frames += n;
    if (maker_voice(m, m->mono, (size_t)n)) return m->status;
  }
  return QUIRA_OK;
}

QuiraStatus quira_maker_finish(QuiraMaker* maker) {
  if (!maker) return QUIRA_ERR_ARGUMENT;
  QuiraMaker* m = maker;
  if (m->status) return m->status;
  if (m->finished) return QUIRA_ERR_STATE;
  if (m->resampler && maker_voice(m, nullptr, 0)) return m->status;
  if (m->voice_samples == 0 && m->input_frames == 0) return maker_fail(m, QUIRA_ERR_NO_SAMPLES);
  // A recording can hold samples and still resample to none: a few samples at a high rate.
  if (m->voice_samples == 0) return maker_fail(m, QUIRA_ERR_TOO_SHORT);

  const int64_t total = LEAD_SAMPLES + m->voice_samples;
  const int64_t blocks = (total + 2 * FRAME_SAMPLES + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
  if (maker_encode(m, nullptr, FRAME_SAMPLES * (FRAMES_PER_BLOCK * blocks - 2) - total)) return m->status;
  int bytes = lame_encode_flush(m->lame, m->encoded, (int)sizeof m->encoded);
  if (bytes < 0) return maker_fail(m, QUIRA_ERR_ENCODER);
  if (maker_keep(m, m->encoded, bytes)) return m->status;

  // Exactly ten frames a block, each beginning with the accepted word, or no carrier at all.
  const int64_t step = FRAME_STEP[m->format];
  if (m->frames_bytes != blocks * FRAMES_PER_BLOCK * step) return maker_fail(m, QUIRA_ERR_ENCODER);
  for (int64_t at = 0; at < m->frames_bytes; at += step) {
    const uint8_t* h = m->frames + at;
    uint32_t word = (uint32_t)h[0] << 24 | (uint32_t)h[1] << 16 | (uint32_t)h[2] << 8 | h[3];
    if (word != SYNC_WORDS[m->format]) return maker_fail(m, QUIRA_ERR_ENCODER);
  }
  uint8_t kept[2] = {m->header.bytes[PAYLOAD_EFFECT_BYTE], m->header.bytes[PAYLOAD_LEVEL_BYTE]};
  voice_mark_write(&m->header, (uint32_t)m->voice_samples);
  m->header.bytes[PAYLOAD_EFFECT_BYTE] = kept[0];
  m->header.bytes[PAYLOAD_LEVEL_BYTE] = kept[1];
  m->finished = 1;
  return QUIRA_OK;
}

QuiraStatus quira_maker_set_effect(QuiraMaker* maker, const QuiraEffectChoice* effect) {
  if (!maker || !struct_known(effect)) return QUIRA_ERR_ARGUMENT;
  return maker_header_effect(&maker->header, effect->effect_code, effect->effect_level);
}

int64_t quira_maker_size(const QuiraMaker* maker) {
  if (!maker) return QUIRA_ERR_ARGUMENT;
  if (!maker->finished) return QUIRA_ERR_STATE;
  const int64_t blocks = maker->frames_bytes / (FRAME_STEP[maker->format] * FRAMES_PER_BLOCK);
  return PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES + blocks * BLOCK_BYTES;
}

int64_t quira_maker_read(const QuiraMaker* maker, int64_t offset, void* buffer, size_t capacity) {
  if (!maker || (!buffer && capacity > 0) || offset < 0) return QUIRA_ERR_ARGUMENT;
  if (!maker->finished) return QUIRA_ERR_STATE;
  const int64_t size = quira_maker_size(maker);
  if (offset >= size) return 0;
  int64_t n = capacity < (uint64_t)(size - offset) ? (int64_t)capacity : size - offset;
  uint8_t* out = (uint8_t*)buffer;
  size_t image_size = 0;
  const uint8_t* image = quira_embedded_player(&image_size);
  const int64_t block_frames = FRAME_STEP[maker->format] * FRAMES_PER_BLOCK;
  for (int64_t done = 0; done < n;) {
    const int64_t at = offset + done;
    int64_t take = n - done;
    uint8_t* to = out + done;
    if (at < PAYLOAD_OFFSET) {
      if (take > PAYLOAD_OFFSET - at) take = PAYLOAD_OFFSET - at;
      for (int64_t i = 0; i < take; i++) to[i] = (size_t)(at + i) < image_size ? image[at + i] : 0;
    } else if (at < PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES) {
      if (take > PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES - at) take = PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES - at;
      memcpy(to, maker->header.bytes + (at - PAYLOAD_OFFSET), (size_t)take);
    } else {
      // One block at a time: its frames, scrambled; blocks of 72-byte frames leave their last
      // 720 bytes unused, zero.
      const int64_t in_payload = at - PAYLOAD_OFFSET - PAYLOAD_HEADER_BYTES;
      const int64_t block = in_payload / BLOCK_BYTES, within = in_payload % BLOCK_BYTES;
      if (take > BLOCK_BYTES - within) take = BLOCK_BYTES - within;
      int64_t frames = within < block_frames ? block_frames - within : 0;
      if (frames > take) frames = take;
      memcpy(to, maker->frames + block * block_frames + within, (size_t)frames);
      block_scramble(to, (int32_t)frames);
      memset(to + frames, 0, (size_t)(take - frames));
    }
    done += take;
  }
  return n;
}

int64_t quira_maker_voice_samples(const QuiraMaker* maker) { return maker ? maker->voice_samples : (int64_t)QUIRA_ERR_ARGUMENT; }
int64_t quira_maker_input_frames(const QuiraMaker* maker) { return maker ? maker->input_frames : (int64_t)QUIRA_ERR_ARGUMENT; }
int64_t quira_maker_not_numbers(const QuiraMaker* maker) { return maker ? maker->not_numbers : (int64_t)QUIRA_ERR_ARGUMENT; }
int64_t quira_maker_clipped(const QuiraMaker* maker) { return maker ? maker->clipped : (int64_t)QUIRA_ERR_ARGUMENT; }

void quira_maker_free(QuiraMaker* maker) {
  if (!maker) return;
  if (maker->resampler) soxr_delete(maker->resampler);
  if (maker->lame) lame_close(maker->lame);
  free(maker->frames);
  free(maker);
}

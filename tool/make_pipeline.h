// make's pipeline: a recording's samples in, a carrier's payload out. The samples are brought
// within full scale, mixed to mono, resampled to 16 kHz, encoded as Layer III frames, aligned on
// the blocks, checked, given a voice mark and scrambled.
//
// Plain procedures over one record, failure as a return value (a MakeStatus, with the reason in
// why); the caller turns a failure into its error line.
//
// Alignment: the encoder delays its input by 576 samples and the decoder by 529 more, so input
// sample i decodes at sample 1,105 + i. MAKE_LEAD_SAMPLES zeros before the voice put its first
// sample on the first sample of block 1 (block 0 is the priming block, never heard). N input
// samples give ceil(N / 576) + 2 frames, so padding the input to 576 x (10k - 2) samples gives
// exactly 10k frames: whole blocks, and the voice's end well inside the last one.
//
// Conditioning: a sample that is not a number (NaN) carries no value and becomes silence; one
// beyond full scale, infinity included, is clipped to it, as any converter to fixed point does.
// Both are counted for a warning. The encoder sees finite samples within +-1 only.
//
// Bounds: the voice mark counts the voice in 32 bits, so a voice is at most 2^32 - 1 samples at
// 16 kHz (74 h 33 min 55 s). A declared length beyond that is refused by make_start,
// a stream that runs past it as soon as it does. Memory is the record (fixed pieces), libsoxr's
// and libmp3lame's own state, and the finished frames: 4,000 or 2,000 bytes a second of voice.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "decode/block_decoder.h"
#include "payload/payload.h"
#include "tool/mpeg_encoder.h"
#include "tool/resampler.h"

const int MAKE_VOICE_RATE = 16000;
const int MAKE_LEAD_SAMPLES = (int)BLOCK_SAMPLES - (int)FRAME_SAMPLES - 529;  // 4,655
const int MAKE_PIECE = 4096;                                              // samples handled at a time
const int64_t MAKE_VOICE_SAMPLES_MAX = UINT32_MAX;  // what the voice mark's 32-bit length counts

enum MakeStatus {
  MAKE_OK = 0,
  MAKE_NO_SAMPLES,   // the recording holds no samples
  MAKE_TOO_SHORT,    // it holds some, but too few for one sample at 16 kHz
  MAKE_TOO_LONG,     // its voice would be longer than the voice mark counts
  MAKE_BAD_SETTINGS, // a rate, channel count or bit rate the pipeline cannot take
  MAKE_RESAMPLER_FAILED,
  MAKE_ENCODER_FAILED,
};

struct MakeSettings {
  double rate;             // the recording's sampling rate
  int channels;
  int kbps;                // 32 or 16
  int64_t declared_frames; // sample frames the recording declares, -1 when unknown (a stream)
};

struct MakeJob {
  MakeSettings settings;
  Resampler resampler;
  MpegEncoder encoder;
  int64_t frames_in;      // sample frames taken
  int64_t voice_samples;  // samples at 16 kHz given to the encoder, the lead not counted
  int64_t not_numbers;    // samples that were NaN, made silent
  int64_t clipped;        // samples beyond full scale, clipped
  int64_t blocks;         // blocks of the payload, once finished
  float mono[MAKE_PIECE];
  float voice[MAKE_PIECE];
  char why[192];          // what failed
};

// Sets the job up: checks the settings and the declared length, starts the resampler and the
// encoder and encodes the lead. make_end must follow whatever it returns.
MakeStatus make_start(MakeJob* job, const MakeSettings* settings);

// Takes frames sample frames of interleaved channels (full scale +-1, any values).
MakeStatus make_feed(MakeJob* job, const float* interleaved, size_t frames);

// The input has ended: flushes the resampler, pads to whole blocks and checks the frames.
MakeStatus make_finish(MakeJob* job);

// The payload header of a finished job: the voice mark, the effect code and the level byte.
void make_header(const MakeJob* job, int8_t effect_code, uint8_t level_byte, PayloadHeader* header);

// Block k (0 to blocks - 1) of a finished job, scrambled; blocks of 72-byte frames end in 720
// zero bytes.
void make_block(const MakeJob* job, int64_t k, uint8_t block[BLOCK_BYTES]);

void make_end(MakeJob* job);

// Blocks that hold the lead and a voice of the given length.
int64_t make_blocks_for(int64_t voice_samples);

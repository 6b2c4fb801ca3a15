// The voice's MPEG-2 Layer III frames, by libmp3lame: 16 kHz mono in, constant bit rate of 32 or
// 16 kbit/s, no Info tag, no ID3 tag, no CRC, original bit set. Each frame then carries exactly the
// header word the block decoder accepts for its format.
//
// Plain procedures over a record, failure as a return value with the reason in why. The frames
// are kept in the record until the caller takes them, so that they can all be checked first.
//
// Invariants: the encoder is only handed finite samples within full scale (+-1); after a
// successful mpeg_encoder_finish the stream is exactly the expected number of frames, each of
// FRAME_STEP bytes starting with the accepted word; anything else is a failure, never a carrier.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct lame_global_struct;

enum {
  MPEG_ENCODER_PIECE = 16384,                            // most samples one call encodes
  MPEG_ENCODER_CALL_BYTES = MPEG_ENCODER_PIECE * 5 / 4 + 7200  // LAME's bound on one call's output
};

struct MpegEncoder {
  lame_global_struct* lame;
  int format;          // block format index (decode/block_decoder.h) of the frames made
  uint8_t* frames;     // the stream so far
  size_t bytes;        // its length
  size_t capacity;     // bytes allocated
  uint8_t chunk[MPEG_ENCODER_CALL_BYTES];  // one call's output, before it joins the stream
  char why[128];       // what failed, when a call returned 0
};

// Sets the encoder up for kbps (32 or 16). Returns 1, or 0 when libmp3lame refuses;
// mpeg_encoder_end must follow either way.
int mpeg_encoder_start(MpegEncoder* e, int kbps);

// Makes room for a stream of the given length in one allocation, when it is known up front.
int mpeg_encoder_reserve(MpegEncoder* e, size_t bytes);

// Encodes n samples (at most MPEG_ENCODER_PIECE) at 16 kHz, within +-1.
int mpeg_encoder_encode(MpegEncoder* e, const float* samples, size_t n);

// Flushes the encoder and checks that the stream is expected_frames frames of the accepted format.
int mpeg_encoder_finish(MpegEncoder* e, int64_t expected_frames);

// Releases the encoder and the frames.
void mpeg_encoder_end(MpegEncoder* e);

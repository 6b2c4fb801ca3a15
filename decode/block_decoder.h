// SPDX-License-Identifier: MIT
// Block decoder: one 1,440-byte block of ten scrambled MPEG-2 / MPEG-2.5 Layer III mono frames in,
// 5,760 signed 16-bit samples out, over the pinned libmpg123 fed one whole frame at a time.
//
// The block's format comes from its first frame header; every frame is then taken at that format's
// fixed step, unscrambled in place, checked and decoded to 576 samples. A frame the library cannot
// turn into exactly 576 samples repeats the previous frame's samples.
//
// Invariants:
// - No read or write leaves the 1,440 bytes of the block: a frame whose own header declares a body
//   reaching past the block's end is refused, and the block fails.
// - The decoder state (library stream, header memory, last frame's samples) is one BlockDecoder
//   record, passed by pointer, that runs on from block to block; only block_decoder_reset starts
//   a new stream. Records are independent: two decoders may run in two threads at once.
// - Nothing is allocated per block. A zeroed record is a decoder that has decoded nothing; its
//   library handle is made at the first reset and released by block_decoder_close.
#pragma once
#include <stdint.h>

enum {
  SCRAMBLE_KEY = 0x6B,
  FRAME_SAMPLES = 576,
  FRAMES_PER_BLOCK = 10,
  BLOCK_FORMATS = 3
};

// Accepted first-frame header words, by format index: 8 kbit/s at 8 kHz (MPEG-2.5),
// 16 and 32 kbit/s at 16 kHz (MPEG-2); all mono Layer III without CRC or padding.
extern const uint32_t SYNC_WORDS[BLOCK_FORMATS];
// Bytes from one frame to the next, by format index.
extern const int32_t FRAME_STEP[BLOCK_FORMATS];

struct mpg123_handle_struct;

struct BlockDecoder {
  mpg123_handle_struct* handle;  // made at the first reset
  int32_t open;                  // the feed is open
  int64_t fed;                   // bytes fed since the feed was opened
  // Header memory of the current stream.
  int32_t stream_known;          // a header has fixed layer and rate since the reset (0 at start)
  int32_t stream_layer;          // 1, 2 or 3, fixed by the first header
  int32_t stream_rate_index;     // sampling-frequency index, fixed by the first header
  int32_t rate;                  // rate of the last frame decoded
  int16_t previous[FRAME_SAMPLES];  // the last frame's samples, for a frame that yields none
};

// What a refill hands the decoder for one block, always 1,440 bytes.
struct DecodeRequest {
  uint8_t* input;         // the block's first byte; unscrambled in place
  int16_t* output;        // room for 5,760 samples
  int32_t* samples_out;   // null, or 0 once the format test passed, then +576 per frame decoded
};

// Starts a new stream: clears the header memory and reopens the library's feed. Returns 1 when
// the feed is open, 0 when the library could not set one up (decoder->open says the same).
int block_decoder_reset(BlockDecoder* decoder);

// Releases the library's handle; the record is zero again afterwards.
void block_decoder_close(BlockDecoder* decoder);

// Decodes the ten frames of request->input into request->output. Returns 1 when all ten decoded;
// 0 when the first header is none of SYNC_WORDS (block and output untouched) or a frame header is
// refused (the frames before it are in the output and in the stream state).
int block_decode(BlockDecoder* decoder, DecodeRequest* request);

// XORs n bytes with SCRAMBLE_KEY in place: scrambles plain frames, unscrambles stored ones.
void block_scramble(uint8_t* bytes, int32_t n);

// Format index (0, 1, 2) of a block from its first four stored bytes, or -1. Reads a copy only.
int block_format(const uint8_t first_bytes[4]);

// Sampling rate (Hz) at which the last frame decoded, 0 before any.
int32_t block_decoder_rate(const BlockDecoder* decoder);

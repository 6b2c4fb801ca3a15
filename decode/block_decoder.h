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
// - The decoder state (library stream, header memory, last frame's samples) is process-wide and
//   runs on from block to block; only block_decoder_reset starts a new stream.
// - Nothing is allocated per block.
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

// What a refill hands the decoder for one block.
struct DecodeRequest {
  uint8_t* input;         // the block's first byte; unscrambled in place
  int32_t input_bytes;    // set to 1,440 by the caller; the block is always 1,440 bytes
  int16_t* output;        // room for 5,760 samples
  int32_t* samples_out;   // 0 once the format test passed, then +576 per frame decoded
};

// Starts a new stream: clears the header memory and reopens the library's feed. Returns 1.
int block_decoder_reset(void);

// Decodes the ten frames of request->input into request->output. Returns 1 when all ten decoded;
// 0 when the first header is none of SYNC_WORDS (block and output untouched) or a frame header is
// refused (the frames before it are in the output and in the stream state).
int block_decode(DecodeRequest* request);

// Format index (0, 1, 2) of a block from its first four stored bytes, or -1. Reads a copy only.
int block_format(const uint8_t first_bytes[4]);

// Sampling rate (Hz) at which the last frame decoded, 0 before any.
int32_t block_decoder_rate(void);

// SPDX-License-Identifier: MIT
// Block decoder over libmpg123 in feed mode.
#include "decode/block_decoder.h"

#include "payload/payload.h"

#include <mpg123.h>
#include <string.h>

const uint32_t SYNC_WORDS[BLOCK_FORMATS] = {0xFFE318C4u, 0xFFF328C4u, 0xFFF348C4u};
const int32_t FRAME_STEP[BLOCK_FORMATS] = {72, 72, 144};

enum { HEADER_BYTES = 4 };

// Layer III bit rates in kbit/s by bit-rate index: MPEG-1, then MPEG-2 and MPEG-2.5.
static const int32_t LAYER3_KBPS[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
// Sampling rates by sampling-frequency index: MPEG-1, MPEG-2, MPEG-2.5.
static const int32_t SAMPLE_RATES[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
// Rates the library may hand out: each one natively, mono, nothing resampled.
static const long OUTPUT_RATES[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};


// Opens (or reopens) the feed: a new stream for the library, whose bit reservoir and filter
// histories start empty. Returns 0 if the library cannot be set up.
static int decoder_open_feed(BlockDecoder* d) {
  if (!d->handle) {
    int error = 0;
    d->handle = mpg123_new(NULL, &error);
    if (!d->handle) return 0;
    // One call sets every flag; it also drops the defaults (gapless trimming, automatic
    // resampling, float fallback), none of which a frame-at-a-time decode wants. Without
    // NO_READAHEAD a frame's samples would come out one frame late.
    mpg123_param(d->handle, MPG123_FLAGS,
                 MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME | MPG123_NO_RESYNC, 0);
    mpg123_format_none(d->handle);
    for (long rate : OUTPUT_RATES)
      mpg123_format(d->handle, rate, MPG123_MONO, MPG123_ENC_SIGNED_16);
  }
  if (d->open) mpg123_close(d->handle);
  d->open = mpg123_open_feed(d->handle) == MPG123_OK;
  d->fed = 0;
  return d->open;
}

int block_decoder_reset(BlockDecoder* decoder) {
  decoder->stream_known = 0;
  decoder->stream_layer = 0;
  decoder->stream_rate_index = 0;
  return decoder_open_feed(decoder);
}

void block_decoder_close(BlockDecoder* decoder) {
  if (decoder->handle) mpg123_delete(decoder->handle);  // closes an open feed too
  *decoder = BlockDecoder{};
}

int32_t block_decoder_rate(const BlockDecoder* decoder) { return decoder->rate; }

static uint32_t header_word(const uint8_t* bytes) {
  return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
}

void block_scramble(uint8_t* bytes, int32_t n) {
  for (int32_t i = 0; i < n; i++) bytes[i] ^= SCRAMBLE_KEY;
}

int block_format(const uint8_t first_bytes[4]) {
  uint8_t plain[HEADER_BYTES];
  for (int i = 0; i < HEADER_BYTES; i++) plain[i] = first_bytes[i];
  block_scramble(plain, HEADER_BYTES);
  uint32_t word = header_word(plain);
  for (int index = 0; index < BLOCK_FORMATS; index++)
    if (word == SYNC_WORDS[index]) return index;
  return -1;
}

// The tests a header word must pass before it can fix a stream's layer and sampling frequency.
static int frame_header_valid(uint32_t header) {
  if ((header & 0xFFE00000u) != 0xFFE00000u) return 0;  // sync
  if (((header >> 17) & 3) == 0) return 0;              // layer
  if (((header >> 12) & 15) == 15) return 0;            // bit-rate index
  if (((header >> 10) & 3) == 3) return 0;              // sampling-frequency index
  if ((header >> 16) == 0xFFFE) return 0;
  return 1;
}

// The first valid header since the reset fixes the stream's layer and sampling frequency; later
// headers' own fields for them are ignored until the next reset. (Its CRC flag needs no memory: a
// stream begins with one of the accepted words, none of which has a CRC, and the library reads a
// CRC, if any, from the frame it is handed.)
static void frame_fix_stream(BlockDecoder* d, uint32_t header) {
  if (d->stream_known) return;
  d->stream_layer = 4 - (int32_t)((header >> 17) & 3);
  d->stream_rate_index = (int32_t)((header >> 10) & 3);
  d->stream_known = 1;
}

// Body length in bytes (the frame less its 4 header bytes) of a valid header word in the
// decoder's stream, or -1 when the stream refuses it. Reads the header memory, writes nothing.
static int32_t frame_body_bytes(const BlockDecoder* d, uint32_t header) {
  int bitrate_index = (header >> 12) & 15;
  if (bitrate_index == 0) return -1;  // free format
  if (d->stream_layer != 3) return -1;
  // Version, bit rate and padding are each header's own. Version bits 11 are MPEG-1, 10 MPEG-2,
  // and 0x MPEG-2.5 (the reserved 01 read as the library reads it).
  int version = (header >> 20) & 1 ? ((header >> 19) & 1 ? 0 : 1) : 2;
  int32_t kbps = LAYER3_KBPS[version == 0 ? 0 : 1][bitrate_index];
  int32_t rate = SAMPLE_RATES[version][d->stream_rate_index];
  int32_t padding = (header >> 9) & 1;
  return kbps * 144000 / (rate * (version == 0 ? 1 : 2)) + padding - HEADER_BYTES;
}

// Hands one plain frame to the library. When it gives exactly 576 samples they replace
// the decoder's previous samples; any other count (an MPEG-1 frame's 1,152, none for a frame it could not
// parse) leaves the previous frame's samples to stand in. Returns the count it gave.
static int32_t frame_run_library(BlockDecoder* d, const uint8_t* frame, int32_t bytes) {
  if (!d->open && !decoder_open_feed(d)) return 0;
  if (mpg123_feed(d->handle, frame, (size_t)bytes) != MPG123_OK) {
    decoder_open_feed(d);
    return 0;
  }
  d->fed += bytes;
  off_t count = 0;
  unsigned char* audio = NULL;
  size_t audio_bytes = 0;
  int result;
  do {
    result = mpg123_decode_frame(d->handle, &count, &audio, &audio_bytes);
  } while (result == MPG123_NEW_FORMAT);
  int32_t samples = result == MPG123_OK ? (int32_t)(audio_bytes / 2) : 0;
  if (samples == FRAME_SAMPLES) {
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(d->handle, &rate, &channels, &encoding) == MPG123_OK)
      d->rate = (int32_t)rate;
    memcpy(d->previous, audio, sizeof d->previous);
  }
  // A frame the library took for longer or shorter than what was fed leaves its parser out of
  // step with the frame boundaries, and an error leaves the handle unusable: start a new feed.
  if (result == MPG123_ERR || mpg123_tell_stream(d->handle) != d->fed) decoder_open_feed(d);
  return samples;
}

// Unscrambles, checks and decodes the frame at frame, which has room bytes before the block's
// end, into 576 samples at output. Returns 1, or 0 when the header is refused.
static int frame_decode(BlockDecoder* d, uint8_t* frame, int32_t room, int16_t* output) {
  block_scramble(frame, HEADER_BYTES);
  uint32_t header = header_word(frame);
  if (!frame_header_valid(header)) return 0;
  frame_fix_stream(d, header);
  int32_t body = frame_body_bytes(d, header);
  if (body < 0 || HEADER_BYTES + body > room) return 0;
  block_scramble(frame + HEADER_BYTES, body);
  frame_run_library(d, frame, HEADER_BYTES + body);
  memcpy(output, d->previous, sizeof d->previous);
  return 1;
}

int block_decode(BlockDecoder* decoder, DecodeRequest* request) {
  int format = block_format(request->input);
  if (format < 0) return 0;
  if (request->samples_out) *request->samples_out = 0;
  int32_t step = FRAME_STEP[format];
  for (int frame = 0; frame < FRAMES_PER_BLOCK; frame++) {
    int32_t offset = step * frame;
    if (!frame_decode(decoder, request->input + offset, BLOCK_BYTES - offset,
                      request->output + FRAME_SAMPLES * frame))
      return 0;
    if (request->samples_out) *request->samples_out += FRAME_SAMPLES;
  }
  return 1;
}

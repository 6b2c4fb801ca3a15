// SPDX-License-Identifier: MIT
// Fuzzer of libquira's maker as another program calls it: any sampling rate (a double of any bits,
// an integer rate, or one spread over the range the maker takes), any channel count, any options
// and declared length, then samples of any bits in chunks of any size, and the finish.
//
// Input: byte 0 chooses how bytes 1-8 make the rate; bytes 9-10 the channels; 11 the effect code;
// 12 the level; 13 the bit rate and whether a length is declared (bytes 14-21); then chunks, each
// a byte of frame count followed by its samples as little-endian floats.
//
// Invariants:
// - a rate outside QUIRA_MAKER_RATE_MIN to QUIRA_MAKER_RATE_MAX (or NaN) is QUIRA_ERR_ARGUMENT,
//   a channel count outside 1 to 1,024 QUIRA_ERR_RATE, and a refusal leaves no maker;
// - within them a maker is made unless its declared length is too long, every write is taken,
//   and no more samples are mended than given;
// - the finish makes a carrier whose voice is the input's length at 16 kHz, whose every block
//   decodes, and whose header holds the options and the voice mark; or it says why not.
// Each run makes at most a few seconds of voice, whatever the rate.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "quira/quira.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const int64_t VOICE_MOST = 3 * QUIRA_SAMPLE_RATE;  // voice made from one input, at most

struct Bytes {
  const uint8_t* data;
  size_t size;
  // The next n bytes, little-endian; zeros past the end.
  uint64_t take(size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && size > 0; i++, data++, size--) v |= (uint64_t)*data << (8 * i);
    return v;
  }
};

double rate_from(uint8_t how, uint64_t bits) {
  switch (how % 4) {
    case 0: {  // any double at all: NaN, infinities, subnormals, negatives
      double rate;
      memcpy(&rate, &bits, sizeof rate);
      return rate;
    }
    case 1:  // an integer rate as a file declares one
      return (double)(uint32_t)bits;
    case 2:  // spread over the range, and a little past both ends
      return exp2((double)(bits % 100000) / 100000.0 * 34.0 - 1.0);
    default:  // the everyday rates, slightly off
      return (double)(const uint32_t[]){8000, 11025, 16000, 22050, 44100, 48000, 96000, 192000}[bits % 8] +
             (double)(int8_t)(bits >> 8) / 64.0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 14) return 0;
  Bytes in = {data, size};
  const uint8_t how = (uint8_t)in.take(1);
  const double rate = rate_from(how, in.take(8));
  const int32_t channels = (int32_t)(int16_t)in.take(2);
  QuiraMakeOptions options;
  quira_make_options_init(&options);
  options.effect_code = (int8_t)in.take(1) % (QUIRA_EFFECT_CODE_MAX + 2);
  options.effect_level = (int8_t)in.take(1);
  const uint8_t flags = (uint8_t)in.take(1);
  options.bitrate_kbps = flags & 1 ? 16 : 32;
  options.declared_frames = flags & 2 ? (int64_t)in.take(8) : -1;

  QuiraMaker* maker = (QuiraMaker*)&options;
  const int status = quira_maker_new(rate, channels, &options, &maker);
  const bool rate_ok = rate >= QUIRA_MAKER_RATE_MIN && rate <= QUIRA_MAKER_RATE_MAX;
  const bool options_ok = options.effect_code >= 0 && options.effect_code <= QUIRA_EFFECT_CODE_MAX;
  if (status != QUIRA_OK) {
    FUZZ_CHECK(maker == nullptr, "a refusal leaves no maker");
    if (!rate_ok || !options_ok) FUZZ_CHECK(status == QUIRA_ERR_ARGUMENT, "a rate out of range is an argument error");
    else if (channels < 1 || channels > 1024) FUZZ_CHECK(status == QUIRA_ERR_RATE, "a channel count out of range");
    else FUZZ_CHECK(status == QUIRA_ERR_TOO_LONG && options.declared_frames >= 0, quira_status_text(status));
    return 0;
  }
  FUZZ_CHECK(rate_ok && options_ok && channels >= 1 && channels <= 1024, "only what is in range is taken");

  // The chunks, cut where the voice would pass VOICE_MOST: at 1 Hz a frame is a second of voice.
  const int64_t frames_most = std::max<int64_t>(1, (int64_t)((double)VOICE_MOST * rate / QUIRA_SAMPLE_RATE));
  std::vector<float> chunk;
  int64_t given = 0;
  while (in.size > 0 && given < frames_most) {
    int64_t frames = std::min<int64_t>((int64_t)in.take(1), frames_most - given);
    frames = std::min<int64_t>(frames, (int64_t)(in.size / 4 / (size_t)channels));
    chunk.resize((size_t)(frames * channels));
    if (!chunk.empty()) memcpy(chunk.data(), in.data, chunk.size() * 4);
    in.data += chunk.size() * 4;
    in.size -= chunk.size() * 4;
    int wrote = quira_maker_write(maker, chunk.data(), frames);
    given += frames;
    FUZZ_CHECK(wrote == QUIRA_OK, quira_status_text(wrote));
    FUZZ_CHECK(quira_maker_not_numbers(maker) + quira_maker_clipped(maker) <= given * channels,
               "no more samples mended than given");
    if (frames == 0) break;
  }

  const int finished = quira_maker_finish(maker);
  if (given == 0) {
    FUZZ_CHECK(finished == QUIRA_ERR_NO_SAMPLES, "no samples given, none made");
  } else if (finished != QUIRA_OK) {
    FUZZ_CHECK(finished == QUIRA_ERR_TOO_SHORT && quira_maker_voice_samples(maker) == 0, quira_status_text(finished));
  } else {
    const double expected = (double)given * QUIRA_SAMPLE_RATE / rate;
    FUZZ_CHECK(fabs((double)quira_maker_voice_samples(maker) - expected) <= 1.0,
               "the voice is the input's length at 16 kHz");
    std::vector<uint8_t> carrier((size_t)quira_maker_size(maker));
    FUZZ_CHECK(quira_maker_read(maker, 0, carrier.data(), carrier.size()) == (int64_t)carrier.size(),
               "the carrier reads whole");
    QuiraCarrier* opened = nullptr;
    FUZZ_CHECK(quira_carrier_open_memory(carrier.data(), carrier.size(), &opened) == QUIRA_OK, "the carrier opens");
    QuiraHeaderFacts facts = {};
    facts.struct_size = sizeof facts;
    QuiraSurvey survey = {};
    survey.struct_size = sizeof survey;
    FUZZ_CHECK(quira_carrier_header(opened, &facts) == QUIRA_OK && facts.player_ours && facts.has_voice_mark &&
                   facts.voice_samples == (uint32_t)quira_maker_voice_samples(maker) &&
                   facts.effect_code == options.effect_code && facts.effect_level == options.effect_level &&
                   facts.last_block_bytes == QUIRA_BLOCK_BYTES,
               "the header holds the player, the options and the voice mark");
    FUZZ_CHECK(quira_carrier_survey(opened, &survey, nullptr, 0) == QUIRA_OK && survey.failed_blocks == 0 &&
                   survey.format == (options.bitrate_kbps == 32 ? 2 : 1) && !survey.mixed_formats,
               "every block decodes, in the format asked for");
    quira_carrier_close(opened);
  }
  quira_maker_free(maker);
  return 0;
}

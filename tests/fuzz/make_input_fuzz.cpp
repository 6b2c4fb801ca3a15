// SPDX-License-Identifier: MIT
// Fuzzer of make's input path: the input is the bytes of a recording, read by libsndfile as a
// file (tool/encoding/sound_input.h) and run through libquira's maker to the finished carrier.
// Recordings longer than a few seconds of voice are cut there, to keep each run short.
//
// Invariants:
// - a recording is read no further than it declares;
// - whatever the samples (NaN, infinities, any size), the maker takes them, and no more samples
//   are made silent or clipped than were read;
// - the voice is as long as the input at 16 kHz, to a sample;
// - a finished carrier is the player, the header and whole blocks, and its voice mark reads back.
#include <math.h>

#include <algorithm>
#include <vector>

#include "payload/voice_mark.h"
#include "quira/quira.h"
#include "tests/fuzz/fuzz_check.h"
#include "tool/cli.h"
#include "tool/encoding/sound_input.h"

namespace {

const int64_t VOICE_CUT = 4 * QUIRA_SAMPLE_RATE;  // the voice made from one input, at most

// Reads the recording into the maker, up to VOICE_CUT samples of voice.
void feed(SoundInput& input, QuiraMaker* maker, std::vector<float>& chunk, int64_t* read) {
  while (quira_maker_voice_samples(maker) < VOICE_CUT) {
    // Few frames at a time at a low rate: each makes many samples at 16 kHz.
    size_t want = (size_t)std::max<int64_t>(
        1, std::min<int64_t>(4096, (VOICE_CUT - quira_maker_voice_samples(maker)) * input.rate() / QUIRA_SAMPLE_RATE));
    size_t n = input.read(chunk.data(), want);
    if (n == 0) break;
    *read += (int64_t)n;
    FUZZ_CHECK(input.frames() < 0 || *read <= input.frames(), "a recording is read no further than it declares");
    FUZZ_CHECK(quira_maker_write(maker, chunk.data(), (int64_t)n) == QUIRA_OK, "the maker takes any samples");
    FUZZ_CHECK(quira_maker_not_numbers(maker) + quira_maker_clipped(maker) <= *read * input.channels(),
               "no more samples mended than read");
  }
}

void run(SoundInput& input) {
  QuiraMakeOptions options;
  quira_make_options_init(&options);
  options.effect_code = 5;
  options.effect_level = QUIRA_LEVEL_DEFAULT;
  options.declared_frames = input.frames();
  QuiraMaker* maker = nullptr;
  int status = quira_maker_new(input.rate(), input.channels(), &options, &maker);
  if (status != QUIRA_OK) {
    // A declared length beyond the voice mark, or rates the resampler does not take.
    FUZZ_CHECK(status == QUIRA_ERR_TOO_LONG || status == QUIRA_ERR_RATE, quira_status_text(status));
    return;
  }
  std::vector<float> chunk((size_t)4096 * (size_t)input.channels());
  int64_t read = 0;
  try {
    feed(input, maker, chunk, &read);
  } catch (const ToolError&) {
    quira_maker_free(maker);  // a read that fails half-way: the maker goes as any other
    throw;
  }
  status = quira_maker_finish(maker);
  if (read == 0) FUZZ_CHECK(status == QUIRA_ERR_NO_SAMPLES, "no samples read, none made");
  if (status == QUIRA_OK) {
    const double expected = (double)quira_maker_input_frames(maker) * QUIRA_SAMPLE_RATE / input.rate();
    FUZZ_CHECK(fabs((double)quira_maker_voice_samples(maker) - expected) <= 1.0,
               "the voice is the input's length at 16 kHz");
    const int64_t size = quira_maker_size(maker);
    FUZZ_CHECK(size > QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES &&
                   (size - QUIRA_PAYLOAD_OFFSET - QUIRA_HEADER_BYTES) % QUIRA_BLOCK_BYTES == 0,
               "the player, the header and whole blocks");
    PayloadHeader header;
    FUZZ_CHECK(quira_maker_read(maker, QUIRA_PAYLOAD_OFFSET, header.bytes, QUIRA_HEADER_BYTES) == QUIRA_HEADER_BYTES,
               "the header reads");
    uint32_t voice = 0;
    FUZZ_CHECK(voice_mark_read(&header, &voice) && voice == (uint32_t)quira_maker_voice_samples(maker),
               "the voice mark reads back");
  } else {
    FUZZ_CHECK(status == QUIRA_ERR_TOO_SHORT || status == QUIRA_ERR_NO_SAMPLES, quira_status_text(status));
  }
  quira_maker_free(maker);
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

// Fuzzer of the payload reader, the block decoder and the effect stage: the input is a payload
// (what follows the player in a carrier: header, then blocks), played as the player plays it,
// with the effect its header names (the seeds hold every family; byte 10 picks any code).
//
// Invariants:
// - the reader sees the payload's size, effect bytes and length as the header and size say;
// - the as-played length follows from the payload size: two start buffers, then one buffer per
//   block (the priming block's included), 5,760 samples each;
// - the start buffers and the priming buffer are silent;
// - without an effect, a block that fails to decode plays as silence;
// - the same bytes play to the same samples a second time (no state survives a start).
#include <string.h>

#include <vector>

#include "audio/wave_output.h"
#include "effects/effect_stage.h"
#include "payload/payload.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct Played {
  std::vector<int16_t> samples;
  std::vector<uint8_t> decoded;  // per block buffer: 1 when the refill held decoded samples
};

// The player's buffer cycle over a payload in memory, from playback start to its natural end.
// The one place that runs the cycle: when the core's interface changes, only this follows it.
void play_through(const uint8_t* payload, size_t size, int8_t code, int8_t level, Played* out) {
  static int16_t samples[BLOCK_SAMPLES];
  static uint8_t block[BLOCK_BYTES];  // zero at start; a short block keeps the previous bytes
  memset(block, 0, sizeof block);
  out->samples.assign(2 * BLOCK_SAMPLES, 0);  // the two buffers queued silent at start
  out->decoded.clear();
  effect_start(code, level);
  wave_stream_start();
  for (int64_t k = 0;; k++) {
    const int64_t at = payload_block_offset(k) - PAYLOAD_OFFSET;
    const size_t n = at < (int64_t)size ? std::min<size_t>(BLOCK_BYTES, size - (size_t)at) : 0;
    if (n) memcpy(block, payload + at, n);
    const int decoded = wave_refill_samples(samples, block);
    effect_apply(samples, BUFFER_BYTES);
    if (n == 0) break;  // the payload ran out: this buffer is never played
    out->samples.insert(out->samples.end(), samples, samples + BLOCK_SAMPLES);
    out->decoded.push_back((uint8_t)decoded);
  }
}

bool silent(const int16_t* samples, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (samples[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  PayloadInfo info{};
  FUZZ_CHECK(payload_read_header(file.hold(data, size, PAYLOAD_OFFSET).c_str(), &info) == 1, "the carrier opens");
  FUZZ_CHECK(info.payload_bytes == (int64_t)size, "the payload size is the file's length less the player");
  FUZZ_CHECK(info.effect_code == (size > 10 ? (int8_t)data[10] : 0), "byte 10 is the effect code");
  FUZZ_CHECK(info.level_byte == (size > 11 ? data[11] : 0), "byte 11 is the level byte");
  FUZZ_CHECK(info.total_seconds == payload_total_seconds((int64_t)size), "the length follows from the size");

  const int8_t level = payload_effect_level(info.level_byte);
  static Played first, second;
  play_through(data, size, info.effect_code, level, &first);
  const int64_t blocks = payload_block_count((int64_t)size);
  FUZZ_CHECK((int64_t)first.samples.size() == (2 + blocks) * BLOCK_SAMPLES, "one buffer per block after two at start");
  FUZZ_CHECK(silent(first.samples.data(), std::min<size_t>(first.samples.size(), 3 * BLOCK_SAMPLES)),
             "the start buffers and the priming buffer are silent");
  if (!effect_code_known(info.effect_code) || level == 0)
    for (size_t k = 0; k < first.decoded.size(); k++)
      FUZZ_CHECK(first.decoded[k] || silent(&first.samples[(2 + k) * BLOCK_SAMPLES], BLOCK_SAMPLES),
                 "a block that fails to decode plays as silence");
  play_through(data, size, info.effect_code, level, &second);
  FUZZ_CHECK(first.samples == second.samples, "the same bytes play to the same samples twice");
  return 0;
}

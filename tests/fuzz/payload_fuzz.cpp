// SPDX-License-Identifier: MIT
// Fuzzer of the payload reader, the block decoder and the effect stage, through libquira: the
// input is a payload (what follows the player in a carrier: header, then blocks), played as the
// player plays it, with the effect its header names (the seeds hold every family; byte 10 picks
// any code).
//
// Invariants:
// - the reader sees the payload's size, effect bytes and length as the header and size say, and
//   the survey finds every block decoded or failed;
// - the as-played length follows from the payload size: two start buffers, then one buffer per
//   block (the priming block's included), 5,760 samples each;
// - the start buffers and the priming buffer are silent;
// - without an effect, a block the survey finds failing plays as silence;
// - the same bytes play to the same samples a second time (no state survives a start).
#include <string.h>

#include <vector>

#include "payload/payload.h"
#include "quira/quira.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The player's buffers, as libquira's player hands them out from playback start to its natural
// end, over a carrier read by path (the file interface the tool uses).
std::vector<int16_t> play_through(const char* path) {
  std::vector<int16_t> played;
  QuiraCarrier* carrier = nullptr;
  FUZZ_CHECK(quira_carrier_open_path(path, &carrier, nullptr) == QUIRA_OK, "the carrier opens");
  QuiraPlayer* player = nullptr;
  FUZZ_CHECK(quira_player_new(carrier, nullptr, &player) == QUIRA_OK, "a player starts");
  FUZZ_CHECK(quira_player_start(player) == QUIRA_OK, "a player starts");
  static int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t kind = -1;
  while (quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind) > 0) played.insert(played.end(), buffer, buffer + QUIRA_BUFFER_SAMPLES);
  quira_player_free(player);
  quira_carrier_close(carrier);
  return played;
}

bool silent(const int16_t* samples, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (samples[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  const char* path = file.hold(data, size, PAYLOAD_OFFSET).c_str();
  QuiraCarrier* carrier = nullptr;
  FUZZ_CHECK(quira_carrier_open_path(path, &carrier, nullptr) == QUIRA_OK, "the carrier opens");
  QuiraHeaderFacts info{};
  info.struct_size = sizeof info;
  FUZZ_CHECK(quira_carrier_header(carrier, &info) == QUIRA_OK, "the header reads");
  FUZZ_CHECK(info.payload_bytes == (int64_t)size, "the payload size is the file's length less the player");
  FUZZ_CHECK(info.effect_code == (size > 10 ? (int8_t)data[10] : 0), "byte 10 is the effect code");
  FUZZ_CHECK(info.level_byte == (size > 11 ? data[11] : 0), "byte 11 is the level byte");
  FUZZ_CHECK(info.total_seconds == payload_total_seconds((int64_t)size), "the length follows from the size");
  FUZZ_CHECK(!info.player_ours, "a front part of zeros is no player of ours");
  static std::vector<int64_t> failed;
  failed.assign((size_t)info.blocks, -1);
  QuiraSurvey survey{};
  survey.struct_size = sizeof survey;
  FUZZ_CHECK(quira_carrier_survey(carrier, &survey, failed.data(), failed.size()) == QUIRA_OK, "the survey runs");
  FUZZ_CHECK(survey.decoded_blocks + survey.failed_blocks == info.blocks, "every block is decoded or fails");
  quira_carrier_close(carrier);

  const std::vector<int16_t> first = play_through(path);
  FUZZ_CHECK((int64_t)first.size() == (2 + info.blocks) * QUIRA_BUFFER_SAMPLES,
             "one buffer per block after two at start");
  FUZZ_CHECK(silent(first.data(), std::min<size_t>(first.size(), 3 * QUIRA_BUFFER_SAMPLES)),
             "the start buffers and the priming buffer are silent");
  // The survey decodes as playback from the start does: without an effect, a block it finds
  // failing plays as silence (block 0 is the priming block, silent anyway).
  if (!info.effect_known || info.effect_code == 0 || info.effect_level == 0)
    for (int64_t i = 0; i < survey.failed_blocks; i++)
      FUZZ_CHECK(silent(&first[(size_t)(2 + failed[(size_t)i]) * QUIRA_BUFFER_SAMPLES], QUIRA_BUFFER_SAMPLES),
                 "a block that fails to decode plays as silence");
  FUZZ_CHECK(first == play_through(path), "the same bytes play to the same samples twice");
  return 0;
}

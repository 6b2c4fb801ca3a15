// SPDX-License-Identifier: MIT
// libquira at the edges of its interface, as another program may call it: every status value,
// sampling rates from zero to infinity, sample counts and block indices near INT64_MAX, carriers
// of exabytes read through a caller's reader, readers that claim more than they read, effect
// choices outside the header's bytes, and calls out of order. A call that could crash or never
// return runs in a child process with a deadline, so a regression fails rather than hangs.
#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "quira/quira.h"
#include "tests/media.h"

namespace {

// Runs body in a child process killed after seconds. Its exit status, or minus the signal that
// ended it (SIGALRM: it ran out of time).
int in_child(const std::function<int()>& body, unsigned seconds = 20) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The alsa-utils prompt as floats (sox reads it), repeated to at least n samples.
std::vector<float> speech(size_t n) {
  TempDir dir;
  const std::string raw = dir.path + "/speech.f32";
  EXPECT_EQ(system(("sox /usr/share/sounds/alsa/Front_Center.wav -t f32 " + raw).c_str()), 0);
  std::vector<uint8_t> bytes = read_bytes(raw);
  std::vector<float> one(bytes.size() / 4), out;
  memcpy(one.data(), bytes.data(), one.size() * 4);
  while (out.size() < n) out.insert(out.end(), one.begin(), one.end());
  out.resize(n);
  return out;
}

const QuiraMakeOptions PLAIN = {sizeof(QuiraMakeOptions), 0, 0, 32, -1};

// A carrier of size bytes read through a QuiraSource: the front part and header of a real
// carrier, then zeros (a sparse file), with every read's offset noted.
struct FarSource {
  std::vector<uint8_t> front;  // the player and the header
  int64_t size;
  int64_t claim_extra = 0;     // how many bytes more than it read the reader claims
  std::vector<int64_t> offsets;
  static int64_t read_at(void* context, int64_t offset, void* buffer, int32_t n) {
    FarSource* s = (FarSource*)context;
    s->offsets.push_back(offset);
    if (offset >= s->size) return 0;
    int64_t take = s->size - offset < n ? s->size - offset : n;
    for (int64_t i = 0; i < take; i++)
      ((uint8_t*)buffer)[i] = offset + i < (int64_t)s->front.size() ? s->front[(size_t)(offset + i)] : 0;
    return take + s->claim_extra;
  }
  QuiraSource source() { return {sizeof(QuiraSource), this, read_at, size}; }
};

FarSource far_source(int64_t size) {
  std::vector<uint8_t> bytes = read_bytes(media_path("speech-32.exe"));
  bytes.resize(QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES);
  return {bytes, size, 0, {}};
}

// Every block read lies inside the payload: none lands back in the front part or past the end.
void expect_reads_in_payload(const FarSource& s, size_t from) {
  for (size_t i = from; i < s.offsets.size(); i++) {
    EXPECT_GE(s.offsets[i], QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES) << "read " << i;
    EXPECT_LE(s.offsets[i], s.size) << "read " << i;
  }
}

}  // namespace

// The header promises a sentence for every status; the most negative one was negated past
// INT_MAX and indexed the table with it.
TEST(LibraryEdges, EveryStatusHasASentence) {
  for (int status : {INT_MIN, INT_MIN + 1, QUIRA_ERR_DAMAGED - 1, INT_MAX, 1})
    EXPECT_STREQ(quira_status_text(status), "unknown status") << status;
  EXPECT_STREQ(quira_status_text(QUIRA_ERR_MEMORY), "out of memory");
  EXPECT_STREQ(quira_status_text(QUIRA_OK), "success");
}

// The maker took any positive finite rate, and the resampler then crashed (1e-6 Hz, 4.9e-324 Hz),
// never returned from one write (0.01 Hz, 1e-9 Hz) or hung in its set-up (1e14 Hz). Outside the
// range it resamples, a rate is refused at once; at both ends of the range it makes a carrier of
// the right length.
TEST(LibraryEdges, MakerRatesOutsideTheResamplersRangeAreRefused) {
  const std::vector<double> refused = {0.0,    -1.0,  1e-6, 4.9e-324, 0.01, 1e-9, 1e-30, 0.999999,
                                       4294967296.0, 1e14, 1e300, INFINITY, -INFINITY, NAN};
  for (double rate : refused) {
    int status = in_child([rate] {
      QuiraMaker* maker = nullptr;
      int made = quira_maker_new(rate, 1, &PLAIN, &maker);
      if (made == QUIRA_OK) {
        const float sample = 0.5f;
        quira_maker_write(maker, &sample, 1);
        quira_maker_finish(maker);
      } else if (maker) {
        return 100;  // a refusal must leave no maker behind
      }
      quira_maker_free(maker);
      return -made;
    });
    EXPECT_EQ(status, -QUIRA_ERR_ARGUMENT) << "rate " << rate << " (negative: killed by that signal)";
  }

  // Real speech at the range's ends: 8 samples at 1 Hz are 8 s of voice; 2^19 samples at
  // 2^32 - 1 Hz are a few samples at 16 kHz. Each is a carrier whose voice mark says so.
  struct Edge {
    double rate;
    size_t frames;
  };
  for (Edge edge : {Edge{QUIRA_MAKER_RATE_MIN, 8}, Edge{QUIRA_MAKER_RATE_MAX, (size_t)1 << 19}}) {
    SCOPED_TRACE(edge.rate);
    std::vector<float> voice = speech(edge.frames);
    QuiraMaker* maker = nullptr;
    ASSERT_EQ(quira_maker_new(edge.rate, 1, &PLAIN, &maker), QUIRA_OK);
    ASSERT_EQ(quira_maker_write(maker, voice.data(), (int64_t)voice.size()), QUIRA_OK);
    ASSERT_EQ(quira_maker_finish(maker), QUIRA_OK);
    const double expected = (double)edge.frames * QUIRA_SAMPLE_RATE / edge.rate;
    EXPECT_NEAR((double)quira_maker_voice_samples(maker), expected, 1.0);
    std::vector<uint8_t> carrier((size_t)quira_maker_size(maker));
    ASSERT_EQ(quira_maker_read(maker, 0, carrier.data(), carrier.size()), (int64_t)carrier.size());
    quira_maker_free(maker);
    QuiraCarrier* opened = nullptr;
    ASSERT_EQ(quira_carrier_open_memory(carrier.data(), carrier.size(), &opened), QUIRA_OK);
    QuiraHeaderFacts facts = {};
    facts.struct_size = sizeof facts;
    ASSERT_EQ(quira_carrier_header(opened, &facts), QUIRA_OK);
    EXPECT_TRUE(facts.has_voice_mark);
    EXPECT_NEAR((double)facts.voice_samples, expected, 1.0);
    quira_carrier_close(opened);
  }
}

// samples * 2 wrapped before the range check: 2^62 samples were a success with a data size of 0.
TEST(LibraryEdges, WavHeaderRefusesEveryCountPastItsSizes) {
  uint8_t header[44];
  const int64_t most = ((int64_t)0xFFFFFFFF - 36) / 2;
  EXPECT_EQ(quira_wav_header(most, header, sizeof header), QUIRA_WAV_HEADER_BYTES);
  EXPECT_EQ(header[40] | header[41] << 8 | header[42] << 16 | (uint32_t)header[43] << 24, (uint32_t)(most * 2));
  for (int64_t samples : {most + 1, (int64_t)1 << 62, ((int64_t)1 << 62) + 1, INT64_MAX / 2 + 1, INT64_MAX})
    EXPECT_EQ(quira_wav_header(samples, header, sizeof header), QUIRA_ERR_WAV_LIMIT) << samples;
  for (int64_t samples : {(int64_t)-2, INT64_MIN})
    EXPECT_EQ(quira_wav_header(samples, header, sizeof header), QUIRA_ERR_ARGUMENT) << samples;
}

// A carrier of INT64_MAX bytes through a reader: the offset of its highest blocks overflowed
// (block INT64_MAX read from the front part, 1,440 bytes before the payload), and so did the
// message's length in samples, which made the message as heard hold its zeros for ever.
TEST(LibraryEdges, BlocksNearInt64MaxAreReadInsideThePayload) {
  FarSource far = far_source(INT64_MAX);
  QuiraSource source = far.source();
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_source(&source, &carrier), QUIRA_OK);
  QuiraHeaderFacts facts = {};
  facts.struct_size = sizeof facts;
  ASSERT_EQ(quira_carrier_header(carrier, &facts), QUIRA_OK);
  EXPECT_TRUE(facts.player_ours);
  const int64_t blocks = facts.blocks;
  EXPECT_EQ(blocks, (INT64_MAX - QUIRA_PAYLOAD_OFFSET - QUIRA_HEADER_BYTES + QUIRA_BLOCK_BYTES - 1) / QUIRA_BLOCK_BYTES);

  size_t from = far.offsets.size();
  uint8_t frames[QUIRA_BLOCK_BYTES];
  for (int64_t block : {INT64_MAX, INT64_MAX / QUIRA_BLOCK_BYTES, blocks, blocks - 1})
    EXPECT_EQ(quira_carrier_frames(carrier, block, frames, sizeof frames), QUIRA_ERR_NOT_FRAMES) << block;
  expect_reads_in_payload(far, from);

  // The player held at the end and started: it backs up to the last block, plays it, and ends.
  from = far.offsets.size();
  QuiraPlayer* player = nullptr;
  ASSERT_EQ(quira_player_new(carrier, nullptr, &player), QUIRA_OK);
  ASSERT_EQ(quira_player_seek(player, INT64_MAX), QUIRA_OK);
  EXPECT_EQ(quira_player_position(player), blocks);
  ASSERT_EQ(quira_player_start(player), QUIRA_OK);
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t kind = -1;
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind), QUIRA_BUFFER_SAMPLES);
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind), QUIRA_BUFFER_SAMPLES);
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind), QUIRA_BUFFER_SAMPLES);
  EXPECT_EQ(kind, QUIRA_BUFFER_PRIMING);
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind), 0) << "the payload ends after the last block";
  char title[QUIRA_TITLE_CHARS];
  quira_player_title(player, title, sizeof title);
  EXPECT_STREQ(title, "Quira [596523:14:07]-[596523:14:07]");
  quira_player_free(player);
  expect_reads_in_payload(far, from);
  quira_carrier_close(carrier);

  // The message as heard, from its start: silence (the zeros do not decode), handed out as it
  // comes. In a child: a length that wrapped made it read on without returning.
  EXPECT_EQ(in_child([] {
              FarSource far = far_source(INT64_MAX);
              QuiraSource source = far.source();
              QuiraCarrier* carrier = nullptr;
              QuiraHeard* heard = nullptr;
              if (quira_carrier_open_source(&source, &carrier) || quira_heard_open(carrier, nullptr, &heard)) return 1;
              std::vector<int16_t> samples(3 * QUIRA_BUFFER_SAMPLES, 1);
              int64_t got = quira_heard_read(heard, samples.data(), samples.size());
              for (int16_t s : samples)
                if (s != 0) return 2;
              quira_heard_close(heard);
              quira_carrier_close(carrier);
              return got == (int64_t)samples.size() ? 0 : 3;
            }, 10),
            0);
}

// A reader that claims more bytes than it was asked for was trusted: the front part's hash ran
// past its 4,096-byte chunk on the stack, and the header counted 4,108 bytes read of 12. Any
// negative answer is a read error.
TEST(LibraryEdges, AReadersClaimsAreHeldToWhatWasAsked) {
  QuiraCarrier* real = nullptr;
  ASSERT_EQ(quira_carrier_open_path(media_path("speech-32.exe").c_str(), &real, nullptr), QUIRA_OK);
  QuiraHeaderFacts truth = {};
  truth.struct_size = sizeof truth;
  ASSERT_EQ(quira_carrier_header(real, &truth), QUIRA_OK);
  quira_carrier_close(real);

  FarSource far = far_source(QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES + 10 * QUIRA_BLOCK_BYTES);
  far.claim_extra = 4096;
  QuiraSource source = far.source();
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_source(&source, &carrier), QUIRA_OK);
  QuiraHeaderFacts facts = {};
  facts.struct_size = sizeof facts;
  ASSERT_EQ(quira_carrier_header(carrier, &facts), QUIRA_OK);
  EXPECT_EQ(facts.header_bytes_read, QUIRA_HEADER_BYTES);
  EXPECT_EQ(memcmp(facts.player_sha256, truth.player_sha256, 32), 0) << "the front part hashed as it is";
  EXPECT_TRUE(facts.player_ours);
  uint8_t bytes[64];
  EXPECT_EQ(quira_carrier_read(carrier, 0, bytes, 16), 16);
  far.claim_extra = -16 - 7;  // answers -7
  EXPECT_EQ(quira_carrier_read(carrier, 0, bytes, 16), QUIRA_ERR_READ);
  quira_carrier_close(carrier);
}

// The header documents a code and a level of -128 to 127; others wrapped (code 257 played as 1,
// a level byte of 256 as 0). They are refused, and the ends of the ranges play.
TEST(LibraryEdges, EffectChoicesOutsideTheHeaderBytesAreRefused) {
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_path(media_path("speech-32.exe").c_str(), &carrier, nullptr), QUIRA_OK);
  const uint32_t size = sizeof(QuiraEffectChoice);
  for (QuiraEffectChoice choice : {QuiraEffectChoice{size, 257, 0}, QuiraEffectChoice{size, -129, 0},
                                   QuiraEffectChoice{size, 1, 128}, QuiraEffectChoice{size, 1, -129},
                                   QuiraEffectChoice{size, INT32_MIN, INT32_MAX}}) {
    SCOPED_TRACE(std::to_string(choice.effect_code) + " " + std::to_string(choice.effect_level));
    QuiraPlayer* player = (QuiraPlayer*)&choice;
    EXPECT_EQ(quira_player_new(carrier, &choice, &player), QUIRA_ERR_ARGUMENT);
    EXPECT_EQ(player, nullptr);
    QuiraHeard* heard = (QuiraHeard*)&choice;
    EXPECT_EQ(quira_heard_open(carrier, &choice, &heard), QUIRA_ERR_ARGUMENT);
    EXPECT_EQ(heard, nullptr);
  }
  for (QuiraEffectChoice choice : {QuiraEffectChoice{size, -128, -128}, QuiraEffectChoice{size, 127, 127}}) {
    QuiraPlayer* player = nullptr;
    EXPECT_EQ(quira_player_new(carrier, &choice, &player), QUIRA_OK);
    quira_player_free(player);
    QuiraHeard* heard = nullptr;
    EXPECT_EQ(quira_heard_open(carrier, &choice, &heard), QUIRA_OK);
    quira_heard_close(heard);
  }
  quira_carrier_close(carrier);
}

// The elapsed time of INT64_MIN blocks converted a double far below INT_MIN to int (undefined:
// the sanitizer build's float-cast-overflow check stops there).
TEST(LibraryEdges, TitlesOfAnyBlockCountAreHeldToTheClock) {
  char title[QUIRA_TITLE_CHARS];
  quira_title_text(INT64_MIN, 5, title, sizeof title);
  EXPECT_STREQ(title, "Quira [00:00:00]-[00:00:05]");
  quira_title_text(-1000000000000LL, INT32_MIN, title, sizeof title);
  EXPECT_STREQ(title, "Quira [00:00:00]-[00:00:00]");
  quira_title_text(INT64_MAX, INT32_MAX, title, sizeof title);
  EXPECT_STREQ(title, "Quira [596523:14:07]-[596523:14:07]");
}

// Calls out of order get QUIRA_ERR_STATE, a null argument QUIRA_ERR_ARGUMENT, and neither changes
// what the objects then do.
TEST(LibraryEdges, CallsOutOfOrderAreRefusedAndChangeNothing) {
  QuiraMaker* maker = nullptr;
  EXPECT_EQ(quira_maker_new(16000, 1, nullptr, &maker), QUIRA_ERR_ARGUMENT);
  EXPECT_EQ(quira_maker_new(16000, 0, &PLAIN, &maker), QUIRA_ERR_RATE);
  ASSERT_EQ(quira_maker_new(48000, 1, &PLAIN, &maker), QUIRA_OK);
  EXPECT_EQ(quira_maker_size(maker), QUIRA_ERR_STATE) << "no carrier before finish";
  uint8_t byte = 0;
  EXPECT_EQ(quira_maker_read(maker, 0, &byte, 1), QUIRA_ERR_STATE);
  EXPECT_EQ(quira_maker_write(maker, nullptr, 1), QUIRA_ERR_ARGUMENT);
  EXPECT_EQ(quira_maker_write(maker, nullptr, 0), QUIRA_OK);
  std::vector<float> voice = speech(48000);
  EXPECT_EQ(quira_maker_write(maker, voice.data(), -1), QUIRA_ERR_ARGUMENT);
  ASSERT_EQ(quira_maker_write(maker, voice.data(), (int64_t)voice.size()), QUIRA_OK);
  ASSERT_EQ(quira_maker_finish(maker), QUIRA_OK);
  const int64_t size = quira_maker_size(maker);
  EXPECT_EQ(quira_maker_finish(maker), QUIRA_ERR_STATE);
  EXPECT_EQ(quira_maker_write(maker, voice.data(), 1), QUIRA_ERR_STATE);
  EXPECT_EQ(quira_maker_size(maker), size);
  EXPECT_EQ(quira_maker_voice_samples(maker), 16000);
  EXPECT_EQ(quira_maker_read(maker, size, &byte, 1), 0);
  EXPECT_EQ(quira_maker_read(maker, INT64_MAX, &byte, 1), 0);
  EXPECT_EQ(quira_maker_read(maker, -1, &byte, 1), QUIRA_ERR_ARGUMENT);
  std::vector<uint8_t> carrier((size_t)size);
  ASSERT_EQ(quira_maker_read(maker, 0, carrier.data(), SIZE_MAX), size);
  quira_maker_free(maker);

  QuiraCarrier* opened = nullptr;
  ASSERT_EQ(quira_carrier_open_memory(carrier.data(), carrier.size(), &opened), QUIRA_OK);
  QuiraPlayer* player = nullptr;
  ASSERT_EQ(quira_player_new(opened, nullptr, &player), QUIRA_OK);
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, nullptr), 0) << "not started";
  EXPECT_EQ(quira_player_next(player, nullptr, QUIRA_BUFFER_SAMPLES, nullptr), QUIRA_ERR_ARGUMENT);
  ASSERT_EQ(quira_player_start(player), QUIRA_OK);
  EXPECT_EQ(quira_player_start(player), QUIRA_ERR_STATE);
  EXPECT_EQ(quira_player_seek(player, 1), QUIRA_ERR_STATE);
  int played = 0;
  while (quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, nullptr) > 0) played++;
  QuiraHeaderFacts facts = {};
  facts.struct_size = sizeof facts;
  ASSERT_EQ(quira_carrier_header(opened, &facts), QUIRA_OK);
  EXPECT_EQ(played, 2 + facts.blocks) << "two start buffers, then one for every block";
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, nullptr), 0);
  EXPECT_EQ(quira_player_position(player), 0);
  quira_player_free(player);
  QuiraHeard* heard = nullptr;
  ASSERT_EQ(quira_heard_open(opened, nullptr, &heard), QUIRA_OK);
  std::vector<int16_t> samples(40000);
  EXPECT_EQ(quira_heard_read(heard, samples.data(), samples.size()), 16000);
  EXPECT_EQ(quira_heard_read(heard, samples.data(), samples.size()), 0);
  EXPECT_EQ(quira_heard_read(heard, nullptr, 1), QUIRA_ERR_ARGUMENT);
  quira_heard_close(heard);
  quira_carrier_close(opened);
  quira_player_free(nullptr);
  quira_heard_close(nullptr);
  quira_maker_free(nullptr);
  quira_carrier_close(nullptr);
}

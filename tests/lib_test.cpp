// SPDX-License-Identifier: MIT
// libquira through its C interface: independent objects in parallel threads, one carrier shared by
// threads, readers that stream whatever the size of the caller's reads, carriers in memory and
// from descriptors, what a failed open reports, the lengths known before reading, and the
// conventions every call keeps (statuses, capacities, struct sizes, the version).
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quira/quira.h"
#include "tests/media.h"

namespace {

QuiraEffectChoice choice(int32_t code, int32_t level) { return {sizeof(QuiraEffectChoice), code, level}; }

struct Job {
  std::string carrier;
  QuiraEffectChoice effect;
  std::vector<int16_t> played, heard;
  int64_t played_length = -1, heard_bound = -1;
};

// Everything the player hands its device from the start to the natural end, then the message as
// heard, read in pieces of `piece` samples, over an open carrier.
void run_on(QuiraCarrier* carrier, Job& job, int64_t piece) {
  QuiraPlayer* player = nullptr;
  ASSERT_EQ(quira_player_new(carrier, &job.effect, &player), QUIRA_OK);
  ASSERT_EQ(quira_player_start(player), QUIRA_OK);
  job.played_length = quira_player_length(player);
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t kind = -1, n = 0;
  while ((n = quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, &kind)) > 0) {
    ASSERT_EQ(n, QUIRA_BUFFER_SAMPLES);
    job.played.insert(job.played.end(), buffer, buffer + n);
  }
  ASSERT_EQ(n, 0);
  quira_player_free(player);

  QuiraHeard* heard = nullptr;
  ASSERT_EQ(quira_heard_open(carrier, &job.effect, &heard), QUIRA_OK);
  job.heard_bound = quira_heard_bound(heard);
  std::vector<int16_t> part((size_t)piece);
  int64_t got = 0;
  while ((got = quira_heard_read(heard, part.data(), part.size())) > 0)
    job.heard.insert(job.heard.end(), part.begin(), part.begin() + got);
  ASSERT_EQ(got, 0);
  quira_heard_close(heard);
}

void run_job(Job& job, int64_t piece) {
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_path(job.carrier.c_str(), &carrier, nullptr), QUIRA_OK) << job.carrier;
  run_on(carrier, job, piece);
  quira_carrier_close(carrier);
}

std::vector<Job> jobs() {
  // One carrier of each format, and one effect of each family (and none).
  return {{media_path("speech-32.exe"), choice(4, 97), {}, {}},
          {media_path("speech-16.exe"), choice(10, 127), {}, {}},
          {media_path("speech-8.exe"), choice(15, 63), {}, {}},
          {media_path("prompts-32.exe"), choice(0, 0), {}, {}}};
}

// A caller's reader as the header's rules ask of one used from several threads: pread on a
// descriptor of its own, which keeps no position between calls.
int64_t pread_at(void* context, int64_t offset, void* buffer, int32_t n) {
  return pread(*static_cast<int*>(context), buffer, (size_t)n, (off_t)offset);
}

}  // namespace

TEST(LibraryMedia, CarriersInParallelThreadsGiveTheirSequentialOutputs) {
  std::vector<Job> alone = jobs(), together = jobs();
  for (Job& job : alone) run_job(job, 100000);
  std::vector<std::thread> threads;
  for (Job& job : together) threads.emplace_back([&job] { run_job(job, 100000); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < alone.size(); i++) {
    SCOPED_TRACE(alone[i].carrier);
    EXPECT_GT(alone[i].played.size(), 10u * QUIRA_BUFFER_SAMPLES);
    EXPECT_TRUE(alone[i].played == together[i].played);
    EXPECT_GT(alone[i].heard.size(), 0u);
    EXPECT_TRUE(alone[i].heard == together[i].heard);
    // The lengths known before reading: the player's exactly, the heard stream's a bound that a
    // dry message meets exactly.
    EXPECT_EQ(alone[i].played_length, (int64_t)alone[i].played.size());
    EXPECT_GE(alone[i].heard_bound, (int64_t)alone[i].heard.size());
    EXPECT_LT(alone[i].heard_bound, (int64_t)alone[i].heard.size() + 18 * QUIRA_BUFFER_SAMPLES);
    if (alone[i].effect.effect_code == 0) {
      EXPECT_EQ(alone[i].heard_bound, (int64_t)alone[i].heard.size());
    }
  }
}

// The thread rule for shared carriers: players and heard streams over one carrier run on several
// threads at once, over the library's own reader and over a caller's pread.
TEST(LibraryMedia, OneCarrierSharedByThreadsGivesTheSequentialOutputs) {
  const std::string path = media_path("speech-32.exe");
  Job expected = {path, choice(8, 80), {}, {}};
  run_job(expected, 4096);
  ASSERT_GT(expected.heard.size(), 0u);

  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(fstat(fd, &st), 0);
  QuiraSource source = {sizeof source, &fd, pread_at, (int64_t)st.st_size};
  QuiraCarrier *own = nullptr, *callers = nullptr;
  ASSERT_EQ(quira_carrier_open_path(path.c_str(), &own, nullptr), QUIRA_OK);
  ASSERT_EQ(quira_carrier_open_source(&source, &callers), QUIRA_OK);
  std::vector<Job> shared(6, expected);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < shared.size(); i++) {
    shared[i].played.clear();
    shared[i].heard.clear();
    QuiraCarrier* carrier = i % 2 ? own : callers;
    threads.emplace_back([carrier, &job = shared[i], i] { run_on(carrier, job, 1000 + 777 * (int64_t)i); });
  }
  for (std::thread& t : threads) t.join();
  for (const Job& job : shared) {
    EXPECT_TRUE(job.played == expected.played);
    EXPECT_TRUE(job.heard == expected.heard);
  }
  quira_carrier_close(own);
  quira_carrier_close(callers);
  close(fd);
}

TEST(LibraryMedia, TheMessageAsHeardIsTheSameReadInAnyPieces) {
  for (Job big : jobs()) {
    Job small = big;
    run_job(big, 1 << 20);
    run_job(small, 7);  // smaller than a buffer, and prime to it: every boundary falls elsewhere
    SCOPED_TRACE(big.carrier);
    EXPECT_TRUE(big.heard == small.heard);
    // Its tail ends on a sound: zeros past the voice are left off.
    if (big.effect.effect_code != 0) {
      EXPECT_NE(big.heard.back(), 0);
    }
  }
}

TEST(LibraryMedia, CarriersInMemoryAndFromDescriptorsReadAsTheirFiles) {
  const std::string path = media_path("speech-16.exe");
  std::vector<uint8_t> bytes = read_bytes(path);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  QuiraCarrier *from_file = nullptr, *from_memory = nullptr, *from_fd = nullptr;
  QuiraOpenReport report = {sizeof report, -1, -1, -1};
  ASSERT_EQ(quira_carrier_open_path(path.c_str(), &from_file, &report), QUIRA_OK);
  EXPECT_EQ(report.system_error, 0);
  EXPECT_EQ(report.file_kind, QUIRA_FILE_REGULAR);
  EXPECT_EQ(report.file_bytes, (int64_t)bytes.size());
  ASSERT_EQ(quira_carrier_open_memory(bytes.data(), bytes.size(), &from_memory), QUIRA_OK);
  ASSERT_EQ(quira_carrier_open_fd(fd, &from_fd, nullptr), QUIRA_OK);
  close(fd);  // the carrier holds a descriptor of its own
  QuiraHeaderFacts a = {}, b = {}, c = {};
  a.struct_size = b.struct_size = c.struct_size = sizeof a;
  ASSERT_EQ(quira_carrier_header(from_file, &a), QUIRA_OK);
  ASSERT_EQ(quira_carrier_header(from_memory, &b), QUIRA_OK);
  ASSERT_EQ(quira_carrier_header(from_fd, &c), QUIRA_OK);
  EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(memcmp(&a, &c, sizeof a), 0);
  EXPECT_TRUE(a.player_ours);
  // The front part is the player this library puts in front of what it makes.
  uint8_t own[QUIRA_SHA256_BYTES];
  ASSERT_EQ(quira_embedded_player_sha256(own, sizeof own), QUIRA_OK);
  EXPECT_EQ(memcmp(own, a.player_sha256, sizeof own), 0);
  for (int64_t k : {(int64_t)0, (int64_t)5, a.blocks - 1}) {
    uint8_t fa[QUIRA_BLOCK_BYTES], fb[QUIRA_BLOCK_BYTES], fc[QUIRA_BLOCK_BYTES];
    const int32_t na = quira_carrier_frames(from_file, k, fa, sizeof fa);
    EXPECT_EQ(na, 720);
    EXPECT_EQ(quira_carrier_frames(from_memory, k, fb, sizeof fb), na);
    EXPECT_EQ(quira_carrier_frames(from_fd, k, fc, sizeof fc), na);
    EXPECT_TRUE(memcmp(fa, fb, (size_t)na) == 0 && memcmp(fa, fc, (size_t)na) == 0);
    // Room for the frames only is enough; a byte less is refused.
    EXPECT_EQ(quira_carrier_frames(from_file, k, fb, 720), 720);
    EXPECT_EQ(quira_carrier_frames(from_file, k, fb, 719), QUIRA_ERR_CAPACITY);
  }
  uint8_t tail[100];
  EXPECT_EQ(quira_carrier_read(from_fd, (int64_t)bytes.size() - 10, tail, sizeof tail), 10);
  EXPECT_EQ(memcmp(tail, bytes.data() + bytes.size() - 10, 10), 0);
  quira_carrier_close(from_file);
  quira_carrier_close(from_memory);
  quira_carrier_close(from_fd);
}

// What a failed open says: the system's error, the kind of file, its length; nothing waits.
TEST(LibraryMedia, AFailedOpenReportsWhy) {
  TempDir dir;
  auto open_report = [](const std::string& path, QuiraOpenReport* report) {
    *report = {sizeof *report, -1, -1, -1};
    QuiraCarrier* carrier = reinterpret_cast<QuiraCarrier*>(&carrier);
    QuiraStatus status = quira_carrier_open_path(path.c_str(), &carrier, report);
    EXPECT_EQ(carrier, nullptr) << path;
    return status;
  };
  QuiraOpenReport report;
  EXPECT_EQ(open_report(dir.path + "/missing.exe", &report), QUIRA_ERR_READ);
  EXPECT_EQ(report.system_error, ENOENT);
  EXPECT_EQ(open_report(dir.path, &report), QUIRA_ERR_NOT_FILE);
  EXPECT_EQ(report.file_kind, QUIRA_FILE_DIRECTORY);
  EXPECT_EQ(report.system_error, EISDIR);
  const std::string fifo = dir.path + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(open_report(fifo, &report), QUIRA_ERR_NOT_FILE) << "refused at once, no writer waited for";
  EXPECT_EQ(report.file_kind, QUIRA_FILE_FIFO);
  EXPECT_EQ(open_report("/dev/null", &report), QUIRA_ERR_NOT_FILE);
  EXPECT_EQ(report.file_kind, QUIRA_FILE_CHARACTER_DEVICE);
  std::vector<uint8_t> bytes = read_bytes(media_path("speech-16.exe"));
  const std::string short_file = dir.path + "/short.exe";
  FILE* f = fopen(short_file.c_str(), "wb");
  fwrite(bytes.data(), 1, QUIRA_PAYLOAD_OFFSET - 1, f);
  fclose(f);
  EXPECT_EQ(open_report(short_file, &report), QUIRA_ERR_NOT_CARRIER);
  EXPECT_EQ(report.file_bytes, QUIRA_PAYLOAD_OFFSET - 1);
  QuiraCarrier* none = nullptr;
  EXPECT_EQ(quira_carrier_open_memory(bytes.data(), QUIRA_PAYLOAD_OFFSET - 1, &none), QUIRA_ERR_NOT_CARRIER);
  EXPECT_EQ(quira_carrier_open_fd(-1, &none, nullptr), QUIRA_ERR_ARGUMENT);
  EXPECT_EQ(none, nullptr);
}

// The rules every call keeps: negative statuses with a sentence each, capacities checked before
// anything is written, struct sizes, one encoding of the level, the version.
TEST(LibraryMedia, EveryCallKeepsTheConventions) {
  std::set<std::string> texts;
  for (int32_t status = QUIRA_OK; status >= QUIRA_ERR_DAMAGED; status--) texts.insert(quira_status_text(status));
  EXPECT_EQ(texts.size(), (size_t)(1 - QUIRA_ERR_DAMAGED)) << "a sentence of its own for every status";
  for (int32_t unknown : {1, QUIRA_ERR_DAMAGED - 1, INT32_MIN, INT32_MAX})
    EXPECT_STREQ(quira_status_text(unknown), "unknown status");

  EXPECT_EQ(QUIRA_VERSION_CHECK(), QUIRA_OK);
  EXPECT_EQ(quira_version_number(), QUIRA_VERSION_NUMBER);
  EXPECT_EQ(quira_version_check(QUIRA_VERSION_MAJOR, QUIRA_VERSION_MINOR + 1), QUIRA_ERR_VERSION);
  EXPECT_EQ(quira_version_check(QUIRA_VERSION_MAJOR + 1, 0), QUIRA_ERR_VERSION);
  EXPECT_EQ(quira_version_check(QUIRA_VERSION_MAJOR - 1, QUIRA_VERSION_MINOR), QUIRA_ERR_VERSION);
  EXPECT_EQ(std::string(quira_version()).rfind(std::to_string(QUIRA_VERSION_MAJOR) + ".", 0), 0u);

  std::vector<uint8_t> bytes = read_bytes(media_path("speech-32.exe"));
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_memory(bytes.data(), bytes.size(), &carrier), QUIRA_OK);
  QuiraHeaderFacts facts = {};
  facts.struct_size = sizeof facts - 1;
  EXPECT_EQ(quira_carrier_header(carrier, &facts), QUIRA_ERR_ARGUMENT) << "a struct smaller than this version's";
  // A larger struct, as a later version's client passes it: the fields known are filled, the
  // rest zeroed.
  struct Later {
    QuiraHeaderFacts facts;
    uint64_t more;
  } later;
  memset(&later, 0xAB, sizeof later);
  later.facts.struct_size = sizeof later;
  ASSERT_EQ(quira_carrier_header(carrier, &later.facts), QUIRA_OK);
  EXPECT_EQ(later.facts.struct_size, sizeof later);
  EXPECT_EQ(later.more, 0u);
  EXPECT_EQ(later.facts.blocks, (int64_t)(bytes.size() - QUIRA_PAYLOAD_OFFSET - QUIRA_HEADER_BYTES + 1439) / 1440);
  EXPECT_EQ(later.facts.level_byte, (uint8_t)(127 - later.facts.effect_level));

  QuiraEffectChoice bad = choice(3, 128);
  QuiraPlayer* player = nullptr;
  EXPECT_EQ(quira_player_new(carrier, &bad, &player), QUIRA_ERR_ARGUMENT) << "a level beyond the signed byte";
  bad = choice(3, 10);
  bad.struct_size = 4;
  EXPECT_EQ(quira_player_new(carrier, &bad, &player), QUIRA_ERR_ARGUMENT);
  EXPECT_EQ(player, nullptr);
  QuiraEffectChoice fine = choice(3, 10);
  ASSERT_EQ(quira_player_new(carrier, &fine, &player), QUIRA_OK);
  ASSERT_EQ(quira_player_start(player), QUIRA_OK);
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES - 1, nullptr), QUIRA_ERR_CAPACITY);
  EXPECT_EQ(quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, nullptr), QUIRA_BUFFER_SAMPLES);
  EXPECT_EQ(quira_player_start(player), QUIRA_ERR_STATE);
  char title[QUIRA_TITLE_CHARS];
  const int32_t length = quira_player_title(player, title, sizeof title);
  EXPECT_EQ(length, (int32_t)strlen(title));
  char expected[QUIRA_TITLE_CHARS];
  EXPECT_EQ(quira_title_text(0, later.facts.total_seconds, expected, sizeof expected), length);
  EXPECT_STREQ(title, expected);
  EXPECT_EQ(quira_player_title(player, title, (size_t)length), QUIRA_ERR_CAPACITY) << "no room for the terminator";
  EXPECT_STREQ(title, "");
  quira_player_free(player);
  char clock[QUIRA_CLOCK_CHARS];
  EXPECT_EQ(quira_clock_text(INT32_MAX, clock, sizeof clock), 12);
  EXPECT_STREQ(clock, "596523:14:07");
  EXPECT_EQ(quira_title_text(INT64_MAX, INT32_MAX, title, sizeof title), 35);

  uint8_t header[QUIRA_WAV_HEADER_BYTES];
  EXPECT_EQ(quira_wav_header(10, header, sizeof header - 1), QUIRA_ERR_CAPACITY);
  EXPECT_EQ(quira_wav_header(((int64_t)UINT32_MAX - 36) / 2 + 1, header, sizeof header), QUIRA_ERR_WAV_LIMIT);
  EXPECT_EQ(quira_wav_header(INT64_MAX, header, sizeof header), QUIRA_ERR_WAV_LIMIT);
  EXPECT_EQ(quira_wav_header(-2, header, sizeof header), QUIRA_ERR_ARGUMENT);
  // An open length: every size as large as 32 bits hold.
  ASSERT_EQ(quira_wav_header(QUIRA_WAV_OPEN_LENGTH, header, sizeof header), QUIRA_WAV_HEADER_BYTES);
  EXPECT_EQ(memcmp(header + 4, "\xff\xff\xff\xff", 4), 0);
  EXPECT_EQ(memcmp(header + 40, "\xff\xff\xff\xff", 4), 0);
  uint8_t digest[QUIRA_SHA256_BYTES];
  EXPECT_EQ(quira_embedded_player_sha256(digest, sizeof digest - 1), QUIRA_ERR_CAPACITY);
  quira_carrier_close(carrier);
}

// One recording, finished once, gives the carrier of every effect: the frames and the voice mark
// stay, the header names the effect chosen, its level stored as the level byte.
TEST(LibraryMedia, AMakerNamesAnyEffectAfterTheRecording) {
  Job source = {media_path("speech-16.exe"), choice(0, 0), {}, {}};
  run_job(source, 65536);
  std::vector<float> voice(source.heard.begin(), source.heard.end());
  for (float& v : voice) v /= 32768.0f;
  QuiraMakeOptions options;
  ASSERT_EQ(quira_make_options_init(&options), QUIRA_OK);
  options.bitrate_kbps = 16;
  QuiraMaker* maker = nullptr;
  ASSERT_EQ(quira_maker_new(QUIRA_SAMPLE_RATE, 1, &options, &maker), QUIRA_OK);
  EXPECT_EQ(quira_maker_size(maker), QUIRA_ERR_STATE);
  ASSERT_EQ(quira_maker_write(maker, voice.data(), (int64_t)voice.size()), QUIRA_OK);
  ASSERT_EQ(quira_maker_finish(maker), QUIRA_OK);
  const int64_t size = quira_maker_size(maker);
  std::vector<std::vector<uint8_t>> made;
  for (QuiraEffectChoice effect : {choice(0, 0), choice(5, 100), choice(16, -128)}) {
    ASSERT_EQ(quira_maker_set_effect(maker, &effect), QUIRA_OK);
    std::vector<uint8_t> bytes((size_t)size + 10);
    ASSERT_EQ(quira_maker_read(maker, 0, bytes.data(), bytes.size()), size) << "read to its end, no further";
    bytes.resize((size_t)size);
    QuiraCarrier* carrier = nullptr;
    ASSERT_EQ(quira_carrier_open_memory(bytes.data(), bytes.size(), &carrier), QUIRA_OK);
    QuiraHeaderFacts facts = {};
    facts.struct_size = sizeof facts;
    ASSERT_EQ(quira_carrier_header(carrier, &facts), QUIRA_OK);
    quira_carrier_close(carrier);
    EXPECT_EQ(facts.effect_code, effect.effect_code);
    EXPECT_EQ(facts.effect_level, effect.effect_level);
    EXPECT_EQ(facts.level_byte, (127 - effect.effect_level) & 255);
    EXPECT_TRUE(facts.has_voice_mark);
    EXPECT_EQ(facts.voice_samples, voice.size());
    EXPECT_TRUE(facts.player_ours);
    for (const std::vector<uint8_t>& other : made) {
      EXPECT_EQ(memcmp(other.data(), bytes.data(), QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_EFFECT_BYTE), 0);
      EXPECT_EQ(memcmp(other.data() + QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES,
                       bytes.data() + QUIRA_PAYLOAD_OFFSET + QUIRA_HEADER_BYTES,
                       (size_t)size - QUIRA_PAYLOAD_OFFSET - QUIRA_HEADER_BYTES),
                0);
    }
    made.push_back(bytes);
  }
  QuiraEffectChoice refused = choice(QUIRA_EFFECT_CODE_MAX + 1, 0);
  EXPECT_EQ(quira_maker_set_effect(maker, &refused), QUIRA_ERR_ARGUMENT);
  quira_maker_free(maker);
}

// libquira through its C interface: independent objects in parallel threads, readers that stream
// whatever the size of the caller's reads, and carriers in memory.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "quira/quira.h"
#include "tests/media.h"

namespace {

struct Job {
  std::string carrier;
  QuiraEffectChoice effect;
  std::vector<int16_t> played, heard;
};

// Everything the player hands its device from the start to the natural end, then the message as
// heard, read in pieces of `piece` samples.
void run_job(Job& job, int64_t piece) {
  QuiraCarrier* carrier = nullptr;
  ASSERT_EQ(quira_carrier_open_path(job.carrier.c_str(), &carrier), QUIRA_OK) << job.carrier;
  QuiraPlayer* player = nullptr;
  ASSERT_EQ(quira_player_new(carrier, &job.effect, &player), QUIRA_OK);
  ASSERT_EQ(quira_player_start(player), QUIRA_OK);
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t kind = -1;
  while (quira_player_next(player, buffer, &kind) == 1) job.played.insert(job.played.end(), buffer, buffer + QUIRA_BUFFER_SAMPLES);
  quira_player_free(player);

  QuiraHeard* heard = nullptr;
  ASSERT_EQ(quira_heard_open(carrier, &job.effect, &heard), QUIRA_OK);
  std::vector<int16_t> part((size_t)piece);
  for (int64_t n; (n = quira_heard_read(heard, part.data(), piece)) > 0;)
    job.heard.insert(job.heard.end(), part.begin(), part.begin() + n);
  quira_heard_close(heard);
  quira_carrier_close(carrier);
}

std::vector<Job> jobs() {
  // One carrier of each format, and one effect of each family (and none).
  return {{media_path("speech-32.exe"), {4, 30}, {}, {}},
          {media_path("speech-16.exe"), {10, 0}, {}, {}},
          {media_path("speech-8.exe"), {15, 64}, {}, {}},
          {media_path("prompts-32.exe"), {0, 127}, {}, {}}};
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
  }
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

TEST(LibraryMedia, CarriersInMemoryReadAsTheirFiles) {
  std::vector<uint8_t> bytes = read_bytes(media_path("speech-16.exe"));
  QuiraCarrier *from_file = nullptr, *from_memory = nullptr;
  ASSERT_EQ(quira_carrier_open_path(media_path("speech-16.exe").c_str(), &from_file), QUIRA_OK);
  ASSERT_EQ(quira_carrier_open_memory(bytes.data(), bytes.size(), &from_memory), QUIRA_OK);
  QuiraHeaderFacts a{}, b{};
  ASSERT_EQ(quira_carrier_header(from_file, &a), QUIRA_OK);
  ASSERT_EQ(quira_carrier_header(from_memory, &b), QUIRA_OK);
  EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
  EXPECT_TRUE(a.player_ours);
  for (int64_t k : {(int64_t)0, (int64_t)5, a.blocks - 1}) {
    uint8_t fa[QUIRA_BLOCK_BYTES], fb[QUIRA_BLOCK_BYTES];
    int32_t na = 0, nb = 0;
    EXPECT_EQ(quira_carrier_frames(from_file, k, fa, &na), QUIRA_OK);
    EXPECT_EQ(quira_carrier_frames(from_memory, k, fb, &nb), QUIRA_OK);
    EXPECT_EQ(na, 720);
    EXPECT_TRUE(na == nb && memcmp(fa, fb, (size_t)na) == 0);
  }
  quira_carrier_close(from_file);
  quira_carrier_close(from_memory);

  // Shorter than the player: no carrier. Null arguments: refused, never followed.
  QuiraCarrier* none = nullptr;
  EXPECT_EQ(quira_carrier_open_memory(bytes.data(), QUIRA_PAYLOAD_OFFSET - 1, &none), QUIRA_ERR_NOT_CARRIER);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(quira_carrier_open_memory(nullptr, 10, &none), QUIRA_ERR_ARGUMENT);
  EXPECT_EQ(quira_carrier_open_path(QUIRA_SOURCE_DIR, &none), QUIRA_ERR_READ) << "not a regular file";
  EXPECT_EQ(quira_player_new(nullptr, nullptr, nullptr), QUIRA_ERR_ARGUMENT);
  EXPECT_STRNE(quira_status_text(QUIRA_ERR_NOT_CARRIER), quira_status_text(12345));
}

// SPDX-License-Identifier: MIT
// Carrier header reading and the time reckoning, on files made here.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/title.h"
#include "payload/payload.h"

namespace {

// A carrier of a zero front part followed by payload bytes, in a temporary file.
struct TempCarrier {
  std::string path;
  explicit TempCarrier(const std::vector<uint8_t>& payload, size_t front = PAYLOAD_OFFSET) {
    char name[] = "/tmp/quira-payload-XXXXXX";
    int fd = mkstemp(name);
    path = name;
    std::vector<uint8_t> bytes(front, 0);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    close(fd);
  }
  ~TempCarrier() { unlink(path.c_str()); }
};

std::vector<uint8_t> header_then(size_t extra, uint8_t code, uint8_t level_byte) {
  std::vector<uint8_t> payload(PAYLOAD_HEADER_BYTES + extra, 0xAB);
  payload[10] = code;
  payload[11] = level_byte;
  return payload;
}

}  // namespace

TEST(PayloadDuration, WholeBlocksRoundToNearestSecond) {
  EXPECT_EQ(payload_total_seconds(12 + 1440 * 181), 65);  // 260,652 bytes
  for (int n : {0, 1, 2, 3, 10, 167, 1000, 99999})
    EXPECT_EQ(payload_total_seconds(12 + 1440LL * n), (36 * n + 50) / 100) << n;
}

TEST(PayloadDuration, HalfSecondRoundsUp) {
  EXPECT_EQ(payload_total_seconds(12 + 2000), 1);
  EXPECT_EQ(payload_total_seconds(12 + 1999), 0);
  EXPECT_EQ(payload_total_seconds(12 + 6000), 2);
}

TEST(PayloadDuration, SinglePrecisionConstantShowsOnlyPastTwentyOneMillionBytes) {
  // Below 21,053,999 bytes after the header the float constant agrees with exact division ...
  EXPECT_EQ(payload_total_seconds(12 + 21053998), (21053998 + 2000) / 4000);
  // ... and from there its excess (1.2e-11 s per byte) tips a value just short of the half up.
  EXPECT_EQ(payload_total_seconds(12 + 21053999), 5264);  // exact division: 5263
  EXPECT_EQ(payload_total_seconds(12 + 21057999), 5265);  // exact division: 5264
}

TEST(PayloadDuration, ShortMissingAndHugePayloads) {
  EXPECT_EQ(payload_total_seconds(0), 0);
  EXPECT_EQ(payload_total_seconds(11), 0);
  EXPECT_EQ(payload_total_seconds(-PAYLOAD_OFFSET), 0);  // a file shorter than the player
  // 6 GB: past 32 bits of bytes, still a sound second count.
  EXPECT_EQ(payload_total_seconds(12 + 6000000000LL), 1500000);
  EXPECT_EQ(payload_total_seconds(INT64_MAX / 2), INT32_MAX);
}

TEST(PayloadLayout, BlockOffsetsAndCounts) {
  EXPECT_EQ(payload_block_offset(0), 163852);
  EXPECT_EQ(payload_block_offset(1), 163852 + 1440);
  EXPECT_EQ(payload_block_offset(3000000), 163852 + 1440LL * 3000000);  // past 4 GiB
  EXPECT_EQ(payload_block_count(0), 0);
  EXPECT_EQ(payload_block_count(12), 0);
  EXPECT_EQ(payload_block_count(13), 1);
  EXPECT_EQ(payload_block_count(12 + 1440), 1);
  EXPECT_EQ(payload_block_count(12 + 1441), 2);
}

TEST(PayloadLevel, LevelBytes) {
  EXPECT_EQ(payload_effect_level(127), 0);
  EXPECT_EQ(payload_effect_level(0), 127);
  EXPECT_EQ(payload_effect_level(255), -128);
  EXPECT_EQ(payload_effect_level(128), -1);
  EXPECT_EQ(payload_effect_level(100), 27);
}

TEST(PayloadRead, HeaderFieldsAndLength) {
  TempCarrier carrier(header_then(1440 * 181, 0xF5, 100));
  PayloadInfo info{};
  ASSERT_EQ(payload_read_header(&CARRIER_FILES_STDIO, carrier.path.c_str(), &info), 1);
  EXPECT_EQ(info.payload_bytes, 260652);
  EXPECT_EQ(info.total_seconds, 65);
  EXPECT_EQ(info.effect_code, -11);  // byte 245 read signed
  EXPECT_EQ(info.level_byte, 100);
  EXPECT_EQ(info.header.bytes[0], 0xAB);  // bytes 0-9 passed on as they stand
}

TEST(PayloadRead, CarrierWithoutPayloadReadsNoHeader) {
  TempCarrier carrier({});
  PayloadInfo info{};
  ASSERT_EQ(payload_read_header(&CARRIER_FILES_STDIO, carrier.path.c_str(), &info), 1);
  EXPECT_EQ(info.payload_bytes, 0);
  EXPECT_EQ(info.effect_code, 0);
  EXPECT_EQ(info.level_byte, 0);
  EXPECT_EQ(info.total_seconds, 0);
}

TEST(PayloadRead, ShortHeaderKeepsUnreadBytes) {
  // Seven header bytes: bytes 7-11 keep what the record held before.
  TempCarrier carrier(std::vector<uint8_t>(7, 0x11));
  PayloadInfo info{};
  for (uint8_t& b : info.header.bytes) b = 0x22;
  ASSERT_EQ(payload_read_header(&CARRIER_FILES_STDIO, carrier.path.c_str(), &info), 1);
  EXPECT_EQ(info.header.bytes[6], 0x11);
  EXPECT_EQ(info.header.bytes[7], 0x22);
  EXPECT_EQ(info.effect_code, 0x22);
  EXPECT_EQ(info.total_seconds, 0);
}

TEST(PayloadRead, UnopenableFilesReadAsNoPayload) {
  for (const char* path : {"/nonexistent/carrier.exe", "/tmp"}) {
    PayloadInfo info{};
    info.effect_code = 5;
    info.total_seconds = 99;
    EXPECT_EQ(payload_read_header(&CARRIER_FILES_STDIO, path, &info), 0) << path;
    EXPECT_EQ(info.effect_code, 0);
    EXPECT_EQ(info.level_byte, 0);
    EXPECT_EQ(info.total_seconds, 0);
    EXPECT_EQ(info.payload_bytes, 0);
  }
}

TEST(PayloadRead, FileShorterThanPlayer) {
  TempCarrier carrier({}, 1000);
  PayloadInfo info{};
  ASSERT_EQ(payload_read_header(&CARRIER_FILES_STDIO, carrier.path.c_str(), &info), 1);
  EXPECT_EQ(info.payload_bytes, 1000 - PAYLOAD_OFFSET);
  EXPECT_EQ(info.total_seconds, 0);
  EXPECT_EQ(info.effect_code, 0);
}

TEST(Title, ElapsedTimeAndText) {
  EXPECT_EQ(title_elapsed_seconds(167), 60);
  for (int32_t n : {0, 1, 2, 50, 181, 1000, 1398117})
    EXPECT_EQ(title_elapsed_seconds(n), (int32_t)((36LL * n + 50) / 100)) << n;
  char title[TITLE_CHARS];
  title_compose(title, 167, 65);
  EXPECT_STREQ(title, "Quira [00:01:00]-[00:01:05]");
  title_compose(title, 0, 360000);
  EXPECT_STREQ(title, "Quira [00:00:00]-[100:00:00]");
}

// SPDX-License-Identifier: MIT
// quira make and repack, and what info and export learn from a made carrier, on real recordings:
// the alsa-utils prompts (48 kHz), espeak-ng speech (22,050 Hz), a stereo mix of two prompts and
// an Ogg Vorbis file and an MP3 file.
#include <gtest/gtest.h>
#include <math.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <span>
#include <random>
#include <string>
#include <vector>

#include "decode/block_decoder.h"
#include "payload/voice_mark.h"
#include "quira/quira.h"
#include "tests/media.h"
#include "tests/tool_run.h"
#include "tool/cli.h"
#include "quira/quira.h"

namespace {

std::optional<uint32_t> voice_mark_read(const PayloadHeader& header) {
  uint32_t samples = 0;
  if (!::voice_mark_read(&header, &samples)) return std::nullopt;
  return samples;
}

// The SHA-256 of bytes as coreutils' sha256sum computes it: a reckoning of its own, to hold the
// library's to.
std::string sha256_hex(const uint8_t* bytes, size_t n) {
  TempDir dir;
  write_file(dir.path + "/bytes", std::vector<uint8_t>(bytes, bytes + n));
  FILE* sum = popen(("sha256sum '" + dir.path + "/bytes'").c_str(), "r");
  char hex[65] = "";
  if (sum && fread(hex, 1, 64, sum) != 64) hex[0] = '\0';
  if (sum) pclose(sum);
  return hex;
}

const std::string ALSA = "/usr/share/sounds/alsa/";

int sh(const std::string& command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<float> read_f32(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  std::vector<float> samples(bytes.size() / 4);
  memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

// The input as sox brings it to 16 kHz mono (channels averaged), unquantised: the voice a carrier
// should give back.
std::vector<float> reference(const std::string& input, const std::string& scratch) {
  EXPECT_EQ(sh("sox '" + input + "' -r 16000 -c 1 -t f32 '" + scratch + "'"), 0);
  return read_f32(scratch);
}

// Where decoded lines up with ref (decoded[i] ~ ref[i - lag]) by cross-correlation, and the
// signal-to-noise ratio of decoded against ref at that lag.
struct Match {
  int lag;
  double snr_db;
};

Match match(const std::vector<int16_t>& decoded, const std::vector<float>& ref) {
  auto overlap = [&](int lag, auto&& term) {
    double sum = 0;
    for (long i = std::max(0, lag); i < (long)decoded.size() && i - lag < (long)ref.size(); i++)
      sum += term(decoded[(size_t)i], 32768.0 * ref[(size_t)(i - lag)]);
    return sum;
  };
  Match best{0, 0};
  double best_corr = -1e300;
  for (int lag = -64; lag <= 64; lag++) {
    double corr = overlap(lag, [](double d, double r) { return d * r; });
    if (corr > best_corr) best_corr = corr, best.lag = lag;
  }
  double signal = overlap(best.lag, [](double, double r) { return r * r; });
  double noise = overlap(best.lag, [](double d, double r) { return (d - r) * (d - r); });
  best.snr_db = 10 * log10(signal / noise);
  return best;
}

// Frames whose header is not the accepted word of the format, over all blocks of a carrier.
int foreign_frames(const std::vector<uint8_t>& carrier, int format) {
  int bad = 0;
  for (size_t at = PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES; at + BLOCK_BYTES <= carrier.size(); at += BLOCK_BYTES)
    for (int f = 0; f < FRAMES_PER_BLOCK; f++) {
      const uint8_t* h = &carrier[at + (size_t)(f * FRAME_STEP[format])];
      uint32_t word = 0;
      for (int i = 0; i < 4; i++) word = word << 8 | (uint8_t)(h[i] ^ SCRAMBLE_KEY);
      bad += word != SYNC_WORDS[format];
    }
  return bad;
}

class Make : public ::testing::Test {
 protected:
  // Recordings made once for the suite.
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string d = dir_->path;
    std::string prompts;
    for (const char* name : {"Front_Center", "Front_Left", "Front_Right", "Rear_Center", "Rear_Left",
                             "Rear_Right", "Side_Left", "Side_Right"})
      prompts += " " + ALSA + name + ".wav";
    ASSERT_EQ(sh("sox" + prompts + " " + d + "/prompts.wav"), 0);
    ASSERT_EQ(sh("espeak-ng -w " + d + "/espeak.wav 'This voice message was made from a recording. "
                 "It is resampled, encoded and laid out in blocks behind a small player. "
                 "Please call me back when you can.'"),
              0);
    ASSERT_EQ(sh("sox " + d + "/espeak.wav " + d + "/espeak.flac"), 0);
    ASSERT_EQ(sh("sox -M " + ALSA + "Front_Left.wav " + ALSA + "Rear_Right.wav " + d + "/stereo.wav"), 0);
    ASSERT_EQ(sh("sox " + ALSA + "Side_Left.wav -r 44100 " + d + "/side.ogg"), 0);
    ASSERT_EQ(sh("lame --quiet " + ALSA + "Rear_Left.wav " + d + "/rear.mp3"), 0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string input(const std::string& name) { return dir_->path + "/" + name; }

  TempDir scratch_;
  static TempDir* dir_;
};
TempDir* Make::dir_ = nullptr;

}  // namespace

// Measured here (LAME 3.100, libsoxr 0.1.3, against sox's resampling): at 32 kbit/s an SNR of
// 18.7 dB on one prompt, 20.6 dB on all eight, 18.0 dB on espeak-ng, 22.6 dB on the stereo mix,
// 17.0 dB on the Ogg file, 18.8 dB on the MP3 file (against the WAV it was made from); 17.7 dB on
// the eight prompts at 16 kbit/s. Cross-correlation puts every one at lag 0. The floors are about
// 3 dB below.
TEST_F(Make, RoundTripPutsTheVoiceOnBlockOneAndGivesItBack) {
  struct Material {
    std::string input;
    int kbps;
    double snr_floor;
    std::string source = "";  // what the input was made from, when sox cannot read it
  } materials[] = {
      {ALSA + "Front_Center.wav", 32, 15}, {input("prompts.wav"), 32, 17}, {input("espeak.wav"), 32, 15},
      {input("stereo.wav"), 32, 19},       {input("side.ogg"), 32, 14},    {input("prompts.wav"), 16, 14},
      {input("rear.mp3"), 32, 14, ALSA + "Rear_Left.wav"},
  };
  for (const Material& m : materials) {
    SCOPED_TRACE(m.input + " at " + std::to_string(m.kbps));
    std::string carrier = scratch_.path + "/c.exe", err = scratch_.path + "/err";
    Result made = quira("make --force --bitrate " + std::to_string(m.kbps) + " '" + m.input + "' -o " + carrier, err);
    ASSERT_EQ(made.status, 0);
    EXPECT_TRUE(read_bytes(err).empty()) << "make says nothing when all is well (stderr no terminal)";

    std::vector<uint8_t> bytes = read_bytes(carrier);
    ASSERT_GT(bytes.size(), (size_t)PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES);
    size_t payload = bytes.size() - PAYLOAD_OFFSET - PAYLOAD_HEADER_BYTES;
    EXPECT_EQ(payload % BLOCK_BYTES, 0u) << "last block whole";
    int format = m.kbps == 32 ? 2 : 1;
    EXPECT_EQ(foreign_frames(bytes, format), 0);

    Result info = quira("info --json " + carrier);
    ASSERT_EQ(info.status, 0);
    EXPECT_EQ(json_field(info.out, "format"), std::to_string(format));
    EXPECT_EQ(json_field(info.out, "decoded_blocks"), std::to_string(payload / BLOCK_BYTES));
    EXPECT_EQ(json_field(info.out, "last_block_short"), "false");

    std::vector<float> ref = reference(m.source.empty() ? m.input : m.source, scratch_.path + "/ref.f32");
    PayloadHeader header;
    memcpy(header.bytes, &bytes[PAYLOAD_OFFSET], PAYLOAD_HEADER_BYTES);
    std::optional<uint32_t> voice = voice_mark_read(header);
    ASSERT_TRUE(voice.has_value());
    EXPECT_NEAR((double)*voice, (double)ref.size(), 1.0);
    EXPECT_EQ(json_field(info.out, "voice_samples"), std::to_string(*voice));
    // As few blocks as hold the 4,655 leading zeros and the voice in 576 x (10k - 2) samples.
    int64_t blocks = (int64_t)(payload / BLOCK_BYTES);
    EXPECT_GE(576 * (10 * blocks - 2), 4655 + *voice);
    EXPECT_LT(576 * (10 * blocks - 12), 4655 + *voice);

    ASSERT_EQ(quira("export --dry " + carrier + " -o " + scratch_.path + "/d.wav").status, 0);
    std::vector<int16_t> decoded = samples_of(read_bytes(scratch_.path + "/d.wav"), 44);
    EXPECT_EQ(decoded.size(), *voice) << "the export ends where the voice ends";
    Match got = match(decoded, ref);
    printf("  %s, %d kbit/s: %u samples in %lld blocks, lag %d, SNR %.1f dB\n", m.input.c_str(), m.kbps, *voice,
           (long long)blocks, got.lag, got.snr_db);
    EXPECT_LE(abs(got.lag), 1) << "the voice starts on the first sample of block 1";
    EXPECT_GT(got.snr_db, m.snr_floor);
  }
}

TEST_F(Make, EffectNamesCodesAndLevelsLandInTheHeader) {
  const std::string in = ALSA + "Front_Center.wav", out = scratch_.path + "/e.exe";
  auto header_of = [&](const std::string& options) -> std::vector<uint8_t> {
    if (quira("make --force " + options + " " + in + " -o " + out).status != 0) return {};
    std::vector<uint8_t> bytes = read_bytes(out);
    return std::vector<uint8_t>(bytes.begin() + PAYLOAD_OFFSET, bytes.begin() + PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES);
  };
  // No effect: code 0, level 0 (byte 127). An effect without --level: level 64 (byte 63).
  std::vector<uint8_t> h = header_of("");
  ASSERT_EQ(h.size(), 12u);
  EXPECT_EQ(h[10], 0);
  EXPECT_EQ(h[11], 127);
  for (int code = 0; code <= QUIRA_EFFECT_CODE_MAX; code++) {
    const char* name = code ? quira_effect(code)->name : "none";
    for (std::string spelling : {std::string(name), std::to_string(code)}) {
      h = header_of("--effect " + spelling);
      ASSERT_EQ(h.size(), 12u) << spelling;
      EXPECT_EQ(h[10], code) << spelling;
      EXPECT_EQ(h[11], code ? 63 : 127) << spelling;
    }
  }
  // --level is the player's effect level, the effect's weight out of 128; negative subtracts it.
  for (int level : {-128, -127, -1, 0, 1, 64, 126, 127}) {
    h = header_of("--effect echo --level " + std::to_string(level));
    ASSERT_EQ(h.size(), 12u) << level;
    EXPECT_EQ(h[11], (uint8_t)(127 - level)) << level;
    EXPECT_EQ(json_field(quira("info --json " + out).out, "effect_level"), std::to_string(level));
  }
  for (const char* bad : {"--level 128", "--level -129", "--level x", "--level ''", "--effect nosuch",
                          "--bitrate 8", "--bitrate 24"})
    EXPECT_EQ(quira("make --force " + std::string(bad) + " " + in + " -o " + out).status, 1) << bad;
}

TEST_F(Make, ExportEndsWithTheVoiceOrItsEffectTail) {
  const std::string carrier = scratch_.path + "/fx.exe", wav = scratch_.path + "/fx.wav";
  ASSERT_EQ(quira("make --effect echo --level 100 " + input("espeak.wav") + " -o " + carrier).status, 0);
  uint32_t voice = (uint32_t)std::stoul(json_field(quira("info --json " + carrier).out, "voice_samples"));
  ASSERT_EQ(quira("export " + carrier + " -o " + wav).status, 0);
  size_t with_tail = samples_of(read_bytes(wav), 44).size();
  EXPECT_GT(with_tail, voice + 16000u / 4) << "the echo rings on past the voice";
  EXPECT_LE(with_tail, voice + 6u * 16000 + BLOCK_SAMPLES);
  ASSERT_EQ(quira("export --level 0 " + carrier + " -o " + wav).status, 0);  // level 0: dry
  EXPECT_EQ(samples_of(read_bytes(wav), 44).size(), voice);
  ASSERT_EQ(quira("export --as-played " + carrier + " -o " + wav).status, 0);
  int64_t blocks = std::stoll(json_field(quira("info --json " + carrier).out, "blocks"));
  EXPECT_EQ((int64_t)samples_of(read_bytes(wav), 44).size(), (blocks + 2) * BLOCK_SAMPLES);
}

TEST_F(Make, ReadsStandardInputAsItReadsAFile) {
  const std::string a = scratch_.path + "/a.exe", b = scratch_.path + "/b.exe";
  ASSERT_EQ(quira("make " + input("espeak.flac") + " -o " + a).status, 0);
  ASSERT_EQ(quira("make - -o " + b + " < " + input("espeak.flac")).status, 0);
  ASSERT_EQ(quira("make - -o - < " + input("espeak.flac") + " > " + scratch_.path + "/c.exe").status, 0);
  EXPECT_TRUE(read_bytes(a) == read_bytes(b));
  EXPECT_TRUE(read_bytes(a) == read_bytes(scratch_.path + "/c.exe"));
  EXPECT_EQ(quira("make - -o " + scratch_.path + "/d.exe < /dev/null").status, 2);
}

TEST_F(Make, BadInputGivesOneLineAndLeavesNothing) {
  const std::string d = scratch_.path;
  write_file(d + "/text.wav", std::vector<uint8_t>{'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'});
  write_file(d + "/empty.wav", {});
  ASSERT_EQ(sh("sox -n -r 48000 -c 1 -b 16 " + d + "/zero.wav trim 0 0"), 0);  // a header, no samples
  write_file(d + "/old.exe", std::vector<uint8_t>(100, 7));
  mkdir((d + "/sub").c_str(), 0755);
  const std::string speech = ALSA + "Front_Center.wav", err = d + "/err.txt";
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"make " + d + "/text.wav -o " + d + "/o.exe", 2, "text.wav: not a recording this tool can read"},
      {"make " + d + "/empty.wav -o " + d + "/o.exe", 2, "empty.wav: empty file"},
      {"make " + d + "/zero.wav -o " + d + "/o.exe", 2, "zero.wav: holds no samples"},
      {"make " + d + "/missing.wav -o " + d + "/o.exe", 2, "missing.wav: No such file or directory"},
      {"make " + d + "/sub -o " + d + "/o.exe", 2, "sub: Is a directory"},
      {"make " + speech + " -o " + d + "/nodir/o.exe", 2, "nodir/o.exe: No such file or directory"},
      {"make " + speech + " -o " + d + "/old.exe", 2, "old.exe: exists (use --force"},
      {"make " + speech, 1, "-o OUT.exe is required"},
      {"make -o " + d + "/o.exe", 1, "missing IN"},
      {"repack " + speech + " -o " + d + "/o.exe", 3, "not a carrier"},
      {"repack " + media_path("speech-8.exe") + " -o " + d + "/old.exe", 2, "exists (use --force"},
  };
  for (const Case& c : cases) {
    Result r = quira(c.args, err);
    std::vector<uint8_t> said_bytes = read_bytes(err);
    std::string said(said_bytes.begin(), said_bytes.end());
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(said.find("quira: error: "), std::string::npos) << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.args << " said: " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
  if (geteuid() != 0) {  // root reads any file
    write_file(d + "/locked.wav", read_bytes(speech));
    chmod((d + "/locked.wav").c_str(), 0);
    EXPECT_EQ(quira("make " + d + "/locked.wav -o " + d + "/o.exe").status, 2);
  }
  EXPECT_TRUE(read_bytes(d + "/old.exe") == std::vector<uint8_t>(100, 7)) << "left as it was";
  std::vector<std::string> left = scratch_.entries();
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = {"empty.wav", "err.txt", "old.exe", "sub", "text.wav", "zero.wav"};
  if (geteuid() != 0) expected.insert(expected.begin() + 3, "locked.wav");
  EXPECT_EQ(left, expected);
  // --force replaces.
  ASSERT_EQ(quira("make --force " + speech + " -o " + d + "/old.exe").status, 0);
  EXPECT_GT(read_bytes(d + "/old.exe").size(), (size_t)PAYLOAD_OFFSET);
}

TEST_F(Make, RepackKeepsThePayloadAndInfoTellsWhosePlayerItIs) {
  // A carrier received with some other front part: the payload of a test carrier behind bytes
  // that are no player of ours.
  const std::string old_path = scratch_.path + "/old.exe", repacked = scratch_.path + "/r.exe";
  std::vector<uint8_t> old_bytes = read_bytes(media_path("speech-16.exe"));
  for (size_t i = 0; i < PAYLOAD_OFFSET; i++) old_bytes[i] = (uint8_t)(i * 7);
  write_file(old_path, old_bytes);
  Result old_info = quira("info --json " + old_path);
  EXPECT_EQ(json_field(old_info.out, "player"), "\"foreign\"");
  EXPECT_EQ(json_field(old_info.out, "voice_samples"), "null");

  ASSERT_EQ(quira("repack " + old_path + " -o " + repacked).status, 0);
  std::vector<uint8_t> new_bytes = read_bytes(repacked);
  ASSERT_EQ(new_bytes.size(), old_bytes.size());
  size_t player_size = 0;
  const uint8_t* player_bytes = quira_embedded_player(&player_size);
  std::span<const uint8_t> player(player_bytes, player_size);
  EXPECT_TRUE(std::equal(player.begin(), player.end(), new_bytes.begin()));
  EXPECT_TRUE(std::equal(old_bytes.begin() + PAYLOAD_OFFSET, old_bytes.end(), new_bytes.begin() + PAYLOAD_OFFSET));
  Result info = quira("info --json " + repacked);
  EXPECT_EQ(json_field(info.out, "player"), "\"ours\"");
  EXPECT_EQ(json_field(info.out, "player_sha256"), "\"" + sha256_hex(player.data(), player.size()) + "\"");

  // Any other front part is foreign, and says which it is.
  std::mt19937 random(7);
  for (size_t i = 0; i < PAYLOAD_OFFSET; i++) new_bytes[i] = (uint8_t)random();
  write_file(repacked, new_bytes);
  info = quira("info --json " + repacked);
  EXPECT_EQ(json_field(info.out, "player"), "\"foreign\"");
  EXPECT_EQ(json_field(info.out, "player_sha256"),
            "\"" + sha256_hex(new_bytes.data(), PAYLOAD_OFFSET) + "\"");
  EXPECT_NE(quira("info " + repacked).out.find("player        foreign"), std::string::npos);
}

// The alignment rests on LAME making ceil(N / 576) + 2 frames of N samples, whatever N is: the
// maker checks that it made exactly ten frames a block, and fails rather than make a carrier
// that is off.
TEST_F(Make, LameMakesCeilNOver576PlusTwoFrames) {
  std::vector<float> speech = reference(ALSA + "Front_Center.wav", scratch_.path + "/ref.f32");
  ASSERT_GT(speech.size(), 20000u);
  for (int kbps : {32, 16})
    for (size_t n : {1, 575, 576, 577, 1152, 4655, 5000, 17279, 20000}) {
      QuiraMakeOptions options;
      quira_make_options_init(&options);
      options.bitrate_kbps = kbps;
      QuiraMaker* maker = nullptr;
      ASSERT_EQ(quira_maker_new(16000, 1, &options, &maker), QUIRA_OK);
      EXPECT_EQ(quira_maker_write(maker, speech.data(), (int64_t)n), QUIRA_OK);
      EXPECT_EQ(quira_maker_finish(maker), QUIRA_OK) << n << " samples at " << kbps;
      int64_t blocks = (4655 + (int64_t)n + 2 * 576 + 5759) / 5760;
      EXPECT_EQ(quira_maker_size(maker), PAYLOAD_OFFSET + 12 + blocks * 1440) << n << " samples at " << kbps;
      EXPECT_EQ(quira_maker_voice_samples(maker), (int64_t)n);
      quira_maker_free(maker);
    }
}

TEST(PlayerCheck, RecognisesTheImageByItsDigest) {
  size_t image_size = 0;
  const uint8_t* image = quira_embedded_player(&image_size);
  uint8_t digest[QUIRA_SHA256_BYTES];
  ASSERT_EQ(quira_embedded_player_sha256(digest, sizeof digest), QUIRA_OK);
  std::string hex;
  for (uint8_t b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  EXPECT_EQ(hex, sha256_hex(image, image_size));
  auto ours = [](std::vector<uint8_t> bytes) {
    QuiraCarrier* carrier = nullptr;
    QuiraHeaderFacts facts{};
    facts.struct_size = sizeof facts;
    EXPECT_EQ(quira_carrier_open_memory(bytes.data(), bytes.size(), &carrier), QUIRA_OK);
    EXPECT_EQ(quira_carrier_header(carrier, &facts), QUIRA_OK);
    quira_carrier_close(carrier);
    return facts.player_ours;
  };
  std::vector<uint8_t> front(image, image + image_size);
  front.resize(PAYLOAD_OFFSET + 12 + 1440);
  EXPECT_TRUE(ours(front));
  front[PAYLOAD_OFFSET - 1] ^= 1;
  EXPECT_FALSE(ours(front));
  EXPECT_FALSE(ours(std::vector<uint8_t>(PAYLOAD_OFFSET + 12, 0))) << "zeros are no program";
}

TEST(VoiceMark, RoundTripsAndIsHardToHitByChance) {
  for (uint32_t n : {0u, 1u, 22848u, 0x12345678u, 0xFFFFFFFFu}) {
    PayloadHeader h{};
    h.bytes[10] = 5;
    h.bytes[11] = 0x80;
    voice_mark_write(&h, n);
    EXPECT_EQ(h.bytes[10], 5) << "the effect bytes are not the mark's";
    EXPECT_EQ(voice_mark_read(h), n);
    h.bytes[10] = 9, h.bytes[11] = 1;
    EXPECT_EQ(voice_mark_read(h), n) << "changing the effect keeps the mark";
    for (int bit = 0; bit < 80; bit++) {
      PayloadHeader flipped = h;
      flipped.bytes[bit / 8] ^= (uint8_t)(1 << bit % 8);
      EXPECT_FALSE(voice_mark_read(flipped).has_value()) << "bit " << bit;
    }
  }
  std::mt19937 random(11);
  int hits = 0;
  for (int i = 0; i < 1000000; i++) {
    PayloadHeader h;
    for (uint8_t& b : h.bytes) b = (uint8_t)random();
    hits += voice_mark_read(h).has_value();
  }
  EXPECT_EQ(hits, 0);
  PayloadHeader zeros{};
  EXPECT_FALSE(voice_mark_read(zeros).has_value());
}

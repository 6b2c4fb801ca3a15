// SPDX-License-Identifier: MIT
// make_fuzz_seeds MEDIA_DIR PLAYER_EXE OUT_DIR: the fuzzers' seed corpus, one directory per
// harness, from the test media (carriers of real speech in the three formats), the player and
// the spoken prompts of alsa-utils:
//   payload/      the first blocks of each speech payload, with an effect of every family, no
//                 effect and unknown codes; a short last block, blocks of mixed formats, a header
//                 cut short, nothing at all
//   resources/    the player executable and its dialog template
//   voice_mark/   headers with marks made by the writer, and without
//   make_input/   a short prompt in the formats libsndfile reads (made by sox and lame), and a
//                 float WAV with NaN, infinities and huge samples
//   maker/        the prompt's samples at everyday rates, 1 Hz, 2^32 - 1 Hz and a NaN rate, mono,
//                 stereo and 1,024 channels
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "platform/pe_resources.h"
#include "res/resource.h"
#include "payload/voice_mark.h"

namespace {

std::string out_dir;

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return bytes;
  for (int c; (c = fgetc(file)) != EOF;) bytes.push_back((uint8_t)c);
  fclose(file);
  return bytes;
}

void seed(const std::string& harness, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string dir = out_dir + "/" + harness;
  mkdir(out_dir.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  FILE* file = fopen((dir + "/" + name).c_str(), "wb");
  if (!file || (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) || fclose(file) != 0) {
    fprintf(stderr, "make_fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    exit(1);
  }
}

int run(const std::string& command) {
  int status = system(command.c_str());
  if (status != 0) fprintf(stderr, "make_fuzz_seeds: '%s' failed\n", command.c_str());
  return status;
}

std::vector<uint8_t> payload_of(const std::string& carrier, size_t blocks) {
  std::vector<uint8_t> bytes = read_bytes(carrier);
  if (bytes.size() <= PAYLOAD_OFFSET) {
    fprintf(stderr, "make_fuzz_seeds: %s is no carrier (make the test media first)\n", carrier.c_str());
    exit(1);
  }
  bytes.erase(bytes.begin(), bytes.begin() + PAYLOAD_OFFSET);
  bytes.resize(std::min(bytes.size(), PAYLOAD_HEADER_BYTES + blocks * BLOCK_BYTES));
  return bytes;
}

void payload_seeds(const std::string& media) {
  // code, level byte: none, each reverb size, echo, flanger, resonator, pitch down and up, the
  // echoing shifters, codes with no effect.
  const int EFFECTS[][2] = {{0, 127}, {1, 63},  {4, 0},  {5, 40},  {6, 80},   {9, 20},
                            {11, 63}, {13, 0},  {15, 90}, {16, 200}, {77, 0}, {-3, 30}};
  for (const char* name : {"speech-32", "speech-16", "speech-8"}) {
    std::vector<uint8_t> payload = payload_of(media + "/" + name + ".exe", 8);
    for (const auto& e : EFFECTS) {
      payload[10] = (uint8_t)e[0];
      payload[11] = (uint8_t)e[1];
      seed("payload", std::string(name) + "-effect" + std::to_string(e[0]), payload);
    }
  }
  std::vector<uint8_t> cut = payload_of(media + "/speech-32.exe", 6);
  cut.resize(cut.size() - 1000);
  seed("payload", "short-last-block", cut);
  std::vector<uint8_t> mixed = payload_of(media + "/speech-32.exe", 3), low = payload_of(media + "/prompts-8.exe", 3);
  mixed.insert(mixed.end(), low.begin() + PAYLOAD_HEADER_BYTES, low.end());
  seed("payload", "mixed-formats", mixed);
  seed("payload", "header-cut", std::vector<uint8_t>(7, 0));
  seed("payload", "empty", {});
}

void resource_seeds(const std::string& player_path) {
  std::vector<uint8_t> player = read_bytes(player_path);
  seed("resources", "player.exe", player);
  PeResource dialog;
  if (!pe_resource_find(player.data(), player.size(), PE_RT_DIALOG, IDD_PLAYER, 0, &dialog)) {
    fprintf(stderr, "make_fuzz_seeds: %s holds no player dialog\n", player_path.c_str());
    exit(1);
  }
  seed("resources", "dialog", std::vector<uint8_t>(dialog.data, dialog.data + dialog.size));
}

void voice_mark_seeds() {
  for (uint32_t n : {0u, 1u, 22848u, 0x12345678u, 0xFFFFFFFFu}) {
    PayloadHeader header{};
    header.bytes[10] = 5;
    header.bytes[11] = 63;
    voice_mark_write(&header, n);
    seed("voice_mark", "mark-" + std::to_string(n),
         std::vector<uint8_t>(header.bytes, header.bytes + PAYLOAD_HEADER_BYTES));
  }
  seed("voice_mark", "none", std::vector<uint8_t>(PAYLOAD_HEADER_BYTES, 0));
}

void make_input_seeds() {
  const std::string prompt = "/usr/share/sounds/alsa/Front_Center.wav", dir = out_dir + "/make_input";
  mkdir(dir.c_str(), 0755);
  const std::string cut = " trim 0 0.05";
  bool ok = run("sox " + prompt + " " + dir + "/prompt.wav" + cut) == 0 &&
            run("sox " + prompt + " -e float -b 32 " + dir + "/float.wav" + cut) == 0 &&
            run("sox " + prompt + " -r 8000 -c 2 -b 8 " + dir + "/stereo8.wav" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.au" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.aiff" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.flac" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.ogg" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.w64" + cut) == 0 &&
            run("sox " + prompt + " " + dir + "/prompt.caf" + cut) == 0 &&
            run("sox -V1 " + prompt + " -t wav - " + cut + " | lame --quiet - " + dir + "/prompt.mp3") == 0;
  if (!ok) exit(1);
  // A float WAV of 64 samples at 48 kHz: speech-like values, NaN, both infinities and 1e10.
  std::vector<float> samples(64);
  for (size_t i = 0; i < samples.size(); i++) samples[i] = 0.5f * sinf((float)i * 0.3f);
  samples[3] = NAN;
  samples[10] = INFINITY;
  samples[11] = -INFINITY;
  samples[20] = 1e10f;
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 0x24, 0x01, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                              16, 0, 0, 0, 3, 0, 1, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 32, 0,
                              'd', 'a', 't', 'a', 0, 1, 0, 0};
  const uint8_t* raw = (const uint8_t*)samples.data();
  wav.insert(wav.end(), raw, raw + samples.size() * 4);
  seed("make_input", "non-finite.wav", wav);
}

// maker_fuzz's layout (tests/fuzz/maker_fuzz.cpp): how the rate is read, 8 rate bytes, channels,
// effect code, level, flags (bit 0 16 kbit/s, bit 1 a declared length in 8 bytes), then chunks of
// a frame count byte and that many frames of floats. The samples are the prompt's.
void maker_seeds() {
  const std::string raw = out_dir + "/prompt.f32";
  if (run("sox /usr/share/sounds/alsa/Front_Center.wav -t f32 " + raw + " trim 0.3 0.05") != 0) exit(1);
  std::vector<uint8_t> speech = read_bytes(raw);
  remove(raw.c_str());
  struct Seed {
    const char* name;
    uint8_t how;
    uint64_t rate;
    uint16_t channels;
    uint8_t code, level, flags;
  };
  const Seed SEEDS[] = {{"48k-mono", 3, 5, 1, 0, 0, 0},           {"1hz", 1, 1, 1, 5, 64, 0},
                        {"most-hz", 1, 0xFFFFFFFF, 1, 0, 0, 1},  {"spread", 2, 61234, 2, 11, 200, 0},
                        {"nan-rate", 0, 0x7FF8000000000001ull, 1, 0, 0, 0}, {"44k-stereo", 3, 4, 2, 5, 64, 2},
                        {"wide", 3, 1, 1024, 0, 0, 0}};
  for (const Seed& s : SEEDS) {
    std::vector<uint8_t> in = {s.how};
    for (int i = 0; i < 8; i++) in.push_back((uint8_t)(s.rate >> (8 * i)));
    in.insert(in.end(), {(uint8_t)s.channels, (uint8_t)(s.channels >> 8), s.code, s.level, s.flags});
    if (s.flags & 2)
      for (int i = 0; i < 8; i++) in.push_back(i == 0 ? 200 : 0);
    for (size_t at = 0; at + 4 * s.channels <= speech.size();) {
      const size_t frames = std::min<size_t>(200, (speech.size() - at) / 4 / s.channels);
      in.push_back((uint8_t)frames);
      in.insert(in.end(), speech.begin() + (long)at, speech.begin() + (long)(at + frames * 4 * s.channels));
      at += frames * 4 * s.channels;
    }
    seed("maker", s.name, in);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: make_fuzz_seeds MEDIA_DIR PLAYER_EXE OUT_DIR\n");
    return 1;
  }
  out_dir = argv[3];
  payload_seeds(argv[1]);
  resource_seeds(argv[2]);
  voice_mark_seeds();
  make_input_seeds();
  maker_seeds();
  return 0;
}

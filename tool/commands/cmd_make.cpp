// SPDX-License-Identifier: MIT
// quira make IN -o OUT.exe [--effect CODE|NAME] [--level LEVEL] [--bitrate 32|16] [--force]
//
// The recording streams a chunk at a time into libquira's maker, which mixes, resamples,
// encodes, aligns and checks it and lays the frames behind its player; only the finished frames
// are held, so that they are all checked before anything is written. This file is the command
// around it: options, input, output, progress, and the maker's failures and warnings turned into
// lines.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tool/commands/commands.h"
#include "tool/output/output.h"
#include "tool/encoding/progress.h"
#include "tool/encoding/sound_input.h"

namespace {

const size_t READ_SAMPLES = 1 << 16;   // samples of all channels read at a time

struct MakerFree {
  void operator()(QuiraMaker* maker) const { quira_maker_free(maker); }
};
using Maker = std::unique_ptr<QuiraMaker, MakerFree>;

// "H:MM:SS" of a voice of the given length at 16 kHz.
std::string voice_clock(double samples) {
  long long s = (long long)(samples / (double)QUIRA_SAMPLE_RATE);
  char text[32];
  snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

// The maker's failure as the line a person reads: lengths and rates named where they matter.
void check(const SoundInput& input, const QuiraMaker* maker, QuiraStatus status) {
  if (status == QUIRA_OK) return;
  const std::string longest = voice_clock((double)QUIRA_VOICE_SAMPLES_MAX);
  const char* why = "its voice mark counts samples at 16 kHz in 32 bits";
  if (status == QUIRA_ERR_TOO_LONG && !maker) {
    double voice = (double)input.frames() * (double)QUIRA_SAMPLE_RATE / input.rate();
    fail(input.name(), "too long: " + voice_clock(voice) + " of voice, and a carrier holds at most " + longest +
                           " (" + why + ")");
  }
  if (status == QUIRA_ERR_TOO_LONG)
    fail(input.name(), "too long: more than the " + longest + " of voice a carrier holds at most (" + why + ")");
  if (status == QUIRA_ERR_TOO_SHORT) {
    int64_t frames = quira_maker_input_frames(maker);
    char rate[32];
    snprintf(rate, sizeof rate, "%g", (double)input.rate());
    fail(input.name(), "too short: " + std::to_string(frames) + (frames == 1 ? " sample" : " samples") + " at " +
                           rate + " Hz, less than one sample at 16 kHz");
  }
  if (status == QUIRA_ERR_NO_SAMPLES) fail(input.name(), "holds no samples");
  check_status(input.name(), status);
}

Maker encode(SoundInput& input, const QuiraMakeOptions& options) {
  QuiraMaker* raw = nullptr;
  QuiraStatus status = quira_maker_new(input.rate(), input.channels(), &options, &raw);
  Maker maker(raw);
  check(input, maker.get(), status);
  Progress progress("make: encoding " + input.name(), input.frames() > 0 ? input.frames() : 0);
  const size_t frames = std::max<size_t>(1, READ_SAMPLES / (size_t)input.channels());
  std::vector<float> chunk(frames * (size_t)input.channels());
  for (size_t n; (n = input.read(chunk.data(), frames)) > 0;) {
    check(input, maker.get(), quira_maker_write(maker.get(), chunk.data(), (int64_t)n));
    progress.update(quira_maker_input_frames(maker.get()));
  }
  check(input, maker.get(), quira_maker_finish(maker.get()));
  // A file that holds fewer samples than its header declares was most likely cut short in a copy
  // or a download: the message is made from what it holds, and the person should know.
  const int64_t held = quira_maker_input_frames(maker.get());
  if (input.declared() > 0 && held < input.declared()) {
    char text[96];
    snprintf(text, sizeof text, "declares %.2f s but holds %.2f s", (double)input.declared() / input.rate(),
             (double)held / input.rate());
    note("warning: " + input.name() + ": " + text + " (it may have been cut short): the message is made from what it holds");
  }
  if (int64_t n = quira_maker_not_numbers(maker.get()))
    note("warning: " + input.name() + ": made silent " + std::to_string(n) +
         (n == 1 ? " sample that was not a number (NaN)" : " samples that were not numbers (NaN)"));
  if (int64_t n = quira_maker_clipped(maker.get()))
    note("warning: " + input.name() + ": clipped " + std::to_string(n) + (n == 1 ? " sample" : " samples") +
         " beyond full scale");
  return maker;
}

}  // namespace

int command_make(Args& args) {
  std::string out_path, effect_text, level_text, bitrate_text = "32";
  bool force = args.flag("--force", "-f");
  bool has_effect = args.option("--effect", "-e", &effect_text);
  bool has_level = args.option("--level", "-l", &level_text);
  args.option("--bitrate", "-b", &bitrate_text);
  if (!args.option("--output", "-o", &out_path)) fail_usage("make: -o OUT.exe is required");
  std::string in_path = args.single_operand("IN");

  int code = has_effect ? parse_effect("make", effect_text) : 0;
  int level = code != 0 ? QUIRA_LEVEL_DEFAULT : 0;
  if (has_level) level = parse_level("make", level_text);
  if (bitrate_text != "32" && bitrate_text != "16")
    fail_usage("make: --bitrate takes 32 or 16 (kbit/s), not '" + bitrate_text + "'");
  refuse_existing(out_path, force);

  SoundInput input(in_path);
  AtomicOutput out(out_path, in_path, force);
  QuiraMakeOptions options;
  quira_make_options_init(&options);
  options.effect_code = code;
  options.effect_level = level;
  options.bitrate_kbps = std::stoi(bitrate_text);
  options.declared_frames = input.frames();
  Maker maker = encode(input, options);

  std::vector<uint8_t> bytes(1 << 16);
  for (int64_t at = 0, n; (n = quira_maker_read(maker.get(), at, bytes.data(), bytes.size())) != 0; at += n) {
    check_status(out_path, n);
    out.write(bytes.data(), (size_t)n);
  }
  out.commit();
  return EXIT_OK;
}

// quira make IN -o OUT.exe [--effect CODE|NAME] [--level LEVEL] [--bitrate 32|16] [--force]
//
// The recording is read by libsndfile a chunk at a time and handed to libquira's maker, which
// mixes, resamples, encodes, aligns and checks it, and lays the frames behind its player.
#include <stdint.h>

#include <string>
#include <vector>

#include "tool/commands.h"
#include "tool/output.h"
#include "tool/progress.h"
#include "tool/sound_input.h"

namespace {

const int DEFAULT_EFFECT_LEVEL = 64;  // half effect, half voice
const size_t CHUNK_FRAMES = 16384;

struct MakerCloser {
  void operator()(QuiraMaker* maker) const { quira_maker_free(maker); }
};

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
  int level = code != 0 ? DEFAULT_EFFECT_LEVEL : 0;
  if (has_level) level = parse_number("make", "--level", level_text, -128, 127);
  if (bitrate_text != "32" && bitrate_text != "16")
    fail_usage("make: --bitrate takes 32 or 16 (kbit/s), not '" + bitrate_text + "'");
  refuse_existing(out_path, force);

  SoundInput input(in_path);
  QuiraMakeOptions options = {code, level, std::stoi(bitrate_text)};
  QuiraMaker* raw = nullptr;
  int status = quira_maker_new(input.rate(), input.channels(), &options, &raw);
  std::unique_ptr<QuiraMaker, MakerCloser> maker(raw);
  check_status(input.name(), status);

  AtomicOutput out(out_path, in_path);
  Progress progress("make: encoding " + input.name(), input.frames());
  std::vector<float> chunk(CHUNK_FRAMES * (size_t)input.channels());
  int64_t read = 0;
  for (size_t n; (n = input.read_frames(chunk.data(), CHUNK_FRAMES)) > 0;) {
    read += (int64_t)n;
    check_status(input.name(), quira_maker_write(maker.get(), chunk.data(), (int64_t)n));
    progress.update(read);
  }
  status = quira_maker_finish(maker.get());
  if (status == QUIRA_ERR_NO_SAMPLES && read > 0)
    fail(input.name(), "holds " + std::to_string(read) + " sample(s) at " + std::to_string(input.rate()) +
                           " Hz, too few to give one sample at 16 kHz");
  check_status(input.name(), status);
  if (int64_t bad = quira_maker_nonfinite(maker.get()))
    note(input.name() + ": " + std::to_string(bad) + " sample(s) that were not numbers were made silent");

  std::vector<uint8_t> bytes(1 << 16);
  const int64_t size = quira_maker_size(maker.get());
  for (int64_t at = 0; at < size;) {
    int64_t n = quira_maker_read(maker.get(), at, bytes.data(), (int64_t)bytes.size());
    out.write(bytes.data(), (size_t)n);
    at += n;
  }
  out.commit();
  return EXIT_OK;
}

// quira make IN -o OUT.exe [--effect CODE|NAME] [--level LEVEL] [--bitrate 32|16] [--force]
//
// The recording streams through make's pipeline (tool/make_pipeline.h) a chunk at a time; only
// the finished frames are held, so that they are all checked before anything is written. This
// file is the command around it: options, input, output, progress, and the pipeline's failures
// and warnings turned into lines.
#include <stdint.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tool/commands.h"
#include "tool/make_pipeline.h"
#include "tool/output.h"
#include "tool/player_image.h"
#include "tool/progress.h"
#include "tool/sound_input.h"

namespace {

const int DEFAULT_EFFECT_LEVEL = 64;  // half effect, half voice
const size_t READ_SAMPLES = 1 << 16;   // samples of all channels read at a time

struct JobEnd {
  void operator()(MakeJob* job) const {
    make_end(job);
    delete job;
  }
};
using Job = std::unique_ptr<MakeJob, JobEnd>;

void check(const SoundInput& input, const MakeJob* job, MakeStatus status) {
  if (status != MAKE_OK) fail(input.name(), job->why);
}

Job encode(SoundInput& input, int kbps) {
  Job job(new MakeJob());
  MakeSettings settings = {(double)input.rate(), input.channels(), kbps, input.frames()};
  check(input, job.get(), make_start(job.get(), &settings));
  Progress progress("make: encoding " + input.name(), input.frames() > 0 ? input.frames() : 0);
  const size_t frames = std::max<size_t>(1, READ_SAMPLES / (size_t)input.channels());
  std::vector<float> chunk(frames * (size_t)input.channels());
  for (size_t n; (n = input.read(chunk.data(), frames)) > 0;) {
    check(input, job.get(), make_feed(job.get(), chunk.data(), n));
    progress.update(job->frames_in);
  }
  check(input, job.get(), make_finish(job.get()));
  if (job->not_numbers)
    note("warning: " + input.name() + ": made silent " + std::to_string(job->not_numbers) +
         (job->not_numbers == 1 ? " sample that was not a number (NaN)" : " samples that were not numbers (NaN)"));
  if (job->clipped)
    note("warning: " + input.name() + ": clipped " + std::to_string(job->clipped) +
         (job->clipped == 1 ? " sample" : " samples") + " beyond full scale");
  return job;
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
  int level = code != 0 ? DEFAULT_EFFECT_LEVEL : 0;
  if (has_level) level = parse_number("make", "--level", level_text, -128, 127);
  if (bitrate_text != "32" && bitrate_text != "16")
    fail_usage("make: --bitrate takes 32 or 16 (kbit/s), not '" + bitrate_text + "'");
  refuse_existing(out_path, force);

  SoundInput input(in_path);
  AtomicOutput out(out_path, in_path);
  Job job = encode(input, std::stoi(bitrate_text));

  PayloadHeader header;
  make_header(job.get(), (int8_t)code, (uint8_t)(127 - level), &header);  // the player's level is 127 - byte
  std::span<const uint8_t> player = player_image();
  out.write(player.data(), player.size());
  out.write(header.bytes, PAYLOAD_HEADER_BYTES);
  uint8_t block[BLOCK_BYTES];
  for (int64_t k = 0; k < job->blocks; k++) {
    make_block(job.get(), k, block);
    out.write(block, BLOCK_BYTES);
  }
  out.commit();
  return EXIT_OK;
}

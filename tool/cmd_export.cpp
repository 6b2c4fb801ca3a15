// quira export FILE -o OUT.wav [--as-played] [--dry] [--effect CODE|NAME] [--level BYTE]
//
// Without --as-played: the message as heard, from its first audible block to the end of the voice
// (the header's voice mark) or of the last block, and then the effect's tail rung out until it
// falls silent (at most TAIL_SECONDS), which the player would cut off.
// With --as-played: exactly the samples the player hands the device from the start of playback to
// its natural end.
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "effects/effect_stage.h"
#include "tool/commands.h"
#include "tool/output.h"
#include "tool/playthrough.h"
#include "tool/voice_mark.h"

namespace {

const int TAIL_SECONDS = 6;
const int TAIL_BUFFERS = (TAIL_SECONDS * WAV_RATE + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;

}  // namespace

int command_export(Args& args) {
  std::string out_path, effect_text, level_text;
  bool as_played = args.flag("--as-played");
  bool dry = args.flag("--dry");
  bool has_effect = args.option("--effect", "-e", &effect_text);
  bool has_level = args.option("--level", "-l", &level_text);
  if (!args.option("--output", "-o", &out_path)) fail_usage("export: -o OUT.wav is required");
  std::string path = args.single_operand("FILE");
  if (dry && has_effect) fail_usage("export: --dry and --effect exclude each other");

  Carrier carrier(path);
  PlayEffect effect = {carrier.info().effect_code, payload_effect_level(carrier.info().level_byte)};
  if (has_effect) effect.code = (int8_t)parse_effect("export", effect_text);
  if (has_level) effect.level = payload_effect_level((uint8_t)parse_number("export", "--level", level_text, 0, 255));
  if (dry) effect.code = 0;

  std::vector<int16_t> samples;
  samples.reserve((size_t)(carrier.block_count() + 2 + TAIL_BUFFERS) * BLOCK_SAMPLES);
  size_t heard_end = 0;  // end of the message proper; the tail is trimmed after its last sound
  playthrough_run(carrier, effect, as_played ? 0 : TAIL_BUFFERS,
                  [&](const int16_t* buffer, BufferKind kind) {
                    if (!as_played && kind != BufferKind::BLOCK && kind != BufferKind::TAIL) return true;
                    if (kind == BufferKind::TAIL) {
                      bool silent = true;
                      for (int i = 0; i < BLOCK_SAMPLES && silent; i++) silent = buffer[i] == 0;
                      if (silent) return false;
                    }
                    samples.insert(samples.end(), buffer, buffer + BLOCK_SAMPLES);
                    if (kind != BufferKind::TAIL) heard_end = samples.size();
                    return true;
                  });
  // A carrier made by `quira make` knows where its voice ends; the rest of the last block is
  // padding. The export stops there, unless an effect plays, whose tail rings on past it.
  std::optional<uint32_t> voice = voice_mark_read(carrier.info().header);
  if (!as_played && voice && *voice < heard_end) {
    heard_end = *voice;
    if (!effect_code_known(effect.code) || effect.level == 0) samples.resize(heard_end);
  }
  // Cut the tail after its last non-zero sample; the message itself keeps every sample.
  size_t end = samples.size();
  while (end > heard_end && samples[end - 1] == 0) end--;
  samples.resize(end);

  AtomicOutput out(out_path, path);
  wav_write(out, samples);
  out.commit();
  return EXIT_OK;
}

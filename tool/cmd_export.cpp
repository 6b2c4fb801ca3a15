// quira export FILE -o OUT.wav [--as-played] [--dry] [--effect CODE|NAME] [--level BYTE]
//
// Without --as-played: the message as heard, from its first audible block, and then the effect's
// tail rung out until it falls silent (at most TAIL_SECONDS), which the player would cut off.
// With --as-played: exactly the samples the player hands the device from the start of playback to
// its natural end.
#include <stdlib.h>

#include <string>
#include <vector>

#include "effects/effect_names.h"
#include "tool/commands.h"
#include "tool/output.h"
#include "tool/playthrough.h"

namespace {

const int TAIL_SECONDS = 6;
const int TAIL_BUFFERS = (TAIL_SECONDS * WAV_RATE + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;

// Parses a whole decimal number in [low, high], or fails with a usage error naming the option.
int parse_number(const std::string& text, int low, int high, const char* option) {
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high)
    fail_usage(std::string("export: ") + option + " takes a number from " + std::to_string(low) +
               " to " + std::to_string(high) + ", not '" + text + "'");
  return (int)value;
}

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
  if (has_effect) {
    int code = effect_find(effect_text.c_str());
    if (code < 0) fail_usage("export: unknown effect '" + effect_text + "' (see 'quira effects')");
    effect.code = (int8_t)code;
  }
  if (has_level) effect.level = payload_effect_level((uint8_t)parse_number(level_text, 0, 255, "--level"));
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
  // Cut the tail after its last non-zero sample; the message itself keeps every sample.
  size_t end = samples.size();
  while (end > heard_end && samples[end - 1] == 0) end--;
  samples.resize(end);

  AtomicOutput out(out_path, path);
  wav_write(out, samples);
  out.commit();
  return EXIT_OK;
}

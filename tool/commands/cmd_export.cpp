// quira export FILE -o OUT.wav [--as-played] [--dry] [--effect CODE|NAME] [--level LEVEL]
//
// Without --as-played: the message as heard (libquira's QuiraHeard): from its first audible block
// to the end of the voice, then the effect's tail rung out. With --as-played: exactly the buffers
// the player hands its sound device from the start of playback to its natural end (QuiraPlayer).
// Either way the samples stream through a buffer at a time, in one pass: memory does not grow
// with the message.
#include <algorithm>
#include <string>

#include "tool/commands/commands.h"
#include "tool/output/output.h"

namespace {

struct PlayerRun {
  const Carrier& carrier;
  QuiraPlayer* player = nullptr;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t at = QUIRA_BUFFER_SAMPLES;

  PlayerRun(const Carrier& c, const QuiraEffectChoice& effect) : carrier(c) {
    check_status(carrier.path(), quira_player_new(carrier.get(), &effect, &player));
    check_status(carrier.path(), quira_player_start(player));
  }
  ~PlayerRun() { quira_player_free(player); }
  int64_t read(int16_t* out, int64_t max) {
    int64_t got = 0;
    while (got < max) {
      if (at == QUIRA_BUFFER_SAMPLES) {
        int32_t n = quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, nullptr);
        check_status(carrier.path(), n);
        if (n == 0) break;
        at = 0;
      }
      int64_t n = std::min<int64_t>(QUIRA_BUFFER_SAMPLES - at, max - got);
      std::copy(buffer + at, buffer + at + n, out + got);
      at += (int32_t)n;
      got += n;
    }
    return got;
  }
};

struct HeardRun {
  const Carrier& carrier;
  QuiraHeard* heard = nullptr;

  HeardRun(const Carrier& c, const QuiraEffectChoice& effect) : carrier(c) {
    check_status(carrier.path(), quira_heard_open(carrier.get(), &effect, &heard));
  }
  ~HeardRun() { quira_heard_close(heard); }
  int64_t read(int16_t* out, int64_t max) {
    int64_t n = quira_heard_read(heard, out, (size_t)max);
    check_status(carrier.path(), n);
    return n;
  }
};

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
  const int code = has_effect ? parse_effect("export", effect_text) : 0;
  const int level = has_level ? parse_level("export", level_text) : 0;

  Carrier carrier(path);
  QuiraEffectChoice effect = {sizeof effect, carrier.facts().effect_code, carrier.facts().effect_level};
  if (has_effect) effect.effect_code = code;
  if (has_level) effect.effect_level = level;
  if (dry) effect.effect_code = 0;

  // The length, or a bound on it, is known before anything is written: a message too long for a
  // WAV file is refused before the output is made.
  auto refuse_too_long = [&](int64_t samples) {
    uint8_t probe[QUIRA_WAV_HEADER_BYTES];
    if (quira_wav_header(samples, probe, sizeof probe) == QUIRA_ERR_WAV_LIMIT)
      fail(path, "the message is too long for a WAV file (over 4 GiB)");
  };
  if (as_played) {
    PlayerRun run(carrier, effect);
    const int64_t samples = quira_player_length(run.player);
    refuse_too_long(samples);
    AtomicOutput out(out_path, path);
    wav_write(out, {samples, samples, [&](int16_t* b, int64_t n) { return run.read(b, n); }});
    out.commit();
  } else {
    HeardRun run(carrier, effect);
    const int64_t bound = quira_heard_bound(run.heard);
    refuse_too_long(bound);
    AtomicOutput out(out_path, path);
    wav_write(out, {-1, bound, [&](int16_t* b, int64_t n) { return run.read(b, n); }});
    out.commit();
  }
  return EXIT_OK;
}

// SPDX-License-Identifier: MIT
// quira export FILE -o OUT [--format FORMAT] [--as-played] [--dry] [--effect CODE|NAME] [--level LEVEL]
//
// OUT's extension (or --format) names what is written: WAV, FLAC, Ogg Vorbis, Opus or MP3 of the
// samples below, or a web message, which holds the payload itself and plays it in a browser.
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
#include "tool/output/sound_output.h"
#include "tool/output/web_output.h"

namespace {

struct PlayerRun {
  const Carrier& carrier;
  QuiraPlayer* player = nullptr;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t at = QUIRA_BUFFER_SAMPLES;

  QuiraEffectChoice effect;

  PlayerRun(const Carrier& c, const QuiraEffectChoice& e) : carrier(c), effect(e) { rewind(); }
  ~PlayerRun() { quira_player_free(player); }
  void rewind() {
    quira_player_free(player);
    player = nullptr;
    check_status(carrier.path(), quira_player_new(carrier.get(), &effect, &player));
    check_status(carrier.path(), quira_player_start(player));
    at = QUIRA_BUFFER_SAMPLES;
  }
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

  QuiraEffectChoice effect;

  HeardRun(const Carrier& c, const QuiraEffectChoice& e) : carrier(c), effect(e) { rewind(); }
  ~HeardRun() { quira_heard_close(heard); }
  void rewind() {
    quira_heard_close(heard);
    heard = nullptr;
    check_status(carrier.path(), quira_heard_open(carrier.get(), &effect, &heard));
  }
  int64_t read(int16_t* out, int64_t max) {
    int64_t n = quira_heard_read(heard, out, (size_t)max);
    check_status(carrier.path(), n);
    return n;
  }
};

}  // namespace

int command_export(Args& args) {
  std::string out_path, effect_text, level_text, format_text;
  bool as_played = args.flag("--as-played");
  bool has_format = args.option("--format", nullptr, &format_text);
  bool dry = args.flag("--dry");
  bool has_effect = args.option("--effect", "-e", &effect_text);
  bool has_level = args.option("--level", "-l", &level_text);
  if (!args.option("--output", "-o", &out_path)) fail_usage("export: -o OUT.wav is required");
  std::string path = args.single_operand("FILE");
  if (dry && has_effect) fail_usage("export: --dry and --effect exclude each other");
  ExportFormat format = ExportFormat::WAV;
  if (has_format && !export_format_named(format_text, &format))
    fail_usage("export: --format '" + format_text + "': name one of " + EXPORT_FORMAT_NAMES);
  if (!has_format && !export_format_of_path(out_path, &format)) {
    refuse_input(out_path, path);  // the graver fault, named first
    fail_usage("export: cannot tell the format from the name '" + out_path + "': end it in .wav, .flac, "
               ".ogg, .opus, .mp3 or .html, or give --format");
  }
  if (format == ExportFormat::WEB && (as_played || dry || has_effect || has_level))
    fail_usage("export: a web message holds the message itself, with its own effect: --as-played, --dry, "
               "--effect and --level do not apply");
  const int code = has_effect ? parse_effect("export", effect_text) : 0;
  const int level = has_level ? parse_level("export", level_text) : 0;

  Carrier carrier(path);
  if (format == ExportFormat::WEB) {
    AtomicOutput out(out_path, path);
    web_message_write(out, carrier);
    out.commit();
    return EXIT_OK;
  }
  QuiraEffectChoice effect = {sizeof effect, carrier.facts().effect_code, carrier.facts().effect_level};
  if (has_effect) effect.effect_code = code;
  if (has_level) effect.effect_level = level;
  if (dry) effect.effect_code = 0;

  // The length, or a bound on it, is known before anything is written: a message too long for a
  // WAV file is refused before the output is made.
  auto refuse_too_long = [&](int64_t samples) {
    uint8_t probe[QUIRA_WAV_HEADER_BYTES];
    if (format == ExportFormat::WAV && quira_wav_header(samples, probe, sizeof probe) == QUIRA_ERR_WAV_LIMIT)
      fail(path, "the message is too long for a WAV file (over 4 GiB)");
  };
  if (as_played) {
    PlayerRun run(carrier, effect);
    const int64_t samples = quira_player_length(run.player);
    refuse_too_long(samples);
    AtomicOutput out(out_path, path);
    sound_write(out, format, {samples, samples, [&](int16_t* b, int64_t n) { return run.read(b, n); },
                              [&] { run.rewind(); }});
    out.commit();
  } else {
    HeardRun run(carrier, effect);
    const int64_t bound = quira_heard_bound(run.heard);
    refuse_too_long(bound);
    AtomicOutput out(out_path, path);
    sound_write(out, format, {-1, bound, [&](int16_t* b, int64_t n) { return run.read(b, n); }, [&] { run.rewind(); }});
    out.commit();
  }
  return EXIT_OK;
}

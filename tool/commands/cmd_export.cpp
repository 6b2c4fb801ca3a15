// quira export FILE -o OUT [--format FORMAT] [--as-played] [--dry] [--effect CODE|NAME] [--level BYTE]
//
// OUT's extension (or --format) names what is written: WAV, FLAC, Ogg Vorbis, Opus or MP3 of the
// samples below, or a web message, which holds the payload itself and plays it in a browser.
//
// Without --as-played: the message as heard (libquira's QuiraHeard): from its first audible block
// to the end of the voice, then the effect's tail rung out. With --as-played: exactly the buffers
// the player hands its sound device from the start of playback to its natural end (QuiraPlayer).
// Either way the samples stream through a buffer at a time: memory does not grow with the message.
#include <string>

#include "tool/commands/commands.h"
#include "tool/output/output.h"
#include "tool/output/sound_output.h"
#include "tool/output/web_output.h"

namespace {

// Samples in a number of buffers, held at INT64_MAX where they would outnumber it (a sparse file
// of exabytes), which the WAV header then refuses as it refuses any count past 4 GiB.
int64_t buffer_samples(int64_t buffers) {
  return buffers > INT64_MAX / QUIRA_BUFFER_SAMPLES ? INT64_MAX : buffers * QUIRA_BUFFER_SAMPLES;
}

// The start silence, then one buffer for every block.
int64_t as_played_samples(const Carrier& carrier) { return buffer_samples(2 + carrier.facts().blocks); }

struct PlayerRun {
  const Carrier& carrier;
  QuiraEffectChoice effect;
  QuiraPlayer* player = nullptr;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  int32_t at = QUIRA_BUFFER_SAMPLES;

  PlayerRun(const Carrier& c, QuiraEffectChoice e) : carrier(c), effect(e) { rewind(); }
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
        int r = quira_player_next(player, buffer, nullptr);
        check_status(carrier.path(), r < 0 ? r : QUIRA_OK);
        if (r == 0) break;
        at = 0;
      }
      int64_t n = QUIRA_BUFFER_SAMPLES - at < max - got ? QUIRA_BUFFER_SAMPLES - at : max - got;
      std::copy(buffer + at, buffer + at + n, out + got);
      at += (int32_t)n;
      got += n;
    }
    return got;
  }
};

struct HeardRun {
  const Carrier& carrier;
  QuiraEffectChoice effect;
  QuiraHeard* heard = nullptr;

  HeardRun(const Carrier& c, QuiraEffectChoice e) : carrier(c), effect(e) { rewind(); }
  ~HeardRun() { quira_heard_close(heard); }
  void rewind() {
    quira_heard_close(heard);
    heard = nullptr;
    check_status(carrier.path(), quira_heard_open(carrier.get(), &effect, &heard));
  }
  int64_t read(int16_t* out, int64_t max) {
    int64_t n = quira_heard_read(heard, out, max);
    check_status(carrier.path(), n < 0 ? (int)n : QUIRA_OK);
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

  Carrier carrier(path);
  if (format == ExportFormat::WEB) {
    AtomicOutput out(out_path, path);
    web_message_write(out, carrier);
    out.commit();
    return EXIT_OK;
  }
  QuiraEffectChoice effect = {carrier.facts().effect_code, carrier.facts().level_byte};
  if (has_effect) effect.effect_code = parse_effect("export", effect_text);
  if (has_level) effect.level_byte = parse_number("export", "--level", level_text, 0, 255);
  if (dry) effect.effect_code = 0;

  // A bound on the message as heard: every block after the priming one, and the longest tail.
  const int64_t most = buffer_samples(carrier.facts().blocks + 17);
  uint8_t probe[44];
  if (format == ExportFormat::WAV && !quira_wav_header(as_played ? as_played_samples(carrier) : most, probe))
    fail(path, "the message is too long for a WAV file (over 4 GiB)");

  AtomicOutput out(out_path, path);
  if (as_played) {
    PlayerRun run(carrier, effect);
    sound_write(out, format, {as_played_samples(carrier), as_played_samples(carrier),
                              [&](int16_t* b, int64_t n) { return run.read(b, n); }, [&] { run.rewind(); }});
  } else {
    HeardRun run(carrier, effect);
    sound_write(out, format,
                {-1, most, [&](int16_t* b, int64_t n) { return run.read(b, n); }, [&] { run.rewind(); }});
  }
  out.commit();
  return EXIT_OK;
}

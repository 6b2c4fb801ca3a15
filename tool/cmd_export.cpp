// quira export FILE -o OUT.wav [--as-played] [--dry] [--effect CODE|NAME] [--level BYTE]
//
// Without --as-played: the message as heard, from its first audible block to the end of the voice
// (the header's voice mark) or of the last block, and then the effect's tail rung out until it
// falls silent (at most TAIL_SECONDS), which the player would cut off.
// With --as-played: exactly the samples the player plays from the start of playback to its natural
// end: the player's own code is run here over a device that captures them. An effect or level
// other than the header's is played from a scratch copy of the carrier whose header says so.
#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "effects/effect_stage.h"
#include "tool/commands.h"
#include "tool/output.h"
#include "tool/player_host.h"
#include "tool/playthrough.h"
#include "tool/voice_mark.h"

namespace {

const int TAIL_SECONDS = 6;
const int TAIL_BUFFERS = (TAIL_SECONDS * WAV_RATE + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;

// A copy of a carrier with other effect and level bytes, removed when it goes out of scope.
class ScratchCarrier {
 public:
  ScratchCarrier(const std::string& source, int8_t code, uint8_t level_byte) {
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/quira-played-XXXXXX";
    int fd = mkstemp(path_.data());
    if (fd < 0) fail(path_, "cannot create a scratch file");
    File out(fdopen(fd, "wb"));
    File in(fopen(source.c_str(), "rb"));
    if (!out || !in) fail(source, "cannot copy to a scratch file");
    std::vector<uint8_t> chunk(1 << 16);
    int64_t at = 0;
    for (size_t n; (n = fread(chunk.data(), 1, chunk.size(), in.get())) > 0; at += (int64_t)n) {
      for (int64_t i = 0; i < (int64_t)n; i++) {
        if (at + i == PAYLOAD_OFFSET + 10) chunk[(size_t)i] = (uint8_t)code;
        if (at + i == PAYLOAD_OFFSET + 11) chunk[(size_t)i] = level_byte;
      }
      if (fwrite(chunk.data(), 1, n, out.get()) != n) fail(path_, "cannot write a scratch file");
    }
    if (ferror(in.get())) fail(source, "read error");
    if (fclose(out.release()) != 0) fail(path_, "cannot write a scratch file");
  }
  ~ScratchCarrier() { unlink(path_.c_str()); }
  ScratchCarrier(const ScratchCarrier&) = delete;
  ScratchCarrier& operator=(const ScratchCarrier&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What the player plays of the carrier with the given effect bytes. The player keeps its own
// file name in MAX_PATH characters; a longer path is played from a scratch copy too.
std::vector<int16_t> export_as_played(const Carrier& carrier, int8_t code, uint8_t level_byte) {
  if (code == carrier.info().effect_code && level_byte == carrier.info().level_byte &&
      carrier.path().size() < MAX_PATH)
    return player_host_capture(carrier.path());
  ScratchCarrier scratch(carrier.path(), code, level_byte);
  return player_host_capture(scratch.path());
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
  int8_t code = carrier.info().effect_code;
  uint8_t level_byte = carrier.info().level_byte;
  if (has_effect) code = (int8_t)parse_effect("export", effect_text);
  if (has_level) level_byte = (uint8_t)parse_number("export", "--level", level_text, 0, 255);
  if (dry) code = 0;

  if (as_played) {
    std::vector<int16_t> played = export_as_played(carrier, code, level_byte);
    AtomicOutput out(out_path, path);
    wav_write(out, played);
    out.commit();
    return EXIT_OK;
  }

  PlayEffect effect = {code, payload_effect_level(level_byte)};
  std::vector<int16_t> samples;
  samples.reserve((size_t)(carrier.block_count() + 2 + TAIL_BUFFERS) * BLOCK_SAMPLES);
  size_t heard_end = 0;  // end of the message proper; the tail is trimmed after its last sound
  playthrough_run(carrier, effect, TAIL_BUFFERS,
                  [&](const int16_t* buffer, BufferKind kind) {
                    if (kind != BufferKind::BLOCK && kind != BufferKind::TAIL) return true;
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
  if (voice && *voice < heard_end) {
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

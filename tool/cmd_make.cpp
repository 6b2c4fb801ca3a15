// quira make IN -o OUT.exe [--effect CODE|NAME] [--level LEVEL] [--bitrate 32|16] [--force]
//
// The recording is mixed to mono, resampled to 16 kHz, encoded as Layer III frames, laid ten to a
// block, scrambled and put behind the player embedded in this tool.
//
// Alignment: the encoder delays its input by 576 samples and the decoder by 529 more, so input
// sample i decodes at sample 1,105 + i. LEAD_SAMPLES zeros before the voice put its first sample
// on the first sample of block 1 (block 0 is the priming block, never heard). N input samples give
// ceil(N / 576) + 2 frames, so padding the input to 576 x (10k - 2) samples gives exactly 10k
// frames: whole blocks, and the voice's end well inside the last one.
//
// Memory: the recording streams through in chunks; only the frames made (4,000 bytes a second of
// voice) are held, so that they are all checked before anything is written.
#include <stdint.h>

#include <string>
#include <vector>

#include "decode/block_decoder.h"
#include "tool/commands.h"
#include "tool/mpeg_encoder.h"
#include "tool/output.h"
#include "tool/player_image.h"
#include "tool/progress.h"
#include "tool/resampler.h"
#include "tool/sound_input.h"
#include "tool/voice_mark.h"

namespace {

const int VOICE_RATE = 16000;
const int CODEC_DELAY = FRAME_SAMPLES + 529;           // encoder delay + decoder delay
const int LEAD_SAMPLES = BLOCK_SAMPLES - CODEC_DELAY;  // 4,655
const int DEFAULT_EFFECT_LEVEL = 64;                    // half effect, half voice
const size_t CHUNK_FRAMES = 16384;

// Blocks for a stream of total input samples: the least k with 576 x (10k - 2) >= total.
int64_t blocks_for(int64_t total) {
  return (total + 2 * FRAME_SAMPLES + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES;
}

struct Encoded {
  std::vector<uint8_t> frames;
  uint32_t voice_samples;
  int format;
};

Encoded encode(SoundInput& input, int kbps) {
  MpegEncoder encoder(kbps);
  Resampler resampler(input.rate(), VOICE_RATE);
  Progress progress("make: encoding " + input.name(), input.frames());
  std::vector<float> chunk(CHUNK_FRAMES), voice;
  voice.reserve(CHUNK_FRAMES * 4);

  std::vector<float> zeros(LEAD_SAMPLES, 0.0f);
  encoder.encode(zeros.data(), zeros.size());
  int64_t read = 0, voice_samples = 0;
  for (size_t n; (n = input.read_mono(chunk.data(), chunk.size())) > 0;) {
    read += (int64_t)n;
    voice.clear();
    resampler.process(chunk.data(), n, voice);
    encoder.encode(voice.data(), voice.size());
    voice_samples += (int64_t)voice.size();
    progress.update(read);
  }
  voice.clear();
  resampler.flush(voice);
  encoder.encode(voice.data(), voice.size());
  voice_samples += (int64_t)voice.size();
  if (voice_samples == 0) fail(input.name(), "holds no samples");
  if (voice_samples > (int64_t)UINT32_MAX - LEAD_SAMPLES) fail(input.name(), "too long for a carrier");

  const int64_t total = LEAD_SAMPLES + voice_samples;
  const int64_t blocks = blocks_for(total);
  zeros.assign((size_t)(FRAME_SAMPLES * (FRAMES_PER_BLOCK * blocks - 2) - total), 0.0f);
  encoder.encode(zeros.data(), zeros.size());
  return {encoder.finish(blocks * FRAMES_PER_BLOCK), (uint32_t)voice_samples, encoder.format()};
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
  Encoded encoded = encode(input, std::stoi(bitrate_text));

  PayloadHeader header{};
  voice_mark_write(header, encoded.voice_samples);
  header.bytes[10] = (uint8_t)code;
  header.bytes[11] = (uint8_t)(127 - level);  // the player's level is 127 - byte, as a signed byte

  std::span<const uint8_t> player = player_image();
  out.write(player.data(), player.size());
  out.write(header.bytes, PAYLOAD_HEADER_BYTES);
  // Blocks of 72-byte frames leave their last 720 bytes unused: zero.
  const size_t frame_bytes = (size_t)FRAME_STEP[encoded.format] * FRAMES_PER_BLOCK;
  uint8_t block[BLOCK_BYTES] = {0};
  for (size_t at = 0; at < encoded.frames.size(); at += frame_bytes) {
    for (size_t i = 0; i < frame_bytes; i++) block[i] = encoded.frames[at + i] ^ SCRAMBLE_KEY;
    out.write(block, BLOCK_BYTES);
  }
  out.commit();
  return EXIT_OK;
}

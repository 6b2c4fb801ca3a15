// The player's buffer cycle without a device.
#include "tool/playthrough.h"

#include "audio/wave_output.h"
#include "effects/effect_stage.h"

void playthrough_run(Carrier& carrier, PlayEffect effect, int tail_buffers, const BufferSink& sink) {
  static int16_t samples[BLOCK_SAMPLES];
  // The player's block buffer is zero when it starts and keeps the bytes of the block before
  // behind a short last block.
  static uint8_t block[BLOCK_BYTES];
  for (uint8_t& b : block) b = 0;
  for (int16_t& s : samples) s = 0;

  effect_start(effect.code, effect.level);
  sink(samples, BufferKind::START_SILENCE);
  sink(samples, BufferKind::START_SILENCE);

  wave_stream_start();
  for (int64_t k = 0;; k++) {
    size_t n = carrier.read_block(k, block);
    wave_refill_samples(samples, block);
    effect_apply(samples, BUFFER_BYTES);
    if (n == 0) break;  // the payload ran out: this buffer is queued but never played
    sink(samples, k == 0 ? BufferKind::PRIMING : BufferKind::BLOCK);
  }
  // What is left in the effect's memory, heard only by asking for it.
  for (int i = 0; i < tail_buffers; i++) {
    if (!sink(samples, BufferKind::TAIL)) break;
    for (int16_t& s : samples) s = 0;
    effect_apply(samples, BUFFER_BYTES);
  }
}

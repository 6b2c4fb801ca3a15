// SPDX-License-Identifier: MIT
// buffer_cost CARRIER: the cost of one buffer (a block decoded, then the effect stage) against
// the 360 ms that the other buffer plays meanwhile, for no effect and one effect of each family.
// Repeats the whole message until at least two seconds of work are timed per effect.
#include <stdio.h>
#include <time.h>

#include <vector>

#include "audio/buffer_cycle.h"
#include "payload/payload.h"

static double now(void) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: buffer_cost CARRIER\n");
    return 1;
  }
  FILE* file = fopen(argv[1], "rb");
  if (!file) return 1;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(file);
  size_t blocks = (bytes.size() - PAYLOAD_OFFSET - PAYLOAD_HEADER_BYTES) / BLOCK_BYTES;

  const struct { int code; const char* what; } CASES[] = {
      {0, "no effect"}, {4, "reverb (code 4)"}, {10, "swept delay (code 10)"}, {15, "pitch shift (code 15)"}};
  printf("%-24s %12s %12s %14s\n", "buffer = decode + effect", "mean us", "worst us", "of 360 ms");
  static int16_t samples[BLOCK_SAMPLES];
  static uint8_t block[BLOCK_BYTES];
  static BlockDecoder decoder;
  static EffectStage effect;
  BufferCycle cycle;
  buffer_cycle_init(&cycle, &decoder, &effect);
  for (const auto& c : CASES) {
    double total = 0, worst = 0;
    size_t buffers = 0;
    while (total < 2.0) {
      buffer_cycle_start(&cycle, (int8_t)c.code, 100);
      for (size_t k = 0; k < blocks; k++) {
        for (int i = 0; i < BLOCK_BYTES; i++) block[i] = bytes[PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES + k * BLOCK_BYTES + i];
        double t0 = now();
        buffer_cycle_next(&cycle, samples, block);
        double t = now() - t0;
        total += t;
        if (t > worst) worst = t;
        buffers++;
      }
    }
    double mean = total / (double)buffers;
    printf("%-24s %12.1f %12.1f %13.3f%%\n", c.what, mean * 1e6, worst * 1e6, mean / 0.36 * 100);
  }
  return 0;
}

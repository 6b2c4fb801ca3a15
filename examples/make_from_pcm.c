/* SPDX-License-Identifier: MIT */
/* make_from_pcm RATE CHANNELS IN.raw OUT.exe [EFFECT [LEVEL]]: a carrier from raw signed 16-bit
 * little-endian PCM (channels interleaved, at RATE Hz; "-" reads standard input), with a voice
 * effect by name or code (default none) at a level from -128 to 127 (default 64 with an effect).
 *
 *   cc -std=c99 make_from_pcm.c $(pkg-config --cflags --libs quira) -o make_from_pcm
 */
#include <quira/quira.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { CHUNK_FRAMES = 4096, MAX_CHANNELS = 16 };

static int fail(const char* what, int32_t status) {
  fprintf(stderr, "make_from_pcm: %s: %s\n", what, quira_status_text(status));
  return 1;
}

int main(int argc, char** argv) {
  static uint8_t pcm[CHUNK_FRAMES * MAX_CHANNELS * 2];
  static float samples[CHUNK_FRAMES * MAX_CHANNELS];
  uint8_t bytes[65536];
  QuiraMakeOptions options;
  QuiraMaker* maker = NULL;
  QuiraStatus status;
  FILE *in, *out;
  int64_t n = 0, at = 0;
  size_t frames;
  int channels;
  double rate;
  if (argc < 5 || argc > 7) {
    fprintf(stderr, "usage: make_from_pcm RATE CHANNELS IN.raw OUT.exe [EFFECT [LEVEL]]\n");
    return 2;
  }
  rate = atof(argv[1]);
  channels = atoi(argv[2]);
  if (channels < 1 || channels > MAX_CHANNELS) return fail(argv[2], QUIRA_ERR_RATE);
  quira_make_options_init(&options);
  if (argc > 5) {
    options.effect_code = quira_effect_find(argv[5]);
    if (options.effect_code < 0) return fail(argv[5], options.effect_code);
    options.effect_level = options.effect_code ? QUIRA_LEVEL_DEFAULT : 0;
  }
  if (argc > 6) options.effect_level = atoi(argv[6]);
  if ((status = quira_maker_new(rate, channels, &options, &maker)) != QUIRA_OK) return fail("maker", status);

  in = strcmp(argv[3], "-") == 0 ? stdin : fopen(argv[3], "rb");
  if (!in) {
    perror(argv[3]);
    return 1;
  }
  /* The recording streams through a chunk at a time, as 16-bit samples at full scale 1. */
  while ((frames = fread(pcm, 2 * (size_t)channels, CHUNK_FRAMES, in)) > 0) {
    size_t i;
    for (i = 0; i < frames * (size_t)channels; i++)
      samples[i] = (float)(int16_t)(pcm[2 * i] | pcm[2 * i + 1] << 8) / 32768.0f;
    if ((status = quira_maker_write(maker, samples, (int64_t)frames)) != QUIRA_OK) return fail(argv[3], status);
  }
  if (ferror(in)) {
    perror(argv[3]);
    return 1;
  }
  if ((status = quira_maker_finish(maker)) != QUIRA_OK) return fail(argv[3], status);

  if (!(out = fopen(argv[4], "wb"))) {
    perror(argv[4]);
    return 1;
  }
  while ((n = quira_maker_read(maker, at, bytes, sizeof bytes)) > 0) {
    fwrite(bytes, 1, (size_t)n, out);
    at += n;
  }
  if (n < 0) return fail(argv[4], (int32_t)n);
  if (fclose(out) != 0) {
    perror(argv[4]);
    return 1;
  }
  quira_maker_free(maker);
  return 0;
}

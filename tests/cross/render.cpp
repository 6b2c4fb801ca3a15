// SPDX-License-Identifier: MIT
// render CARRIER EFFECT_CODE LEVEL_BYTE OUT.raw [CARRIER EFFECT_CODE LEVEL_BYTE OUT.raw]...
//
// Plays a carrier through the player's buffer cycle from the start of playback and writes every
// buffer the device would be handed, as raw signed 16-bit little-endian samples. Built for Linux
// and for both Windows targets, so that a byte comparison of the outputs shows whether the
// Windows builds decode and apply effects exactly as the Linux build does.
//
// The cycle is the player's: the effect stage is set up with the given code and the level taken
// from the level byte, the refill is restarted, and then block after block is read into one
// persistent 1,440-byte buffer (zero at start; a short read leaves the previous block's bytes
// behind it, as the player's buffer does), refilled into 5,760 samples and run through the effect
// stage. The first read that returns no bytes ends playback; that buffer is not written.
//
// Each further group of four arguments is another playback in the same process, started afresh
// the way the player starts one after a stop. Under Wine one process doing many playbacks costs
// far less than one process each.
//
// Exit status 0 on success; otherwise 1 with a one-line message on stderr, at the first playback
// that failed. A carrier without a single payload block is an error here: an empty output would
// make any comparison pass.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audio/buffer_cycle.h"
#include "payload/payload.h"

static BlockDecoder DECODER;
static EffectStage EFFECT;
static BufferCycle CYCLE;
static uint8_t block[BLOCK_BYTES];
static int16_t samples[BLOCK_SAMPLES];
static uint8_t out_bytes[BUFFER_BYTES];

static int fail(const char* what, const char* detail) {
  fprintf(stderr, "render: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return 1;
}

// Parses a whole decimal number within [low, high]; returns 0 when the text is anything else.
static int parse_number(const char* text, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return 0;
  *value = v;
  return 1;
}

// One playback of carrier into out_path; returns 0 or the exit status of a failure.
static int render(const char* carrier, const char* code_text, const char* level_text,
                  const char* out_path) {
  long code = 0, level_byte = 0;
  if (!parse_number(code_text, -128, 127, &code))
    return fail("effect code must be a number from -128 to 127", code_text);
  if (!parse_number(level_text, 0, 255, &level_byte))
    return fail("level byte must be a number from 0 to 255", level_text);

  const CarrierFiles* files = &CARRIER_FILES_STDIO;
  void* in = files->open(files->context, carrier);
  if (!in) return fail("cannot open carrier", carrier);
  FILE* out = fopen(out_path, "wb");
  if (!out) {
    files->close(in);
    return fail("cannot create output", out_path);
  }

  if (!CYCLE.decoder) buffer_cycle_init(&CYCLE, &DECODER, &EFFECT);
  buffer_cycle_start(&CYCLE, (int8_t)code, payload_effect_level((uint8_t)level_byte));
  memset(block, 0, sizeof block);
  // The player positions at the first block once and then reads on from block to block.
  if (files->seek(in, payload_block_offset(0)) != 0) {
    files->close(in);
    fclose(out);
    return fail("cannot seek to the first block", carrier);
  }
  int64_t buffers = 0;
  for (;;) {
    size_t got = files->read(in, block, BLOCK_BYTES);
    if (got == 0) break;
    buffer_cycle_next(&CYCLE, samples, block);
    // Byte by byte, so the file is little-endian whatever the machine.
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
      uint16_t s = (uint16_t)samples[i];
      out_bytes[2 * i] = (uint8_t)(s & 0xFF);
      out_bytes[2 * i + 1] = (uint8_t)(s >> 8);
    }
    if (fwrite(out_bytes, 1, BUFFER_BYTES, out) != BUFFER_BYTES) {
      files->close(in);
      fclose(out);
      return fail("cannot write output", out_path);
    }
    buffers++;
  }
  files->close(in);
  if (fclose(out) != 0) return fail("cannot write output", out_path);
  if (buffers == 0) return fail("carrier has no payload blocks", carrier);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 1) % 4 != 0)
    return fail("usage: render CARRIER EFFECT_CODE LEVEL_BYTE OUT.raw [four more]...", NULL);
  for (int i = 1; i < argc; i += 4) {
    int status = render(argv[i], argv[i + 1], argv[i + 2], argv[i + 3]);
    if (status != 0) return status;
  }
  return 0;
}

// SPDX-License-Identifier: MIT
// pack_carrier IN.mp3 OUT [EFFECT_CODE [LEVEL_BYTE [PLAYER.exe]]]: lays a LAME stream out as a
// carrier behind the player (a zero-filled front part of the player's size when none is given),
// for tests and samples.
//
// The stream must be whole blocks: a multiple of ten frames, all of one accepted format (the
// media script pads the speech so LAME writes such a stream). Every frame byte is scrambled;
// blocks of 72-byte frames get 720 unused zero bytes behind their frames.
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

#include <vector>

#include "decode/block_decoder.h"
#include "payload/payload.h"

static int die(const char* why) {
  fprintf(stderr, "pack_carrier: %s\n", why);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 3) return die("usage: pack_carrier IN.mp3 OUT [EFFECT_CODE [LEVEL_BYTE [PLAYER.exe]]]");
  int code = argc > 3 ? atoi(argv[3]) : 0;
  int level_byte = argc > 4 ? atoi(argv[4]) : 127;
  FILE* in = fopen(argv[1], "rb");
  if (!in) return die("cannot open input");
  std::vector<uint8_t> mp3;
  for (int c; (c = fgetc(in)) != EOF;) mp3.push_back((uint8_t)c);
  fclose(in);
  if (mp3.size() < 4) return die("input too short");

  uint8_t first[4];
  for (int i = 0; i < 4; i++) first[i] = mp3[i] ^ SCRAMBLE_KEY;
  int format = block_format(first);
  if (format < 0) return die("first frame is not of an accepted format");
  size_t step = (size_t)FRAME_STEP[format];
  if (mp3.size() % (step * FRAMES_PER_BLOCK) != 0) return die("stream is not whole blocks of ten frames");
  for (size_t at = 0; at < mp3.size(); at += step) {
    for (int i = 0; i < 4; i++) first[i] = mp3[at + i] ^ SCRAMBLE_KEY;
    if (block_format(first) != format) return die("frames of differing formats");
  }

  std::vector<uint8_t> carrier(PAYLOAD_OFFSET, 0);
  if (argc > 5) {
    FILE* player = fopen(argv[5], "rb");
    if (!player) return die("cannot open the player");
    size_t n = fread(carrier.data(), 1, PAYLOAD_OFFSET, player);
    bool more = fgetc(player) != EOF;
    fclose(player);
    if (n != PAYLOAD_OFFSET || more) return die("the player is not exactly the front part's size");
  }
  uint8_t header[PAYLOAD_HEADER_BYTES] = {0};
  header[10] = (uint8_t)code;
  header[11] = (uint8_t)level_byte;
  carrier.insert(carrier.end(), header, header + PAYLOAD_HEADER_BYTES);
  for (size_t at = 0; at < mp3.size(); at += step * FRAMES_PER_BLOCK) {
    uint8_t block[BLOCK_BYTES] = {0};
    memcpy(block, &mp3[at], step * FRAMES_PER_BLOCK);
    block_scramble(block, (int32_t)(step * FRAMES_PER_BLOCK));
    carrier.insert(carrier.end(), block, block + BLOCK_BYTES);
  }
  FILE* out = fopen(argv[2], "wb");
  if (!out || fwrite(carrier.data(), 1, carrier.size(), out) != carrier.size() || fclose(out) != 0)
    return die("cannot write output");
  return 0;
}

// SPDX-License-Identifier: MIT
// fade_tables OUT.bin
//
// Writes the pitch shifter's cross-fade tables, as its set-up fills them, to OUT.bin: the
// FADE_LENGTH floats of FADE_SINE, then those of FADE_COSINE, each as its 32-bit pattern in
// little-endian order. They are the one place where the effects take values from the C library's
// maths (sin and cos), which is not the same library on Linux and Windows; comparing the files
// of the Linux and Windows builds shows any difference in the tables themselves, even one too
// small to change a sample of the speech that the render comparison plays.
//
// Exit status 0 on success; otherwise 1 with a one-line message on stderr.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "effects/pitch_shift.h"

static void put_float(uint8_t* out, float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; i++) out[i] = (uint8_t)(bits >> (8 * i));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "fade_tables: usage: fade_tables OUT.bin\n");
    return 1;
  }
  static DelayLineState line;
  static PitchShifter shifter;
  pitch_shift_setup(&line, &shifter, 0);
  static uint8_t bytes[2 * FADE_LENGTH * 4];
  for (int i = 0; i < FADE_LENGTH; i++) {
    put_float(bytes + 4 * i, shifter.fade_sine[i]);
    put_float(bytes + 4 * (FADE_LENGTH + i), shifter.fade_cosine[i]);
  }
  FILE* out = fopen(argv[1], "wb");
  if (!out) {
    fprintf(stderr, "fade_tables: cannot create output: %s\n", argv[1]);
    return 1;
  }
  size_t written = fwrite(bytes, 1, sizeof bytes, out);
  if (fclose(out) != 0 || written != sizeof bytes) {
    fprintf(stderr, "fade_tables: cannot write output: %s\n", argv[1]);
    return 1;
  }
  return 0;
}

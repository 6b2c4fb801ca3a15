/* SPDX-License-Identifier: MIT */
/* play_to_wav CARRIER OUT.wav: a carrier's message as a listener hears it, with its own voice
 * effect, written to a WAV file (16 kHz, mono, 16-bit).
 *
 *   cc -std=c99 play_to_wav.c $(pkg-config --cflags --libs quira) -o play_to_wav
 */
#include <quira/quira.h>
#include <stdio.h>

static int fail(const char* what, int32_t status) {
  fprintf(stderr, "play_to_wav: %s: %s\n", what, quira_status_text(status));
  return 1;
}

int main(int argc, char** argv) {
  QuiraCarrier* carrier = NULL;
  QuiraHeard* heard = NULL;
  int16_t samples[QUIRA_BUFFER_SAMPLES];
  uint8_t header[QUIRA_WAV_HEADER_BYTES];
  int64_t n = 0, total = 0;
  FILE* out;
  QuiraStatus status;
  if (argc != 3) {
    fprintf(stderr, "usage: play_to_wav CARRIER OUT.wav\n");
    return 2;
  }
  if ((status = QUIRA_VERSION_CHECK()) != QUIRA_OK) return fail("libquira", status);
  if ((status = quira_carrier_open_path(argv[1], &carrier, NULL)) != QUIRA_OK) return fail(argv[1], status);
  if ((status = quira_heard_open(carrier, NULL, &heard)) != QUIRA_OK) return fail(argv[1], status);
  /* Refused before anything is written: a message too long for a WAV file. */
  if ((n = quira_wav_header(quira_heard_bound(heard), header, sizeof header)) < 0) return fail(argv[1], (int32_t)n);
  if (!(out = fopen(argv[2], "wb"))) {
    perror(argv[2]);
    return 1;
  }
  /* The length is known at the end: the header is written again then, with it. */
  fwrite(header, 1, sizeof header, out);
  while ((n = quira_heard_read(heard, samples, QUIRA_BUFFER_SAMPLES)) > 0) {
    fwrite(samples, sizeof *samples, (size_t)n, out);
    total += n;
  }
  if (n < 0) return fail(argv[1], (int32_t)n);
  quira_wav_header(total, header, sizeof header);
  if (fseek(out, 0, SEEK_SET) != 0 || fwrite(header, 1, sizeof header, out) != sizeof header || fclose(out) != 0) {
    perror(argv[2]);
    return 1;
  }
  quira_heard_close(heard);
  quira_carrier_close(carrier);
  return 0;
}

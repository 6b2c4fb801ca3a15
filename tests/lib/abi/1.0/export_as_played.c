/* SPDX-License-Identifier: MIT */
/* export_as_played CARRIER OUT.wav: what the player hands its sound device, as a WAV file, written
 * by a C program over the installed libquira. */
#include <quira/quira.h>
#include <stdio.h>

int main(int argc, char** argv) {
  QuiraCarrier* carrier = NULL;
  QuiraPlayer* player = NULL;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  uint8_t header[QUIRA_WAV_HEADER_BYTES];
  int32_t n = 0;
  FILE* out = NULL;
  if (argc != 3) {
    fprintf(stderr, "usage: export_as_played CARRIER OUT.wav\n");
    return 1;
  }
  QuiraStatus status = QUIRA_VERSION_CHECK();
  if (status == QUIRA_OK) status = quira_carrier_open_path(argv[1], &carrier, NULL);
  if (status == QUIRA_OK) status = quira_player_new(carrier, NULL, &player);
  if (status == QUIRA_OK) status = quira_player_start(player);
  /* Two silent buffers, then one for every block: the length is known before the first. */
  if (status == QUIRA_OK) n = quira_wav_header(quira_player_length(player), header, sizeof header);
  if (status != QUIRA_OK || n < 0) {
    if (n < 0) status = (QuiraStatus)n;
    fprintf(stderr, "export_as_played: %s: %s\n", argv[1], quira_status_text(status));
    return 1;
  }
  out = fopen(argv[2], "wb");
  if (!out) return 1;
  fwrite(header, 1, sizeof header, out);
  while ((n = quira_player_next(player, buffer, QUIRA_BUFFER_SAMPLES, NULL)) > 0) fwrite(buffer, 2, (size_t)n, out);
  quira_player_free(player);
  quira_carrier_close(carrier);
  return fclose(out) == 0 && n == 0 ? 0 : 1;
}

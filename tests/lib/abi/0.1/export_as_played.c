// SPDX-License-Identifier: MIT
/* export_as_played CARRIER OUT.wav: what the player hands its sound device, as a WAV file, written
 * by a C program over the installed libquira. */
#include <quira/quira.h>
#include <stdio.h>

int main(int argc, char** argv) {
  QuiraCarrier* carrier = NULL;
  QuiraPlayer* player = NULL;
  QuiraHeaderFacts facts;
  int16_t buffer[QUIRA_BUFFER_SAMPLES];
  uint8_t header[44];
  if (argc != 3) {
    fprintf(stderr, "usage: export_as_played CARRIER OUT.wav\n");
    return 1;
  }
  int status = quira_carrier_open_path(argv[1], &carrier);
  if (status == QUIRA_OK) status = quira_carrier_header(carrier, &facts);
  if (status == QUIRA_OK) status = quira_player_new(carrier, NULL, &player);
  if (status == QUIRA_OK) status = quira_player_start(player);
  if (status != QUIRA_OK) {
    fprintf(stderr, "export_as_played: %s: %s\n", argv[1], quira_status_text(status));
    return 1;
  }
  FILE* out = fopen(argv[2], "wb");
  /* Two silent buffers, then one for every block: the length is known before the first. */
  if (!out || !quira_wav_header((2 + facts.blocks) * QUIRA_BUFFER_SAMPLES, header)) return 1;
  fwrite(header, 1, sizeof header, out);
  while (quira_player_next(player, buffer, NULL) == 1) fwrite(buffer, 2, QUIRA_BUFFER_SAMPLES, out);
  quira_player_free(player);
  quira_carrier_close(carrier);
  return fclose(out) == 0 ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// Playback control and position display.
#include "app/playback.h"

#include "app/player_dialog.h"
#include "audio/wave_output.h"
#include "res/resource.h"

PlaybackState PLAYBACK;

static const char NO_DEVICE_TEXT[] = "Can not open sound device.";
static const char CAPTION[] = "Quira";

const CarrierFiles* playback_files(void) {
  return PLAYBACK.carrier_files ? PLAYBACK.carrier_files : &CARRIER_FILES_STDIO;
}

void playback_start(HWND dialog) {
  if (PLAYBACK.playing == 1) return;
  int8_t level = payload_effect_level(PLAYBACK.level_byte);
  if (wave_start(dialog, PLAYBACK.effect_code, level) != WAVE_START_OK) {
    MessageBoxA(dialog, NO_DEVICE_TEXT, CAPTION, MB_OK | MB_ICONINFORMATION);
    button_release(dialog, IDC_PLAY);
    return;
  }
  HWND play = GetDlgItem(dialog, IDC_PLAY);
  SendMessageA(play, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)PLAYBACK.playing_image);
  EnableWindow(play, FALSE);

  const CarrierFiles* files = playback_files();
  PLAYBACK.carrier_file = files->open(files->context, PLAYBACK.carrier_path);
  if (PLAYBACK.block_counter > 0) PLAYBACK.block_counter--;  // a resume backs up one block
  // A carrier that cannot be opened or positioned is never read: the first notification finds no
  // blocks to decode and ends playback.
  int positioned = PLAYBACK.carrier_file &&
                   files->seek(PLAYBACK.carrier_file, payload_block_offset(PLAYBACK.block_counter)) == 0;
  PLAYBACK.decoding = positioned ? 1 : 0;
  PLAYBACK.playing = 1;
  button_release(dialog, IDC_PLAY);
}

void playback_stop(HWND dialog) {
  if (PLAYBACK.playing != 1) return;
  wave_stop();
  if (PLAYBACK.carrier_file) playback_files()->close(PLAYBACK.carrier_file);
  PLAYBACK.carrier_file = 0;
  PLAYBACK.playing = 0;
  PLAYBACK.decoding = 0;
  HWND play = GetDlgItem(dialog, IDC_PLAY);
  SendMessageA(play, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)PLAYBACK.play_image);
  EnableWindow(play, TRUE);
}

void playback_buffer_done(HWND dialog, WAVEHDR* header) {
  // Notifications for buffers a stop handed back name freed headers, and may arrive after a new
  // start: only a header of the open device that it has handed back is worked on.
  if (!PLAYBACK.playing || !wave_header_returned(header)) return;
  if (PLAYBACK.decoding == 0) {
    playback_stop(dialog);
    return;
  }
  size_t n = playback_files()->read(PLAYBACK.carrier_file, PLAYBACK.block_buffer, BLOCK_BYTES);
  int16_t* samples = wave_refill(header, PLAYBACK.block_buffer);
  PLAYBACK.block_counter++;
  if (n == 0) {
    PLAYBACK.decoding = 0;
    PLAYBACK.block_counter = 0;
  } else {
    title_update(dialog, PLAYBACK.block_counter);
  }
  effect_apply(WAVE.cycle.effect, samples, BUFFER_BYTES);
  wave_queue(header);
}

void playback_rewind(HWND dialog) {
  PLAYBACK.block_counter = 0;
  title_update(dialog, 0);
}

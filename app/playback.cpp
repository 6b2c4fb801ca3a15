// Playback control and position display.
#include "app/playback.h"

#include "app/title.h"
#include "audio/wave_output.h"
#include "effects/effect_stage.h"
#include "res/resource.h"

PlaybackState PLAYBACK;

static const char NO_DEVICE_TEXT[] = "Can not open sound device.";
static const char CAPTION[] = "Quira";

#ifdef _WIN32
#define playback_seek _fseeki64
#else
#define playback_seek fseeko
#endif

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

  PLAYBACK.carrier_file = fopen(PLAYBACK.carrier_path, "rb");
  if (PLAYBACK.block_counter > 0) PLAYBACK.block_counter--;  // a resume backs up one block
  // A carrier that cannot be opened or positioned is never read: the first notification finds no
  // blocks to decode and ends playback.
  int positioned = PLAYBACK.carrier_file &&
                   playback_seek(PLAYBACK.carrier_file,
                                 payload_block_offset(PLAYBACK.block_counter), SEEK_SET) == 0;
  PLAYBACK.decoding = positioned ? 1 : 0;
  PLAYBACK.playing = 1;
  button_release(dialog, IDC_PLAY);
}

void playback_stop(HWND dialog) {
  if (PLAYBACK.playing != 1) return;
  wave_stop();
  if (PLAYBACK.carrier_file) fclose(PLAYBACK.carrier_file);
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
  size_t n = fread(PLAYBACK.block_buffer, 1, BLOCK_BYTES, PLAYBACK.carrier_file);
  int16_t* samples = wave_refill(header, PLAYBACK.block_buffer);
  PLAYBACK.block_counter++;
  if (n == 0) {
    PLAYBACK.decoding = 0;
    PLAYBACK.block_counter = 0;
  } else {
    title_update(dialog, PLAYBACK.block_counter);
  }
  effect_apply(samples, PLAYBACK.buffer_bytes);
  wave_queue(header);
}

void title_update(HWND dialog, int32_t blocks) {
  char title[TITLE_CHARS];
  title_compose(title, blocks, PLAYBACK.total_seconds);
  SetWindowTextA(dialog, title);
}

void button_release(HWND dialog, int button) {
  HWND control = GetDlgItem(dialog, button);
  SetWindowLongA(control, GWL_STYLE, GetWindowLongA(control, GWL_STYLE) & ~BS_DEFPUSHBUTTON);
  SetFocus(GetDlgItem(dialog, IDC_LABEL));
}

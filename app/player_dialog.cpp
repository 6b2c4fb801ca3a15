// SPDX-License-Identifier: MIT
// The player dialog: one handler per message.
#include "app/player_dialog.h"

#include "app/playback.h"
#include "app/title.h"
#include "res/resource.h"

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

static HBITMAP dialog_load_bitmap(int id) {
  return (HBITMAP)LoadImageA(PLAYBACK.instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                             LR_LOADMAP3DCOLORS);
}

// Start-up: the buttons' images, the payload's header and length, the title, and playback, all
// before the dialog first shows.
static void dialog_on_init(HWND dialog) {
  PLAYBACK.play_image = dialog_load_bitmap(IDB_PLAY);
  PLAYBACK.playing_image = dialog_load_bitmap(IDB_PLAYING);
  SendMessageA(GetDlgItem(dialog, IDC_PLAY), BM_SETIMAGE, IMAGE_BITMAP,
               (LPARAM)PLAYBACK.play_image);
  SendMessageA(GetDlgItem(dialog, IDC_STOP), BM_SETIMAGE, IMAGE_BITMAP,
               (LPARAM)dialog_load_bitmap(IDB_STOP));
  GetModuleFileNameA(PLAYBACK.instance, PLAYBACK.carrier_path, MAX_PATH);

  PayloadInfo info = {};
  payload_read_header(playback_files(), PLAYBACK.carrier_path, &info);
  PLAYBACK.payload_header = info.header;
  PLAYBACK.effect_code = info.effect_code;
  PLAYBACK.level_byte = info.level_byte;
  PLAYBACK.total_seconds = info.total_seconds;

  title_update(dialog, 0);
  playback_start(dialog);
}

// Stop while playing halts and holds the position; stop while stopped rewinds to the start.
static void dialog_on_stop(HWND dialog) {
  if (PLAYBACK.playing) {
    playback_stop(dialog);
  } else {
    playback_rewind(dialog);
  }
  button_release(dialog, IDC_STOP);
}

static void dialog_on_command(HWND dialog, int id) {
  switch (id) {
    case IDCANCEL:  // the close box, Escape and Alt+F4 all arrive as this
      EndDialog(dialog, 1);
      break;
    case IDC_PLAY:
      playback_start(dialog);
      break;
    case IDC_STOP:
      dialog_on_stop(dialog);
      break;
    default:  // IDOK and the hidden default button: Enter does nothing
      break;
  }
}

INT_PTR CALLBACK player_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      dialog_on_init(dialog);
      return TRUE;
    case WM_COMMAND:
      dialog_on_command(dialog, LOWORD(wparam));
      return TRUE;
    case WM_DESTROY:
      playback_stop(dialog);  // does nothing unless playing
      return TRUE;
    case MM_WOM_DONE:
      playback_buffer_done(dialog, (WAVEHDR*)lparam);
      return TRUE;
    default:
      return FALSE;
  }
}

// SPDX-License-Identifier: MIT
// The player's dialog on a terminal.
#include "tool/hosting/terminal_face.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "app/playback.h"
#include "res/resource.h"

namespace {

// How often an interactive face looks for keys while the player has nothing to do.
const int KEY_POLL_MS = 30;

const int CTRL_C = 0x03;
const int ESCAPE = 0x1B;

// The terminal's mode before raw mode, for the signal handler as well as the destructor.
struct termios SAVED_MODE;
volatile sig_atomic_t RAW_ACTIVE = 0;
const int RESTORE_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restore_mode() {
  if (RAW_ACTIVE) tcsetattr(STDIN_FILENO, TCSAFLUSH, &SAVED_MODE);
  RAW_ACTIVE = 0;
}

// A signal that ends the process leaves the terminal as it found it, then ends the process the
// way the signal would have.
void on_signal(int sig) {
  restore_mode();
  (void)!write(STDOUT_FILENO, "\n", 1);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Characters, not lines, without echo; no signals from the keyboard either, so that Ctrl-C comes
// through as a key that closes the dialog and the player shuts the device down itself.
bool enter_raw_mode() {
  if (tcgetattr(STDIN_FILENO, &SAVED_MODE) != 0) return false;
  struct termios raw = SAVED_MODE;
  raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : RESTORE_SIGNALS) sigaction(sig, &action, nullptr);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) return false;
  RAW_ACTIVE = 1;
  return true;
}

void leave_raw_mode() {
  restore_mode();
  for (int sig : RESTORE_SIGNALS) signal(sig, SIG_DFL);
}

// Playback runs while the play button is disabled: the player enables it again when it stops,
// at the end of the message as after a stop, and leaves it enabled when the device did not open.
bool playing(HWND dialog) { return !IsWindowEnabled(GetDlgItem(dialog, IDC_PLAY)); }

}  // namespace

TerminalFace::TerminalFace(bool interactive, const char* (*detail)(void))
    : interactive_(interactive),
      detail_(detail),
      title_on_terminal_(isatty(STDOUT_FILENO)),
      with_status_(interactive && title_on_terminal_) {
  face_.context = this;
  face_.idle = on_idle;
  face_.title = on_title;
  face_.message_box = on_message_box;
  if (interactive_) raw_ = enter_raw_mode();
}

TerminalFace::~TerminalFace() {
  end_line();
  if (raw_) leave_raw_mode();
}

int TerminalFace::on_idle(void* context, HWND dialog) {
  auto* self = static_cast<TerminalFace*>(context);
  if (self->interactive_) {
    self->follow_playback(false);
    if (self->with_status_ && self->line_open_ && self->status() != self->last_status_) self->draw();
    self->read_keys(dialog);
    return KEY_POLL_MS;
  }
  if (!playing(dialog)) platform_key(dialog, VK_ESCAPE);
  return -1;  // the device's notifications wake the loop
}

// Reads the keys waiting on the terminal. An escape sequence (an arrow or function key) is
// skipped whole; Escape alone closes.
void TerminalFace::read_keys(HWND dialog) {
  struct pollfd in = {STDIN_FILENO, POLLIN, 0};
  if (poll(&in, 1, 0) <= 0) return;
  unsigned char keys[64];
  ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
  if (n <= 0 && !(n < 0 && errno == EINTR)) {
    platform_key(dialog, VK_ESCAPE);  // the terminal hung up: nobody is left to close the window
    return;
  }
  for (ssize_t i = 0; i < n; i++) {
    int key = keys[i];
    if (key == ESCAPE && i + 1 < n && (keys[i + 1] == '[' || keys[i + 1] == 'O')) {
      for (i += 2; i < n && !(keys[i] >= 0x40 && keys[i] <= 0x7E); i++) {
      }
      continue;
    }
    if (key == 'p' || key == 'P' || key == ' ')
      platform_click(dialog, IDC_PLAY);
    else if (key == 's' || key == 'S')
      platform_click(dialog, IDC_STOP);
    else if (key == 'q' || key == 'Q' || key == ESCAPE || key == CTRL_C)
      platform_key(dialog, VK_ESCAPE);
  }
}

void TerminalFace::on_title(void* context, HWND, const char* text) {
  auto* self = static_cast<TerminalFace*>(context);
  self->follow_playback(true);
  if (self->title_on_terminal_) {
    self->last_title_ = text;
    self->draw();
  } else if (self->last_title_ != text) {  // the title is rewritten every block, mostly unchanged
    printf("%s\n", text);
    self->last_title_ = text;
  }
  fflush(stdout);
}

// The state is read off the player's own, whenever the face is called: playing while the device
// is open. When it has closed, playback came to the end if the position went back to the start
// after at least one block had been played (a stop holds the position); it stays at the end until
// playback starts again or a title is written while stopped (the rewind of a second stop).
void TerminalFace::follow_playback(bool title_written) {
  if (PLAYBACK.playing) {
    if (!running_) {
      running_ = true;
      titles_in_run_ = 0;
      at_end_ = false;
    }
    if (title_written) titles_in_run_++;
  } else if (running_) {
    running_ = false;
    at_end_ = PLAYBACK.block_counter == 0 && titles_in_run_ > 0;
  } else if (title_written) {
    at_end_ = false;
  }
}

const char* TerminalFace::status() const {
  if (PLAYBACK.playing) return "playing      s stop   q close";
  if (at_end_) return "at the end   p play from the start   q close";
  if (PLAYBACK.block_counter > 0) return "stopped      p resume   s rewind   q close";
  return "stopped      p play   q close";
}

// Writes the title over the one on the terminal, and the status line under it. The cursor is left
// at the end of the last line written, so that a redraw goes back up one line first.
void TerminalFace::draw() {
  if (!with_status_) {
    printf("\r%s\033[K", last_title_.c_str());
  } else {
    last_status_ = status();
    printf("%s\r%s\033[K\n\r  %s\033[K", line_open_ ? "\033[A" : "", last_title_.c_str(), last_status_);
  }
  line_open_ = true;
  fflush(stdout);
}

int TerminalFace::on_message_box(void* context, HWND, const char* text, const char*, unsigned) {
  auto* self = static_cast<TerminalFace*>(context);
  self->message_ = text;
  const char* why = self->detail_ ? self->detail_() : nullptr;
  if (why && *why) self->message_ += std::string(" (") + why + ")";
  if (self->interactive_) {
    self->end_line();
    fprintf(stderr, "quira: %s\n", self->message_.c_str());
  }
  return IDOK;
}

// Leaves the title standing: the status line is cleared (the cursor stays at its start), a lone
// title line is ended.
void TerminalFace::end_line() {
  if (!line_open_) return;
  printf(with_status_ ? "\r\033[K" : "\n");
  fflush(stdout);
  line_open_ = false;
}

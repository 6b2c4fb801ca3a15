// SPDX-License-Identifier: MIT
// The player's dialog on a terminal: what stands for its window, its two buttons and its message
// box when the player runs under `quira play`.
//
// Interactive (standard input is a terminal): keys are read from it in raw mode and turned into
// what the dialog gets from the buttons and the keyboard: p or Space clicks play, s clicks stop,
// q, Escape or Ctrl-C close the dialog. The terminal's own mode is restored when the face goes,
// and also when a signal ends the process while it is in raw mode.
// Not interactive: the face presses nothing but closes the dialog as soon as playback is not
// running, so the message plays once, from the start to its natural end.
//
// The window title goes to standard output, rewritten in place on a terminal and one line per
// change otherwise. When the face is interactive and its output a terminal, a status line stands
// under the title, as in terminal players: the state (playing, stopped, at the end) and the keys
// that work in it; it is cleared when the face goes. A message box's text goes to standard error;
// a face that is not interactive only keeps it, for the caller to report.
#pragma once
#include <string>

#include "platform/host.h"

class TerminalFace {
 public:
  // detail, when given, explains a message box (the sound device's reason for refusing to open).
  TerminalFace(bool interactive, const char* (*detail)(void));
  ~TerminalFace();
  TerminalFace(const TerminalFace&) = delete;
  TerminalFace& operator=(const TerminalFace&) = delete;

  const DialogFace* face() const { return &face_; }
  // The text of the last message box shown, with its detail; empty when none was.
  const std::string& message() const { return message_; }

 private:
  static int on_idle(void* context, HWND dialog);
  static void on_title(void* context, HWND window, const char* text);
  static int on_message_box(void* context, HWND owner, const char* text, const char* caption,
                            unsigned type);
  void read_keys(HWND dialog);
  void follow_playback(bool title_written);
  const char* status() const;
  void draw();
  void end_line();

  DialogFace face_{};
  bool interactive_;
  bool raw_ = false;
  const char* (*detail_)(void);
  bool title_on_terminal_;
  bool with_status_;        // a status line under the title
  bool line_open_ = false;  // the title (and status) stand on the terminal's last lines
  bool running_ = false;    // playback was running when the face last looked
  int titles_in_run_ = 0;   // titles written since playback last started
  bool at_end_ = false;     // playback ran to the end and has not been rewound or started since
  std::string last_title_;
  const char* last_status_ = nullptr;
  std::string message_;
};

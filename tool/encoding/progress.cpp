// SPDX-License-Identifier: MIT
// Progress line on a terminal.
#include "tool/encoding/progress.h"

#include <stdio.h>
#include <unistd.h>

#include "tool/cli.h"

Progress::Progress(std::string what, int64_t total)
    : what_(std::move(what)), total_(total), enabled_(!QUIET && total > 0 && isatty(STDERR_FILENO)),
      start_(Clock::now()), last_(start_) {}

Progress::~Progress() {
  if (shown_) fprintf(stderr, "\r\033[K");
}

void Progress::update(int64_t done) {
  if (!enabled_) return;
  Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  shown_ = true;
  fprintf(stderr, "\rquira: %s %3d%%", what_.c_str(), (int)(done * 100 / total_));
  fflush(stderr);
}

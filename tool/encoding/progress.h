// SPDX-License-Identifier: MIT
// Progress of a long piece of work on stderr, one line rewritten in place. Shown only when stderr
// is a terminal and -q is off, and only once the work has run for half a second, so short runs and
// redirected output stay clean.
#pragma once
#include <stdint.h>

#include <chrono>
#include <string>

class Progress {
 public:
  Progress(std::string what, int64_t total);
  ~Progress();  // clears the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(int64_t done);

 private:
  using Clock = std::chrono::steady_clock;
  std::string what_;
  int64_t total_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_, last_;
};

// SPDX-License-Identifier: MIT
// A carrier opened for reading by the tool: libquira's QuiraCarrier over the file, closed with its
// owner, and the facts its header gives. The tool only ever reads
// the front part's bytes, never runs it.
#pragma once
#include <stdint.h>

#include <string>

#include "quira/quira.h"

class Carrier {
 public:
  // Opens path. Throws ToolError: EXIT_PROCESSING when it cannot be read (missing, unreadable,
  // or not a regular file: a directory, FIFO or device is refused at once, without waiting on
  // it), EXIT_NOT_CARRIER when it is shorter than the player it should begin with.
  explicit Carrier(const std::string& path);
  ~Carrier();
  Carrier(const Carrier&) = delete;
  Carrier& operator=(const Carrier&) = delete;

  QuiraCarrier* get() const { return carrier_; }
  const std::string& path() const { return path_; }
  const QuiraHeaderFacts& facts() const { return facts_; }

 private:
  std::string path_;
  QuiraCarrier* carrier_ = nullptr;
  QuiraHeaderFacts facts_{};
};

// Turns a negative library status (a failed call's, or a count's) into the tool's error for file.
void check_status(const std::string& file, int64_t status);

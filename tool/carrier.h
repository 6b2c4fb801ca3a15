// A carrier opened for reading by the tool: libquira's QuiraCarrier, closed with its owner, and
// the facts its header gives. The tool only ever reads the front part's bytes, never runs it.
#pragma once
#include <stdint.h>

#include <string>

#include "quira/quira.h"

class Carrier {
 public:
  // Opens path. Throws ToolError: EXIT_PROCESSING when it cannot be read (missing, a directory,
  // not a regular file, unreadable), EXIT_NOT_CARRIER when it is shorter than the player.
  explicit Carrier(const std::string& path);
  ~Carrier() { quira_carrier_close(carrier_); }
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

// Turns a library status other than QUIRA_OK into the tool's error for file.
void check_status(const std::string& file, int status);

// Output files that are never half-written: data goes to a temporary file beside the target,
// which is renamed over the target only when complete. "-" means standard output.
//
// What the target names decides how it is written: a new name or a regular file is replaced
// atomically as above; a symbolic link is followed (to its last link) and the file it names is
// replaced the same way, in that file's directory, the link left as it is; a character device
// or a FIFO is written to directly, as it cannot be replaced (the FIFO's reader is waited for).
// A directory, block device or socket is refused.
// An AtomicOutput destroyed before commit() removes its temporary file.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tool/carrier.h"

class AtomicOutput {
 public:
  // Creates the temporary file for target (or opens the device or FIFO, or takes stdout for "-").
  // Refuses a target that is the input file itself, which the rename would otherwise replace.
  AtomicOutput(const std::string& target, const std::string& input);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void write(const void* data, size_t bytes);
  // Flushes, syncs and renames the temporary file to the target (flushes a direct one).
  void commit();
  const std::string& target() const { return target_; }

 private:
  std::string target_;
  std::string final_;  // the file that is replaced: the target, or what its links lead to
  std::string temp_;   // empty when written directly
  FILE* file_ = nullptr;
  bool to_stdout_ = false;
  bool committed_ = false;
};

// Unless force, an existing regular file at target (through its links) is an error ("exists (use
// --force)"), checked before any work. A device or FIFO is written to, not replaced: no error.
void refuse_existing(const std::string& target, bool force);

enum { WAV_RATE = 16000 };

// Writes samples as a canonical 44-byte-header WAV file, mono, 16-bit, at WAV_RATE.
void wav_write(AtomicOutput& out, const std::vector<int16_t>& samples);

// SPDX-License-Identifier: MIT
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

#include <functional>
#include <string>
#include <vector>

#include <stdio.h>

class AtomicOutput {
 public:
  // Creates the temporary file for target (or opens the device or FIFO, or takes stdout for "-").
  // Refuses a target that is the input file itself, which the rename would otherwise replace,
  // and standard output opened on the input. Without replace, commit() fails ("exists") rather
  // than replace a file that appeared at the target meanwhile.
  AtomicOutput(const std::string& target, const std::string& input, bool replace = true);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void write(const void* data, size_t bytes);
  // Whether written bytes can be rewritten (a file, not a pipe or device), and rewriting them.
  bool seekable() const;
  void write_at(int64_t offset, const void* data, size_t bytes);
  // Where the next write goes, and moving it within what was written (a seekable output only).
  int64_t position() const;
  bool seek(int64_t offset);
  // Flushes, syncs and renames the temporary file to the target (flushes a direct one).
  void commit();
  const std::string& target() const { return target_; }

 private:
  std::string target_;
  std::string final_;  // the file that is replaced: the target, or what its links lead to
  std::string temp_;   // empty when written directly
  FILE* file_ = nullptr;
  bool replace_ = true;
  bool to_stdout_ = false;
  bool committed_ = false;
};

// A target that is the input file itself (through links too) is an error.
void refuse_input(const std::string& target, const std::string& input);

// Unless force, an existing regular file at target (through its links) is an error ("exists (use
// --force)"), checked before any work. A device or FIFO is written to, not replaced: no error.
void refuse_existing(const std::string& target, bool force);

// Writes a WAV file (16 kHz, mono, 16-bit) of the samples read() gives, a buffer at a time until it
// gives 0, in one pass. samples is their number when known before they are made, else -1: then
// the header's sizes are written last, over a placeholder, or, where the output cannot be
// rewritten (a pipe), declared open, as streaming encoders write them, for the reader to take
// the samples to the end of the stream. Refuses a message whose bound is too long for a WAV file
// before anything is written.
struct WavSource {
  int64_t samples;                           // -1 when not known in advance
  int64_t most_samples;                      // a bound on their number
  std::function<int64_t(int16_t*, int64_t)> read;
  // Starts read() again from the first sample, for an encoder that must see them twice (the
  // MP3's Info frame to a pipe); WAV never does.
  std::function<void()> rewind;
};
void wav_write(AtomicOutput& out, const WavSource& source);

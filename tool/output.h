// Output files that are never half-written: data goes to a temporary file beside the target,
// which is renamed over the target only when complete. "-" means standard output.
// An AtomicOutput destroyed before commit() removes its temporary file.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "tool/carrier.h"

class AtomicOutput {
 public:
  // Creates the temporary file for target (or takes stdout for "-"). Refuses a target that is the
  // input file itself, which the rename would otherwise replace.
  AtomicOutput(const std::string& target, const std::string& input);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void write(const void* data, size_t bytes);
  // Flushes, syncs and renames the temporary file to the target.
  void commit();
  const std::string& target() const { return target_; }

 private:
  std::string target_;
  std::string temp_;
  FILE* file_ = nullptr;
  bool to_stdout_ = false;
  bool committed_ = false;
};

// Unless force, an existing target is an error ("exists (use --force)"), checked before any work.
void refuse_existing(const std::string& target, bool force);

enum { WAV_RATE = 16000 };

// Writes samples as a canonical 44-byte-header WAV file, mono, 16-bit, at WAV_RATE.
void wav_write(AtomicOutput& out, const std::vector<int16_t>& samples);

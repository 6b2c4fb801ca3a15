// SPDX-License-Identifier: MIT
// A recording to make a carrier from, read by libsndfile (WAV, FLAC, Ogg Vorbis, AIFF and the rest
// of what it reads) at its own rate, a chunk at a time: memory does not grow with its length.
//
// Input is a regular file, or a stream: standard input ("-") or a named pipe. A stream is read
// as it comes, with libsndfile's own reading of pipes, which never seeks; only the formats it
// reads that way sample for sample are taken from one (WAV, W64, AU, AIFF, Ogg Vorbis, MPEG).
// The others (FLAC, CAF, RF64, VOC and more) need to seek and are refused with their name: from
// a pipe libsndfile would fail on them or, worse, read them wrong without a word.
// Standard input redirected from a regular file is a regular file and reads as one.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>

struct sf_private_tag;
struct SoundFileCloser {
  void operator()(sf_private_tag* file) const;
};

class SoundInput {
 public:
  // Opens path, or standard input for "-". Throws ToolError (EXIT_PROCESSING) with one line when
  // it cannot be read, is neither a regular file nor a pipe, or is not a recording libsndfile
  // reads (from a pipe: reads without seeking). A named pipe is waited on until a writer opens it.
  explicit SoundInput(const std::string& path);

  // The name used in messages.
  const std::string& name() const { return name_; }
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  // Length in sample frames as the file declares it; -1 for a stream, whose length is known only
  // at its end.
  int64_t frames() const { return frames_; }
  // Length in sample frames as the header declares it, which is more than frames() when the file
  // was cut short after its header was written (a WAV file's data chunk); -1 for a stream.
  int64_t declared() const { return declared_; }

  // Reads up to max sample frames, channels interleaved, as libsndfile gives them (full scale
  // +-1 for fixed-point data; a floating-point file's values as they stand, NaN and all). Returns
  // how many, 0 at the end.
  size_t read(float* interleaved, size_t max);

 private:
  std::string name_;
  std::unique_ptr<sf_private_tag, SoundFileCloser> file_;
  int rate_ = 0;
  int channels_ = 0;
  int64_t frames_ = 0;
  int64_t declared_ = -1;
  int64_t unread_ = 0;  // sample frames declared and not yet read
};

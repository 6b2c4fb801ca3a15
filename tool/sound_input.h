// A recording to make a carrier from, read by libsndfile (WAV, FLAC, Ogg Vorbis, AIFF and the rest
// of what it reads) at its own rate, its channels interleaved, full scale +-1.
//
// A file is read as it goes, a chunk at a time. Standard input ("-") is read whole into memory
// first: most formats need to seek, which a pipe cannot.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;
struct SoundFileCloser {
  void operator()(sf_private_tag* file) const;
};

class SoundInput {
 public:
  // Opens path, or standard input for "-". Throws ToolError (EXIT_PROCESSING) with one line when
  // it cannot be read, is not a recording libsndfile knows, or holds no samples.
  explicit SoundInput(const std::string& path);
  ~SoundInput();  // out of line: Memory is complete only there
  SoundInput(const SoundInput&) = delete;
  SoundInput& operator=(const SoundInput&) = delete;

  // The name used in messages.
  const std::string& name() const { return name_; }
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  // Length in sample frames, as the file declares it.
  int64_t frames() const { return frames_; }

  // Reads up to max frames into out (room for max x channels). Returns how many, 0 at the end.
  size_t read_frames(float* out, size_t max);

 private:
  struct Memory;
  std::string name_;
  std::unique_ptr<Memory> memory_;  // standard input's bytes, for the virtual reader; outlives file_
  std::unique_ptr<sf_private_tag, SoundFileCloser> file_;
  int rate_ = 0;
  int channels_ = 0;
  int64_t frames_ = 0;
};

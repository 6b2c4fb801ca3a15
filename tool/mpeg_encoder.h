// The voice's MPEG-2 Layer III frames, by libmp3lame: 16 kHz mono in, constant bit rate of 32 or
// 16 kbit/s, no Info tag, no ID3 tag, no CRC, original bit set. Each frame then carries exactly the
// header word the block decoder accepts for its format.
//
// Invariant of finish(): the stream it returns is exactly the expected number of frames, each of
// FRAME_STEP bytes starting with the accepted word; anything else is an error, never a carrier.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

struct lame_global_struct;
struct LameCloser {
  void operator()(lame_global_struct* lame) const;
};

class MpegEncoder {
 public:
  // kbps is 32 or 16. Throws ToolError when the encoder cannot be set up.
  explicit MpegEncoder(int kbps);
  MpegEncoder(const MpegEncoder&) = delete;
  MpegEncoder& operator=(const MpegEncoder&) = delete;

  // Encodes n samples at 16 kHz, full scale +-1.
  void encode(const float* samples, size_t n);
  // Flushes the encoder and returns the whole stream after checking it is expected_frames frames
  // of the accepted format; throws ToolError otherwise.
  std::vector<uint8_t> finish(int64_t expected_frames);

  // Block format index (see decode/block_decoder.h) of the frames made.
  int format() const { return format_; }

 private:
  std::unique_ptr<lame_global_struct, LameCloser> lame_;
  int format_;
  std::vector<uint8_t> stream_;
  std::vector<uint8_t> chunk_;
};

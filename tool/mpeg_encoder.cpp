// Layer III encoding over libmp3lame.
#include "tool/mpeg_encoder.h"

#include <lame.h>
#include <stdio.h>

#include <string>

#include "decode/block_decoder.h"
#include "tool/cli.h"

namespace {

const int RATE = 16000;

[[noreturn]] void encoder_fail(const std::string& why) {
  throw ToolError(EXIT_PROCESSING, "encoder: " + why);
}

}  // namespace

MpegEncoder::MpegEncoder(int kbps) : format_(kbps == 32 ? 2 : 1) {
  lame_.reset(lame_init());
  if (!lame_) encoder_fail("cannot start libmp3lame");
  lame_global_flags* lame = lame_.get();
  lame_set_in_samplerate(lame, RATE);
  lame_set_out_samplerate(lame, RATE);
  lame_set_num_channels(lame, 1);
  lame_set_mode(lame, MONO);
  lame_set_VBR(lame, vbr_off);
  lame_set_brate(lame, kbps);
  lame_set_bWriteVbrTag(lame, 0);  // an Info frame would be one frame too many, of no use here
  lame_set_write_id3tag_automatic(lame, 0);
  lame_set_original(lame, 1);
  lame_set_copyright(lame, 0);
  lame_set_error_protection(lame, 0);
  lame_set_emphasis(lame, 0);
  if (lame_init_params(lame) < 0) encoder_fail("libmp3lame refuses the settings");
}

void LameCloser::operator()(lame_global_struct* lame) const {
  lame_close(lame);
}

void MpegEncoder::encode(const float* samples, size_t n) {
  // LAME's own bound on what one call can give: 1.25 x samples + 7,200 bytes.
  const size_t step = 1 << 16;
  for (size_t at = 0; at < n; at += step) {
    size_t count = n - at < step ? n - at : step;
    chunk_.resize(count * 5 / 4 + 7200);
    int bytes = lame_encode_buffer_ieee_float(lame_.get(), samples + at, samples + at, (int)count, chunk_.data(),
                                              (int)chunk_.size());
    if (bytes < 0) encoder_fail("libmp3lame failed (" + std::to_string(bytes) + ")");
    stream_.insert(stream_.end(), chunk_.begin(), chunk_.begin() + bytes);
  }
}

std::vector<uint8_t> MpegEncoder::finish(int64_t expected_frames) {
  chunk_.resize(7200);
  int bytes = lame_encode_flush(lame_.get(), chunk_.data(), (int)chunk_.size());
  if (bytes < 0) encoder_fail("libmp3lame failed to flush (" + std::to_string(bytes) + ")");
  stream_.insert(stream_.end(), chunk_.begin(), chunk_.begin() + bytes);

  const size_t step = (size_t)FRAME_STEP[format_];
  const uint32_t word = SYNC_WORDS[format_];
  if (stream_.size() != (size_t)expected_frames * step)
    encoder_fail("libmp3lame gave " + std::to_string(stream_.size()) + " bytes, not the " +
                 std::to_string(expected_frames) + " frames of " + std::to_string(step) + " bytes expected");
  for (size_t at = 0; at < stream_.size(); at += step) {
    const uint8_t* h = &stream_[at];
    uint32_t got = (uint32_t)h[0] << 24 | (uint32_t)h[1] << 16 | (uint32_t)h[2] << 8 | h[3];
    if (got != word) {
      char text[96];
      snprintf(text, sizeof text, "frame %zu has header 0x%08X, not the accepted 0x%08X", at / step, got, word);
      encoder_fail(text);
    }
  }
  return std::move(stream_);
}

// quira extract FILE -o OUT.mp3: the plain MPEG frames of every block, a file any player opens.
//
// Each block's frames are unscrambled at its format's step; blocks of 72-byte frames contribute
// their first 720 bytes only. A block whose first header is none of the accepted formats holds no
// frames to give back and is skipped, with a note; a carrier with no such block at all fails.
#include <string>
#include <vector>

#include "decode/block_decoder.h"
#include "tool/commands.h"
#include "tool/output.h"

int command_extract(Args& args) {
  std::string out_path;
  if (!args.option("--output", "-o", &out_path)) fail_usage("extract: -o OUT.mp3 is required");
  std::string path = args.single_operand("FILE");
  Carrier carrier(path);

  AtomicOutput out(out_path, path);
  uint8_t block[BLOCK_BYTES];
  int64_t written = 0, skipped = 0;
  for (int64_t k = 0; k < carrier.block_count(); k++) {
    size_t n = carrier.read_block(k, block);
    int format = n >= 4 ? block_format(block) : -1;
    if (format < 0) {
      skipped++;
      continue;
    }
    // Whole frames only: a short last block may end inside one.
    size_t step = (size_t)FRAME_STEP[format];
    size_t frames = n / step;
    if (frames > FRAMES_PER_BLOCK) frames = FRAMES_PER_BLOCK;
    for (size_t i = 0; i < frames * step; i++) block[i] ^= SCRAMBLE_KEY;
    out.write(block, frames * step);
    written++;
  }
  if (written == 0) fail(path, "no block holds MPEG frames of an accepted format");
  if (skipped) note(path + ": skipped " + std::to_string(skipped) + " block(s) of no accepted format");
  out.commit();
  return EXIT_OK;
}

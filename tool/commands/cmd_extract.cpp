// SPDX-License-Identifier: MIT
// quira extract FILE -o OUT.mp3: the plain MPEG frames of every block, a file any player opens.
//
// Blocks of 72-byte frames contribute their first 720 bytes only. A block whose first header is
// none of the accepted formats holds no frames to give back and is skipped, with a note; a
// carrier with no such block at all fails.
#include <string>

#include "tool/commands/commands.h"
#include "tool/output/output.h"

int command_extract(Args& args) {
  std::string out_path;
  if (!args.option("--output", "-o", &out_path)) fail_usage("extract: -o OUT.mp3 is required");
  std::string path = args.single_operand("FILE");
  Carrier carrier(path);

  AtomicOutput out(out_path, path);
  uint8_t frames[QUIRA_BLOCK_BYTES];
  int64_t written = 0, skipped = 0;
  for (int64_t k = 0; k < carrier.facts().blocks; k++) {
    int32_t bytes = quira_carrier_frames(carrier.get(), k, frames, sizeof frames);
    if (bytes == QUIRA_ERR_NOT_FRAMES) {
      skipped++;
      continue;
    }
    check_status(path, bytes);
    out.write(frames, (size_t)bytes);
    written++;
  }
  if (written == 0) fail(path, "no block holds MPEG frames of an accepted format");
  if (skipped) note(path + ": skipped " + std::to_string(skipped) + " block(s) of no accepted format");
  out.commit();
  return EXIT_OK;
}

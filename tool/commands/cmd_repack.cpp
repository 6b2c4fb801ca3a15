// SPDX-License-Identifier: MIT
// quira repack OLD.exe -o NEW.exe [--force]: the same payload, byte for byte, behind the player
// built into libquira, whatever stood in front of it before.
#include <string>

#include "tool/commands/commands.h"
#include "tool/output/output.h"

int command_repack(Args& args) {
  std::string out_path;
  bool force = args.flag("--force", "-f");
  if (!args.option("--output", "-o", &out_path)) fail_usage("repack: -o NEW.exe is required");
  std::string path = args.single_operand("OLD.exe");
  refuse_existing(out_path, force);

  Carrier carrier(path);
  AtomicOutput out(out_path, path, force);
  size_t image_size = 0;
  const uint8_t* image = quira_embedded_player(&image_size);
  out.write(image, image_size);
  uint8_t chunk[65536];
  // The payload, read through the same carrier: everything from the player's end to the file's.
  const int64_t end = QUIRA_PAYLOAD_OFFSET + carrier.facts().payload_bytes;
  for (int64_t at = QUIRA_PAYLOAD_OFFSET; at < end;) {
    int64_t n = quira_carrier_read(carrier.get(), at, chunk, sizeof chunk);
    check_status(path, n);
    if (n == 0) break;
    out.write(chunk, (size_t)n);
    at += n;
  }
  out.commit();
  return EXIT_OK;
}

// quira repack OLD.exe -o NEW.exe [--force]: the same payload, byte for byte, behind the player
// embedded in this tool, whatever stood in front of it before.
#include <string>

#include "tool/carrier.h"
#include "tool/commands.h"
#include "tool/output.h"
#include "tool/player_image.h"

int command_repack(Args& args) {
  std::string out_path;
  bool force = args.flag("--force", "-f");
  if (!args.option("--output", "-o", &out_path)) fail_usage("repack: -o NEW.exe is required");
  std::string path = args.single_operand("OLD.exe");
  refuse_existing(out_path, force);

  Carrier carrier(path);
  AtomicOutput out(out_path, path);
  std::span<const uint8_t> player = player_image();
  out.write(player.data(), player.size());
  uint8_t chunk[65536];
  for (int64_t at = PAYLOAD_OFFSET;;) {
    size_t n = carrier.read_at(at, chunk, sizeof chunk);
    if (n == 0) break;
    out.write(chunk, n);
    at += (int64_t)n;
  }
  out.commit();
  return EXIT_OK;
}

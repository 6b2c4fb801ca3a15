// The embedded player: the bytes of the Windows build, placed in the tool at build time.
#include "tool/player_image.h"

extern "C" const uint8_t player_image_begin[];
extern "C" const uint8_t player_image_end[];

std::span<const uint8_t> player_image() {
  return {player_image_begin, (size_t)(player_image_end - player_image_begin)};
}

// Provisional player image: PAYLOAD_OFFSET zero bytes standing in for the player executable until
// the built player is embedded here. A zero-filled front part is never recognised as our player.
#include "tool/player_image.h"

#include "payload/payload.h"

namespace {
const uint8_t PROVISIONAL_PLAYER[PAYLOAD_OFFSET] = {};
}

std::span<const uint8_t> player_image() {
  return std::span<const uint8_t>(PROVISIONAL_PLAYER, PAYLOAD_OFFSET);
}

// The player executable built by this project, embedded in the tool: the front part of every
// carrier the tool makes or repacks, and what `info` recognises as our own player.
#pragma once
#include <stdint.h>

#include <span>

// The exact bytes of the player (PAYLOAD_OFFSET of them).
std::span<const uint8_t> player_image();

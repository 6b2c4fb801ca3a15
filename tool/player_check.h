// Recognising the front part of a carrier: is it a player built by this project, or something
// else? A received carrier can be checked this way before anyone runs it; the tool itself never
// runs one.
//
// The front part (the first PAYLOAD_OFFSET bytes) is ours when its SHA-256 is that of the player
// embedded in this tool or one listed in KNOWN_PLAYER_SHA256. A front part of zero bytes only is
// never ours, whatever the embedded image holds: it is no program at all.
#pragma once
#include <stdint.h>

#include <array>
#include <span>
#include <string>

using Sha256 = std::array<uint8_t, 32>;

Sha256 sha256(std::span<const uint8_t> bytes);
std::string sha256_hex(const Sha256& digest);

// Whether front is one of our players, given the image this tool embeds.
bool player_is_ours(std::span<const uint8_t> front, std::span<const uint8_t> own_image);

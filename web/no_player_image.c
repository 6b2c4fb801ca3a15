/* The player image of the page's build: none. The page reads carriers and makes none, so it does
 * not carry the 160 KB player; it knows the player by its digest instead (web_player.h, made from
 * the player the build made), which the glue checks. The image here is empty: its end is its
 * beginning. */
#include <stdint.h>

const uint8_t player_image_begin[1] = {0};
extern const uint8_t player_image_end[1] __attribute__((alias("player_image_begin")));

# Writes OUT, a header that names the SHA-256 of the player executable IN as WEB_PLAYER_SHA256.
#   cmake -DIN=player.exe -DOUT=web_player.h -P player-digest.cmake
file(SHA256 "${IN}" digest)
file(WRITE "${OUT}.tmp" "/* Made by the build from the player it made. */\n#define WEB_PLAYER_SHA256 \"${digest}\"\n")
file(RENAME "${OUT}.tmp" "${OUT}")

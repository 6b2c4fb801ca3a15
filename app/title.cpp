// SPDX-License-Identifier: MIT
// Title text composition, with the system's wsprintfA so that the player carries no formatter
// of its own.
#include "app/title.h"

#include "platform/win32.h"

int32_t title_elapsed_seconds(int32_t blocks) {
  const float SECONDS_PER_BLOCK = 0.36f;
  return (int32_t)((double)blocks * (double)SECONDS_PER_BLOCK + 0.5);
}

int title_format_clock(char* out, int32_t seconds) {
  int32_t t = seconds < 0 ? 0 : seconds;
  return wsprintfA(out, "%02d:%02d:%02d", (int)(t / 3600), (int)(t % 3600 / 60),
                   (int)(t % 3600 % 60));
}

void title_compose(char out[TITLE_CHARS], int32_t blocks, int32_t total_seconds) {
  // "Quira [" + two clocks of at most 12 characters + "]-[" + "]" fits in TITLE_CHARS.
  int n = wsprintfA(out, "Quira [");
  n += title_format_clock(out + n, title_elapsed_seconds(blocks));
  n += wsprintfA(out + n, "]-[");
  n += title_format_clock(out + n, total_seconds);
  wsprintfA(out + n, "]");
}

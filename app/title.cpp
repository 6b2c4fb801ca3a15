// Title text composition.
#include "app/title.h"

#include <stdio.h>

int32_t title_elapsed_seconds(int32_t blocks) {
  const float SECONDS_PER_BLOCK = 0.36f;
  return (int32_t)((double)blocks * (double)SECONDS_PER_BLOCK + 0.5);
}

int title_format_clock(char* out, int size, int32_t seconds) {
  int32_t t = seconds < 0 ? 0 : seconds;
  return snprintf(out, (size_t)size, "%02d:%02d:%02d", (int)(t / 3600), (int)(t % 3600 / 60),
                  (int)(t % 3600 % 60));
}

void title_compose(char out[TITLE_CHARS], int32_t blocks, int32_t total_seconds) {
  char elapsed[13], total[13];  // "596523:59:59" at most, for a positive 32-bit count
  title_format_clock(elapsed, sizeof elapsed, title_elapsed_seconds(blocks));
  title_format_clock(total, sizeof total, total_seconds);
  snprintf(out, TITLE_CHARS, "Quira [%s]-[%s]", elapsed, total);
}

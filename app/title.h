// SPDX-License-Identifier: MIT
// Title text: elapsed and total time of the message as the player's window title shows them,
// "Quira [00:01:00]-[00:01:05]". Time is counted in blocks of 0.36 s and shown in whole seconds;
// each number has at least two digits, hours widen past 99.
#pragma once
#include <stdint.h>

enum { TITLE_CHARS = 40 };  // the title buffer, terminator included

// Elapsed seconds after the given number of blocks: blocks x 0.36 with the constant held in single
// precision and the product in double, plus one half, truncated.
int32_t title_elapsed_seconds(int32_t blocks);

// Writes seconds as "HH:MM:SS" into out (13 characters suffice for any 32-bit count); returns
// the characters written.
int title_format_clock(char* out, int32_t seconds);

// Composes the whole title into out.
void title_compose(char out[TITLE_CHARS], int32_t blocks, int32_t total_seconds);

// SPDX-License-Identifier: MIT
// quira effects: the voice effects a carrier can name, one line each.
#include <stdio.h>

#include "quira/quira.h"
#include "tool/commands/commands.h"

int command_effects(Args& args) {
  args.finish();
  printf("%-4s  %-14s  %-11s  %s\n", "code", "name", "family", "sound");
  for (int code = 0; code <= QUIRA_EFFECT_CODE_MAX; code++) {
    const QuiraEffect* effect = quira_effect(code);
    if (effect) printf("%4d  %-14s  %-11s  %s\n", code, effect->name, effect->family, effect->description);
  }
  return EXIT_OK;
}

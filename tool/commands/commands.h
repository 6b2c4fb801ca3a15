// SPDX-License-Identifier: MIT
// The quira commands. Each takes the arguments after its name and returns an exit code; errors
// are thrown as ToolError (tool/cli.h).
#pragma once
#include "tool/carrier.h"
#include "tool/cli.h"

int command_info(Args& args);
int command_export(Args& args);
int command_extract(Args& args);
int command_effects(Args& args);
int command_make(Args& args);
int command_repack(Args& args);
int command_play(Args& args);
int command_page(Args& args);

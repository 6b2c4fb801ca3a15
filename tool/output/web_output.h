// SPDX-License-Identifier: MIT
// A web message written by the tool: the player page this tool was built with, the carrier's
// payload (header and blocks, byte for byte) inside it as base64, and the closing comment that
// says where (include/quira/quira.h, "Web messages"). The page is read by any browser, which
// shows the player and plays the message; libquira reads the file back as the carrier.
#pragma once
#include "tool/carrier.h"
#include "tool/output/output.h"

// The player page's slot: the payload's base64 goes right after this text, which the page holds
// once, as the opening tag of the inert block the page's script reads the payload from.
extern const char WEB_MESSAGE_SLOT[];

// Writes carrier as a web message to out. Fails when this build has no player page.
void web_message_write(AtomicOutput& out, const Carrier& carrier);

// SPDX-License-Identifier: MIT
// Runs the Windows player's own code here, over the stand-in for the Windows services: the same
// dialog procedure, playback control, wave output and core as the executable, with the resources
// of the embedded player and the carrier as its own file. Nothing of the carrier's front part is
// run or even read as code.
//
// The player reaches the carrier through its file interface, pointed here at the file itself:
// a path of any length works, and a header may be made to say another effect and level without
// any copy of the carrier.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host.h"

struct QuiraCarrier;

struct HostCarrier {
  std::string path;
  int effect_code = -1;  // 0 to 255 replaces header byte 10 as the player reads it; -1 keeps it
  int level_byte = -1;   // likewise header byte 11
  // When set, the player reads the carrier through libquira (a web message, read as the carrier
  // it holds, size bytes long) rather than the file at path.
  QuiraCarrier* library = nullptr;
  int64_t size = 0;
};

// Plays the carrier as the player does when started: from WM_INITDIALOG until the dialog closes.
// The process-wide player state starts at zero, as in a new process. The face decides when the
// dialog closes; device null means a system without sound output.
void player_host_run(const HostCarrier& carrier, const WaveDevice* device, const DialogFace* face);

// Plays the carrier from start to its natural end on a device that captures every sample the
// player plays, and closes the dialog then. Returns the samples.
std::vector<int16_t> player_host_capture(const HostCarrier& carrier);

// The read position of a carrier file the hosted player opened (PLAYBACK.carrier_file).
int64_t player_host_position(const void* file);

// Runs the Windows player's own code here, over the stand-in for the Windows services: the same
// dialog procedure, playback control, wave output and core as the executable, with the resources
// of the embedded player and the carrier as its own file. Nothing of the carrier's front part is
// run or even read as code.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host.h"

// Plays the carrier at path as the player does when started: from WM_INITDIALOG until the dialog
// closes. The process-wide player state starts at zero, as in a new process. The face decides
// when the dialog closes; device null means a system without sound output.
void player_host_run(const std::string& path, const WaveDevice* device, const DialogFace* face);

// Plays the carrier from start to its natural end on a device that captures every sample the
// player plays, and closes the dialog then. Returns the samples.
std::vector<int16_t> player_host_capture(const std::string& path);

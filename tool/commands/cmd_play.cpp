// SPDX-License-Identifier: MIT
// quira play FILE
//
// Plays a carrier on the default sound device with the player's own code, run here over the
// stand-in: the same dialog procedure and playback control as the Windows player, with a
// terminal for its window (tool/hosting/terminal_face.h). Nothing of the carrier's front part is run.
// With standard input not a terminal the message plays once, start to end; a sound device that
// cannot be opened then fails the command with EXIT_NO_DEVICE.
#include <unistd.h>

#include "tool/carrier.h"
#include "tool/commands/commands.h"
#include "tool/hosting/player_host.h"
#include "tool/hosting/terminal_face.h"

int command_play(Args& args) {
  std::string path = args.single_operand("FILE");
  Carrier carrier(path);  // refuses what is not a carrier before anything plays

  bool interactive = isatty(STDIN_FILENO);
  std::string message;
  {
    TerminalFace face(interactive, platform_wave_alsa_failure);
    // A web message is played from the carrier it holds, read through the library.
    HostCarrier host{path};
    if (carrier.facts().web_message) {
      host.library = carrier.get();
      host.size = QUIRA_PAYLOAD_OFFSET + carrier.facts().payload_bytes;
    }
    player_host_run(host, platform_wave_alsa(), face.face());
    message = face.message();
  }
  if (!interactive && !message.empty()) fail(path, message, EXIT_NO_DEVICE);
  return EXIT_OK;
}

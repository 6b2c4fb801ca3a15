// SPDX-License-Identifier: MIT
// quira: make, inspect, export, extract and play self-playing voice messages. It reads and
// writes carriers; it never runs one.
#include <stdio.h>
#include <string.h>

#include <mpg123.h>

#include <string>
#include <vector>

#include "tool/cli.h"
#include "tool/commands/commands.h"
#include "quira/quira.h"

namespace {

struct Command {
  const char* name;
  int (*run)(Args&);
  const char* usage;
  const char* summary;
};

const Command COMMANDS[] = {
    {"make", command_make,
     "make IN -o OUT.exe [--effect CODE|NAME] [--level LEVEL] [--bitrate 32|16] [--force]",
     "make a carrier from a recording (WAV, FLAC, Ogg Vorbis...; '-' for stdin)"},
    {"info", command_info, "info FILE [--json]", "show a carrier's header, blocks, format and length"},
    {"export", command_export,
     "export FILE -o OUT.wav|.flac|.ogg|.opus|.mp3|.html [--format FORMAT] [--as-played]\n"
     "               [--dry | --effect CODE|NAME] [--level LEVEL]",
     "the message as heard: WAV, FLAC, Ogg Vorbis, Opus, MP3, or a web message ('-o -': stdout)"},
    {"extract", command_extract, "extract FILE -o OUT.mp3", "write the message's plain MPEG frames"},
    {"repack", command_repack, "repack OLD.exe -o NEW.exe [--force]",
     "put this tool's player in front of a carrier's payload"},
    {"effects", command_effects, "effects", "list the voice effects"},
    {"play", command_play, "play FILE",
     "play the message on the sound device (keys: p/Space play, s stop, q/Esc close)"},
    {"page", command_page, "page [-o FILE] [--open]",
     "write the web page that plays and makes carriers (default quira.html)"},
};

void print_help(FILE* to) {
  fprintf(to, "usage: quira [-q] COMMAND [ARGS]\n\ncommands:\n");
  for (const Command& c : COMMANDS) fprintf(to, "  %-10s %s\n", c.name, c.summary);
  fprintf(to, "\n");
  for (const Command& c : COMMANDS) fprintf(to, "  quira %s\n", c.usage);
  fprintf(to,
          "\noptions:\n"
          "  -q             no notes or warnings, errors only\n"
          "  -h, --help     this help\n"
          "  -V, --version  the version, the libraries built in, the player's SHA-256, the licences\n"
          "\nexit status: 0 success, 1 bad usage, 2 processing error, 3 not a carrier,\n"
          "             4 no sound device (play, input not a terminal)\n");
}

// The version (QUIRA_VERSION, from the build), the libmpg123 this tool decodes with (the Debian
// source it was built from and the decoders the library itself names), the libsoxr and
// libmp3lame it makes carriers with, and the SHA-256 of the player it puts in front of carriers,
// which `info` calls ours; then the licences: the project's own and those of the libraries built
// in (the maker's only when the library has the maker), whose notices THIRD-PARTY.md carries.
void print_version() {
  printf("quira %s\n", quira_version());
  std::string decoders;
  for (const char** d = mpg123_decoders(); d && *d; d++) {
    if (!decoders.empty()) decoders += ", ";
    decoders += *d;
  }
  printf("%s: %s decoder, Layer III only\n", quira_decoder_version(), decoders.c_str());
  printf("%s\n", quira_maker_version());
  size_t size = 0;
  quira_embedded_player(&size);
  uint8_t digest[QUIRA_SHA256_BYTES];
  quira_embedded_player_sha256(digest, sizeof digest);
  printf("player %zu bytes, SHA-256 ", size);
  for (uint8_t b : digest) printf("%02x", b);
  printf("\n");
  printf("licence: MIT, copyright 2026 The Quira developers (LICENSE)\n");
  printf("built in under their own licences (THIRD-PARTY.md): libmpg123 LGPL-2.1-only%s\n",
         *quira_maker_version() ? ", libmp3lame LGPL-2.0-or-later, libsoxr LGPL-2.1-or-later, musl's maths MIT" : "");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // -q may stand before the command or among its arguments.
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--") break;
    if (*it == "-q" || *it == "--quiet") {
      QUIET = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (args.empty()) {
    fprintf(stderr, "usage: quira [-q] COMMAND [ARGS] (try 'quira --help')\n");
    return EXIT_USAGE;
  }
  if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
    print_help(stdout);
    return EXIT_OK;
  }
  if (args[0] == "-V" || args[0] == "--version") {
    print_version();
    return EXIT_OK;
  }
  for (const Command& c : COMMANDS) {
    if (args[0] != c.name) continue;
    Args command_args(c.name, std::vector<std::string>(args.begin() + 1, args.end()));
    if (command_args.flag("--help", "-h")) {
      printf("usage: quira %s\n", c.usage);
      return EXIT_OK;
    }
    try {
      return c.run(command_args);
    } catch (const ToolError& e) {
      if (e.code == EXIT_USAGE)
        fprintf(stderr, "quira: error: %s (see 'quira %s --help')\n", e.what(), c.name);
      else
        fprintf(stderr, "quira: error: %s\n", e.what());
      return e.code;
    } catch (const std::exception& e) {
      fprintf(stderr, "quira: error: %s\n", e.what());
      return EXIT_PROCESSING;
    }
  }
  fprintf(stderr, "quira: error: unknown command '%s' (try 'quira --help')\n", args[0].c_str());
  return EXIT_USAGE;
}

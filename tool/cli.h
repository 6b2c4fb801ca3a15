// SPDX-License-Identifier: MIT
// Command-line plumbing shared by the quira commands: exit codes, the one-line error, argument
// scanning and the quiet switch.
//
// Every error a user can meet ends as one line on stderr, "quira: error: FILE: why", and one of
// the exit codes below. Commands report errors by throwing ToolError; main turns it into the line.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

enum ExitCode {
  EXIT_OK = 0,
  EXIT_USAGE = 1,        // bad command line
  EXIT_PROCESSING = 2,   // a file could not be read or written, or processing failed
  EXIT_NOT_CARRIER = 3,  // the input is not a carrier
  EXIT_NO_DEVICE = 4,    // play, not interactive: the sound device could not be opened
};

struct ToolError : std::runtime_error {
  int code;
  ToolError(int exit_code, const std::string& what) : std::runtime_error(what), code(exit_code) {}
};

// "FILE: why" for a processing error.
[[noreturn]] void fail(const std::string& file, const std::string& why, int code = EXIT_PROCESSING);
// A usage error; the message names the command and says what is wrong.
[[noreturn]] void fail_usage(const std::string& why);

// A whole decimal number in [low, high] given to option; else a usage error naming both.
int parse_number(const std::string& command, const char* option, const std::string& text, int low, int high);

// An effect level (QUIRA_LEVEL_MIN to QUIRA_LEVEL_MAX, the effect's weight of 128) given to
// --level; else a usage error.
int parse_level(const std::string& command, const std::string& text);

// The effect code named by text (a name from `quira effects`, "none" or a code); else a usage error.
int parse_effect(const std::string& command, const std::string& text);

// Set by -q: no notes or warnings on stderr (errors are still printed).
extern bool QUIET;
// A warning or note on stderr, unless -q.
void note(const std::string& line);

// The arguments of one command, scanned in order: options may stand before or after operands.
class Args {
 public:
  Args(std::string command, std::vector<std::string> args);
  // True if --name (or its short form) is present; removes it.
  bool flag(const char* name, const char* short_name = nullptr);
  // The value of --name VALUE / --name=VALUE (or its short form), if present; removes it.
  bool option(const char* name, const char* short_name, std::string* value);
  // The one remaining operand; a usage error if there is none, more than one, or an unknown option.
  std::string single_operand(const char* what);
  // No operands and no options may remain.
  void finish();
  const std::string& command() const { return command_; }

 private:
  std::string command_;
  std::vector<std::string> args_;
};

// SPDX-License-Identifier: MIT
// Command-line plumbing.
#include "tool/cli.h"

#include "quira/quira.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

bool QUIET = false;

void fail(const std::string& file, const std::string& why, int code) {
  throw ToolError(code, file + ": " + why);
}

void fail_usage(const std::string& why) {
  throw ToolError(EXIT_USAGE, why);
}

void note(const std::string& line) {
  if (!QUIET) fprintf(stderr, "quira: %s\n", line.c_str());
}

Args::Args(std::string command, std::vector<std::string> args)
    : command_(std::move(command)), args_(std::move(args)) {}

bool Args::flag(const char* name, const char* short_name) {
  for (size_t i = 0; i < args_.size(); i++) {
    if (args_[i] == "--") break;
    if (args_[i] == name || (short_name && args_[i] == short_name)) {
      args_.erase(args_.begin() + (long)i);
      return true;
    }
  }
  return false;
}

bool Args::option(const char* name, const char* short_name, std::string* value) {
  std::string prefix = std::string(name) + "=";
  for (size_t i = 0; i < args_.size(); i++) {
    const std::string& a = args_[i];
    if (a == "--") break;
    if (a.compare(0, prefix.size(), prefix) == 0) {
      *value = a.substr(prefix.size());
      args_.erase(args_.begin() + (long)i);
      return true;
    }
    if (a == name || (short_name && a == short_name)) {
      if (i + 1 >= args_.size()) fail_usage(command_ + ": " + a + " needs a value");
      *value = args_[i + 1];
      args_.erase(args_.begin() + (long)i, args_.begin() + (long)i + 2);
      return true;
    }
  }
  return false;
}

std::string Args::single_operand(const char* what) {
  std::vector<std::string> operands;
  bool literal = false;
  for (const std::string& a : args_) {
    if (!literal && a == "--") {
      literal = true;
    } else if (!literal && a.size() > 1 && a[0] == '-') {
      fail_usage(command_ + ": unknown option " + a);
    } else {
      operands.push_back(a);
    }
  }
  if (operands.empty()) fail_usage(command_ + ": missing " + what);
  if (operands.size() > 1) fail_usage(command_ + ": unexpected argument " + operands[1]);
  args_.clear();
  return operands[0];
}

void Args::finish() {
  if (!args_.empty()) fail_usage(command_ + ": unexpected argument " + args_[0]);
}

int parse_number(const std::string& command, const char* option, const std::string& text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  long value = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < low || value > high)
    fail_usage(command + ": " + option + " takes a number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not '" + text + "'");
  return (int)value;
}

int parse_level(const std::string& command, const std::string& text) {
  return parse_number(command, "--level", text, QUIRA_LEVEL_MIN, QUIRA_LEVEL_MAX);
}

int parse_effect(const std::string& command, const std::string& text) {
  int code = quira_effect_find(text.c_str());
  if (code < 0) fail_usage(command + ": unknown effect '" + text + "' (see 'quira effects')");
  return code;
}

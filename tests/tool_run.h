// SPDX-License-Identifier: MIT
// Test helpers for running the quira command: its exit status and output, whole-file writes and
// fields of `info --json`.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/media.h"

struct Result {
  int status;
  std::string out;
};

// Runs quira with the given arguments (shell words), capturing stdout; stderr goes to err_path.
inline Result quira(const std::string& args, const std::string& err_path = "/dev/null") {
  std::string command = std::string(QUIRA_TOOL) + " " + args + " 2>" + err_path;
  FILE* pipe = popen(command.c_str(), "r");
  Result result{-1, ""};
  if (!pipe) return result;
  char chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.out.append(chunk, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

// The raw text of one field of `quira info --json` output ("<missing>" when absent).
inline std::string json_field(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return "<missing>";
  at += key.size() + 4;
  return json.substr(at, json.find_first_of(",\n", at) - at);
}

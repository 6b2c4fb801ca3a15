// SPDX-License-Identifier: MIT
// Test helpers: the speech carriers made by the media fixture, whole-file reads, and a scratch
// directory.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "payload/payload.h"

inline std::string media_path(const std::string& name) {
  const char* dir = getenv("QUIRA_MEDIA_DIR");
  return std::string(dir && *dir ? dir : QUIRA_MEDIA_DIR) + "/" + name;
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(file);
  return bytes;
}

// The blocks of a carrier file, each a full 1,440 bytes (a short last one zero-padded).
inline std::vector<std::vector<uint8_t>> carrier_blocks(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t at = PAYLOAD_OFFSET + PAYLOAD_HEADER_BYTES; at < bytes.size(); at += BLOCK_BYTES) {
    size_t n = bytes.size() - at;
    if (n > BLOCK_BYTES) n = BLOCK_BYTES;
    std::vector<uint8_t> block(BLOCK_BYTES, 0);
    std::copy(bytes.begin() + (long)at, bytes.begin() + (long)(at + n), block.begin());
    blocks.push_back(block);
  }
  return blocks;
}

// Samples of a 44-byte-header WAV file written by the tool, or of raw s16le.
inline std::vector<int16_t> samples_of(const std::vector<uint8_t>& bytes, size_t skip) {
  std::vector<int16_t> samples;
  for (size_t i = skip; i + 1 < bytes.size(); i += 2)
    samples.push_back((int16_t)(bytes[i] | bytes[i + 1] << 8));
  return samples;
}

// A WAV file's bytes as a pipe gets them: the file's and the data's sizes declared open
// (0xFFFFFFFF), the rest the same.
inline std::vector<uint8_t> streamed_wav(std::vector<uint8_t> file) {
  for (size_t at : {4, 40})
    if (file.size() >= at + 4) memset(file.data() + at, 0xFF, 4);
  return file;
}

// A directory of its own under /tmp, removed with everything in it when it goes.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/quira-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { (void)system(("rm -rf '" + path + "'").c_str()); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::vector<std::string> entries() const { return list(path); }
  // The names in a directory, as ls -A gives them.
  static std::vector<std::string> list(const std::string& directory) {
    std::vector<std::string> names;
    FILE* ls = popen(("ls -A '" + directory + "'").c_str(), "r");
    char line[512];
    while (fgets(line, sizeof line, ls)) names.push_back(std::string(line, strcspn(line, "\n")));
    pclose(ls);
    return names;
  }
};

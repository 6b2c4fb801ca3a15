// A carrier opened for reading by the tool: its header, its size in blocks, and its blocks read
// the way the player reads them. The tool only ever reads the front part's size, never runs it.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>

#include "payload/payload.h"

struct FileCloser {
  void operator()(FILE* file) const {
    if (file) fclose(file);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

class Carrier {
 public:
  // Opens path. Throws ToolError: EXIT_PROCESSING when it cannot be read (missing, unreadable,
  // or not a regular file: a directory, FIFO or device is refused at once, without waiting on
  // it), EXIT_NOT_CARRIER when it is shorter than the player it should begin with.
  explicit Carrier(const std::string& path);

  const std::string& path() const { return path_; }
  const PayloadInfo& info() const { return info_; }
  int64_t block_count() const { return payload_block_count(info_.payload_bytes); }
  // Bytes in the last block, 1 to 1,440; 0 when there are no blocks.
  int32_t last_block_bytes() const;

  // Reads block k into block (up to 1,440 bytes) and returns how many bytes were read, 0 past the
  // end. Bytes beyond those read keep what they held, as in the player's block buffer.
  size_t read_block(int64_t k, uint8_t* block);
  // Reads up to n bytes at offset; returns how many, 0 at the end. Throws on a read error.
  size_t read_at(int64_t offset, uint8_t* bytes, size_t n);

 private:
  std::string path_;
  File file_;
  PayloadInfo info_{};
  int64_t position_ = -1;  // file position after the last read, -1 when unknown
};

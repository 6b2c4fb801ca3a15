// SPDX-License-Identifier: MIT
// What the libFuzzer harnesses share: the check of an invariant, which ends the run with its
// description (libFuzzer then keeps the input that broke it), and the carrier held in memory
// that the readers open by name.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#define FUZZ_CHECK(condition, what)                                          \
  do {                                                                       \
    if (!(condition)) {                                                      \
      fprintf(stderr, "invariant broken: %s (%s:%d)\n", what, __FILE__, __LINE__); \
      abort();                                                               \
    }                                                                        \
  } while (0)

// A file in memory that holds the bytes given, offset bytes in (the rest zero); its name opens
// it as a regular file.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("fuzz-input", 0)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
  ~MemoryFile() { close(fd_); }
  const std::string& hold(const uint8_t* data, size_t size, off_t offset = 0) {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0 && ftruncate(fd_, offset + (off_t)size) == 0, "the memory file takes the input");
    FUZZ_CHECK(size == 0 || pwrite(fd_, data, size, offset) == (ssize_t)size, "the memory file takes the input");
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

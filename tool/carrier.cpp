// Carrier reading for the tool.
#include "tool/carrier.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "tool/cli.h"

Carrier::Carrier(const std::string& path) : path_(path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) fail(path, strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(path, strerror(EISDIR));
  file_.reset(fopen(path.c_str(), "rb"));
  if (!file_) fail(path, strerror(errno));
  if (!S_ISREG(st.st_mode)) fail(path, "not a regular file");
  if (st.st_size < PAYLOAD_OFFSET)
    fail(path,
         "not a carrier (" + std::to_string(st.st_size) + " bytes, shorter than the " +
             std::to_string(PAYLOAD_OFFSET) + "-byte player)",
         EXIT_NOT_CARRIER);
  if (!payload_read_header(path.c_str(), &info_)) fail(path, strerror(errno));
}

int32_t Carrier::last_block_bytes() const {
  int64_t blocks = block_count();
  if (blocks == 0) return 0;
  return (int32_t)(info_.payload_bytes - PAYLOAD_HEADER_BYTES - (blocks - 1) * BLOCK_BYTES);
}

size_t Carrier::read_block(int64_t k, uint8_t* block) {
  return read_at(payload_block_offset(k), block, BLOCK_BYTES);
}

size_t Carrier::read_at(int64_t offset, uint8_t* bytes, size_t n) {
  if (offset != position_) {
    if (fseeko(file_.get(), offset, SEEK_SET) != 0) fail(path_, strerror(errno));
    position_ = offset;
  }
  size_t got = fread(bytes, 1, n, file_.get());
  if (got < n && ferror(file_.get())) fail(path_, strerror(errno));
  position_ += (int64_t)got;
  return got;
}

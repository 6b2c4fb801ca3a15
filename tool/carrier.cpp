// Carrier reading for the tool.
#include "tool/carrier.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool/cli.h"

Carrier::Carrier(const std::string& path) : path_(path) {
  // Opened without waiting and looked at before anything is read: a FIFO would block an
  // ordinary open until some writer came, a device could answer reads forever.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) fail(path, strerror(errno));
  struct stat st;
  const char* refusal = nullptr;
  if (fstat(fd, &st) != 0) refusal = strerror(errno);
  else if (S_ISDIR(st.st_mode)) refusal = strerror(EISDIR);
  else if (S_ISFIFO(st.st_mode)) refusal = "a FIFO, not a regular file: a carrier is read from a file";
  else if (S_ISCHR(st.st_mode)) refusal = "a character device, not a regular file";
  else if (S_ISBLK(st.st_mode)) refusal = "a block device, not a regular file";
  else if (!S_ISREG(st.st_mode)) refusal = "not a regular file";
  if (!refusal) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file_.reset(fdopen(fd, "rb"));
    if (!file_) refusal = strerror(errno);
  }
  if (refusal) {
    if (!file_) close(fd);
    fail(path, refusal);
  }
  if (st.st_size < PAYLOAD_OFFSET)
    fail(path,
         "not a carrier (" + std::to_string(st.st_size) + " bytes, shorter than the " +
             std::to_string(PAYLOAD_OFFSET) + "-byte player)",
         EXIT_NOT_CARRIER);
  // The header as the player's reader takes it, from the file just checked (not reopened by name).
  info_.payload_bytes = st.st_size - PAYLOAD_OFFSET;
  read_at(PAYLOAD_OFFSET, info_.header.bytes, PAYLOAD_HEADER_BYTES);
  info_.effect_code = (int8_t)info_.header.bytes[10];
  info_.level_byte = info_.header.bytes[11];
  info_.total_seconds = payload_total_seconds(info_.payload_bytes);
  info_.buffer_bytes = BUFFER_BYTES;
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

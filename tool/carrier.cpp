// Carrier reading for the tool, over libquira.
#include "tool/carrier.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool/cli.h"

namespace {

int64_t fd_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  const int fd = *static_cast<const int*>(context);
  int64_t got = 0;
  while (got < n) {
    ssize_t r = pread(fd, static_cast<uint8_t*>(buffer) + got, (size_t)(n - got), (off_t)(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += r;
  }
  return got;
}

}  // namespace

Carrier::Carrier(const std::string& path) : path_(path) {
  // Opened without waiting and looked at before anything is read: a FIFO would block an
  // ordinary open until some writer came, a device could answer reads forever. The library then
  // reads this very file, not whatever the name leads to by then.
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) fail(path, strerror(errno));
  struct stat st;
  const char* refusal = nullptr;
  if (fstat(fd_, &st) != 0) refusal = strerror(errno);
  else if (S_ISDIR(st.st_mode)) refusal = strerror(EISDIR);
  else if (S_ISFIFO(st.st_mode)) refusal = "a FIFO, not a regular file: a carrier is read from a file";
  else if (S_ISCHR(st.st_mode)) refusal = "a character device, not a regular file";
  else if (S_ISBLK(st.st_mode)) refusal = "a block device, not a regular file";
  else if (!S_ISREG(st.st_mode)) refusal = "not a regular file";
  // A constructor that throws runs no destructor: the file is closed here.
  if (refusal) {
    close(fd_);
    fd_ = -1;
    fail(path, refusal);
  }
  // The library reads a carrier, or a web message as the carrier it holds.
  QuiraSource source = {&fd_, fd_read_at, (int64_t)st.st_size};
  int status = quira_carrier_open_source(&source, &carrier_);
  if (status == QUIRA_OK) status = quira_carrier_header(carrier_, &facts_);
  if (status != QUIRA_OK) {
    quira_carrier_close(carrier_);
    carrier_ = nullptr;
    close(fd_);
    fd_ = -1;
  }
  if (status == QUIRA_ERR_NOT_CARRIER)
    fail(path,
         "not a carrier (" + std::to_string(st.st_size) + " bytes, shorter than the " +
             std::to_string(QUIRA_PAYLOAD_OFFSET) + "-byte player)",
         EXIT_NOT_CARRIER);
  check_status(path, status);
}

Carrier::~Carrier() {
  quira_carrier_close(carrier_);
  if (fd_ >= 0) close(fd_);
}

void check_status(const std::string& file, int status) {
  if (status < 0) status = -status;
  if (status == QUIRA_OK) return;
  fail(file, quira_status_text(status), status == QUIRA_ERR_NOT_CARRIER ? EXIT_NOT_CARRIER : EXIT_PROCESSING);
}

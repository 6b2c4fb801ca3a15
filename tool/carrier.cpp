// Carrier reading for the tool, over libquira.
#include "tool/carrier.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "tool/cli.h"

Carrier::Carrier(const std::string& path) : path_(path) {
  // Judged by its type before anything opens it: opening a FIFO would wait for a writer.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) fail(path, strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(path, strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) fail(path, "not a regular file");
  if (st.st_size < QUIRA_PAYLOAD_OFFSET)
    fail(path,
         "not a carrier (" + std::to_string(st.st_size) + " bytes, shorter than the " +
             std::to_string(QUIRA_PAYLOAD_OFFSET) + "-byte player)",
         EXIT_NOT_CARRIER);
  int status = quira_carrier_open_path(path.c_str(), &carrier_);
  if (status == QUIRA_ERR_READ) fail(path, errno ? strerror(errno) : quira_status_text(status));
  check_status(path, status);
  check_status(path, quira_carrier_header(carrier_, &facts_));
}

void check_status(const std::string& file, int status) {
  if (status < 0) status = -status;
  if (status == QUIRA_OK) return;
  fail(file, quira_status_text(status), status == QUIRA_ERR_NOT_CARRIER ? EXIT_NOT_CARRIER : EXIT_PROCESSING);
}

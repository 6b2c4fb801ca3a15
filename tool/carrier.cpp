// SPDX-License-Identifier: MIT
// Carrier reading for the tool, over libquira.
#include "tool/carrier.h"

#include <string.h>

#include "tool/cli.h"

namespace {

// Why a file that is no regular file is refused, by its kind.
std::string refusal(const QuiraOpenReport& report) {
  switch (report.file_kind) {
    case QUIRA_FILE_DIRECTORY: return strerror(report.system_error);
    case QUIRA_FILE_FIFO: return "a FIFO, not a regular file: a carrier is read from a file";
    case QUIRA_FILE_CHARACTER_DEVICE: return "a character device, not a regular file";
    case QUIRA_FILE_BLOCK_DEVICE: return "a block device, not a regular file";
    default: return "not a regular file";
  }
}

}  // namespace

Carrier::Carrier(const std::string& path) : path_(path) {
  // The library opens the file without waiting and looks at it before anything is read: a FIFO
  // would block an ordinary open until some writer came, a device could answer reads forever.
  QuiraOpenReport report{};
  report.struct_size = sizeof report;
  const QuiraStatus status = quira_carrier_open_path(path.c_str(), &carrier_, &report);
  if (status == QUIRA_ERR_READ && report.system_error) fail(path, strerror(report.system_error));
  if (status == QUIRA_ERR_NOT_FILE) fail(path, refusal(report));
  if (status == QUIRA_ERR_NOT_CARRIER)
    fail(path,
         "not a carrier (" + std::to_string(report.file_bytes) + " bytes, shorter than the " +
             std::to_string(QUIRA_PAYLOAD_OFFSET) + "-byte player)",
         EXIT_NOT_CARRIER);
  check_status(path, status);
  facts_.struct_size = sizeof facts_;
  // A constructor that throws runs no destructor: the carrier is closed here.
  const QuiraStatus read = quira_carrier_header(carrier_, &facts_);
  if (read != QUIRA_OK) {
    quira_carrier_close(carrier_);
    carrier_ = nullptr;
  }
  check_status(path, read);
}

Carrier::~Carrier() { quira_carrier_close(carrier_); }

void check_status(const std::string& file, int64_t status) {
  if (status >= QUIRA_OK) return;
  fail(file, quira_status_text((int32_t)status), status == QUIRA_ERR_NOT_CARRIER ? EXIT_NOT_CARRIER : EXIT_PROCESSING);
}

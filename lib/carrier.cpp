// SPDX-License-Identifier: MIT
// Opening carriers from a path, a descriptor, memory or a caller's reader; reading them at an
// offset.
#include "lib/carrier.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int64_t memory_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  const QuiraCarrier* c = (const QuiraCarrier*)context;
  if (offset >= c->source.length) return 0;
  int64_t take = c->source.length - offset < n ? c->source.length - offset : n;
  memcpy(buffer, c->memory + offset, (size_t)take);
  return take;
}

// pread keeps no file position: readers on several threads may read the one descriptor at once.
static int64_t file_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  const QuiraCarrier* c = (const QuiraCarrier*)context;
  int64_t got = 0;
  while (got < n) {
    ssize_t r = pread(c->fd, (uint8_t*)buffer + got, (size_t)(n - got), (off_t)(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += r;
  }
  return got;
}

int64_t carrier_read_at(QuiraCarrier* carrier, int64_t offset, void* bytes, int32_t n) {
  if (offset < 0 || n <= 0) return 0;
  int64_t got = carrier->source.read_at(carrier->source.context, offset, bytes, n);
  // A caller's reader is held to its contract: never more than asked, and any negative answer
  // is a read error. Every count past here sizes a copy or a hash of the bytes.
  if (got < 0) return -1;
  return got > n ? n : got;
}

int64_t carrier_block_offset(int64_t k) {
  // Past INT64_MAX no carrier has a byte: such a block reads as one past the end.
  if (k < 0 || k > (INT64_MAX - PAYLOAD_OFFSET - PAYLOAD_HEADER_BYTES) / BLOCK_BYTES) return -1;
  return payload_block_offset(k);
}

int64_t quira_carrier_read(QuiraCarrier* carrier, int64_t offset, void* buffer, size_t capacity) {
  if (!carrier || (!buffer && capacity > 0) || offset < 0) return QUIRA_ERR_ARGUMENT;
  // The caller's reader takes 32-bit counts: a larger buffer is filled in pieces.
  int64_t done = 0;
  while ((size_t)done < capacity && offset <= INT64_MAX - done) {
    size_t left = capacity - (size_t)done;
    int32_t piece = left > (1u << 30) ? (int32_t)(1 << 30) : (int32_t)left;
    int64_t got = carrier_read_at(carrier, offset + done, (uint8_t*)buffer + done, piece);
    if (got < 0) return QUIRA_ERR_READ;
    done += got;
    if (got < piece) break;
  }
  return done;
}

int32_t carrier_read_block(QuiraCarrier* carrier, int64_t k, uint8_t* block) {
  int64_t got = carrier_read_at(carrier, carrier_block_offset(k), block, BLOCK_BYTES);
  return got < 0 ? 0 : (int32_t)got;
}

int effect_choice_valid(const QuiraEffectChoice* choice) {
  // The header's bytes are a signed code and the level's byte: a choice outside them would wrap
  // into another effect.
  return struct_known(choice) && choice->effect_code >= INT8_MIN && choice->effect_code <= INT8_MAX &&
         choice->effect_level >= QUIRA_LEVEL_MIN && choice->effect_level <= QUIRA_LEVEL_MAX;
}

int carrier_effect(const QuiraCarrier* carrier, const QuiraEffectChoice* choice, int8_t* code,
                   int8_t* level) {
  if (!choice) {
    *code = carrier->info.effect_code;
    *level = payload_effect_level(carrier->info.level_byte);
    return 1;
  }
  if (!effect_choice_valid(choice)) return 0;
  *code = (int8_t)choice->effect_code;
  *level = (int8_t)choice->effect_level;
  return 1;
}

// Reads the header and the length; a carrier shorter than the player is refused.
static QuiraStatus carrier_finish_open(QuiraCarrier* c, QuiraCarrier** out) {
  int web = c->wrap == WRAP_NONE ? web_message_detect(c) : 0;
  if (web < 0) {
    quira_carrier_close(c);
    return web == -2 ? QUIRA_ERR_DAMAGED : QUIRA_ERR_READ;
  }
  if (c->source.length < PAYLOAD_OFFSET) {
    quira_carrier_close(c);
    return QUIRA_ERR_NOT_CARRIER;
  }
  int64_t got = carrier_read_at(c, PAYLOAD_OFFSET, c->info.header.bytes, PAYLOAD_HEADER_BYTES);
  if (got < 0) {
    const int error = errno;  // the reader's, for the caller's report, not the close's
    quira_carrier_close(c);
    errno = error;
    return QUIRA_ERR_READ;
  }
  c->header_bytes_read = (int32_t)got;
  payload_parse(&c->info, c->source.length);
  *out = c;
  return QUIRA_OK;
}

static QuiraCarrier* carrier_new(void) {
  QuiraCarrier* c = (QuiraCarrier*)calloc(1, sizeof(QuiraCarrier));
  if (c) c->fd = -1;
  return c;
}

static QuiraFileKind file_kind(mode_t mode) {
  if (S_ISREG(mode)) return QUIRA_FILE_REGULAR;
  if (S_ISDIR(mode)) return QUIRA_FILE_DIRECTORY;
  if (S_ISFIFO(mode)) return QUIRA_FILE_FIFO;
  if (S_ISCHR(mode)) return QUIRA_FILE_CHARACTER_DEVICE;
  if (S_ISBLK(mode)) return QUIRA_FILE_BLOCK_DEVICE;
  return QUIRA_FILE_OTHER;
}

// Opens the carrier on fd, which the carrier takes over (closed here on failure). What was
// found goes into the caller's report, when it gave one this library can fill.
static QuiraStatus carrier_open_owned_fd(int fd, QuiraCarrier** carrier, QuiraOpenReport* report) {
  QuiraOpenReport found = {sizeof found, 0, QUIRA_FILE_UNKNOWN, -1};
  QuiraStatus status = QUIRA_OK;
  struct stat st;
  if (fd < 0) {
    found.system_error = errno;
    status = QUIRA_ERR_READ;
  } else if (fstat(fd, &st) != 0) {
    found.system_error = errno;
    status = QUIRA_ERR_READ;
  } else {
    found.file_kind = file_kind(st.st_mode);
    if (found.file_kind != QUIRA_FILE_REGULAR) {
      status = QUIRA_ERR_NOT_FILE;
      if (found.file_kind == QUIRA_FILE_DIRECTORY) found.system_error = EISDIR;
    } else {
      found.file_bytes = (int64_t)st.st_size;
    }
  }
  QuiraCarrier* c = nullptr;
  if (status == QUIRA_OK && !(c = carrier_new())) status = QUIRA_ERR_MEMORY;
  if (status == QUIRA_OK) {
    c->fd = fd;
    c->source = {sizeof c->source, c, file_read_at, found.file_bytes};
    status = carrier_finish_open(c, carrier);
    // The header that could not be read: its system error, for the caller's message.
    if (status == QUIRA_ERR_READ) found.system_error = errno;
  } else if (fd >= 0) {
    close(fd);
  }
  if (struct_known(report)) struct_fill(report, found);
  return status;
}

QuiraStatus quira_carrier_open_path(const char* path, QuiraCarrier** carrier, QuiraOpenReport* report) {
  if (!path || !carrier || (report && !struct_known(report))) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  // Without O_NONBLOCK the open of a FIFO would wait for a writer, and a terminal could become
  // the process's controlling one; both are refused once looked at, never read.
  return carrier_open_owned_fd(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), carrier, report);
}

QuiraStatus quira_carrier_open_fd(int fd, QuiraCarrier** carrier, QuiraOpenReport* report) {
  if (fd < 0 || !carrier || (report && !struct_known(report))) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  return carrier_open_owned_fd(fcntl(fd, F_DUPFD_CLOEXEC, 0), carrier, report);
}

QuiraStatus quira_carrier_open_memory(const void* bytes, size_t size, QuiraCarrier** carrier) {
  if ((!bytes && size) || !carrier || size > (size_t)INT64_MAX) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  c->memory = (const uint8_t*)bytes;
  c->source = {sizeof c->source, c, memory_read_at, (int64_t)size};
  return carrier_finish_open(c, carrier);
}

QuiraStatus quira_carrier_open_source(const QuiraSource* source, QuiraCarrier** carrier) {
  if (!struct_known(source) || !source->read_at || source->length < 0 || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  c->source = *source;
  c->source.struct_size = sizeof c->source;
  return carrier_finish_open(c, carrier);
}

QuiraStatus quira_carrier_open_payload(const QuiraSource* payload, const uint8_t* player_sha256,
                                       QuiraCarrier** carrier) {
  if (!struct_known(payload) || !payload->read_at || payload->length < 0 || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  uint8_t own[32];
  if (!player_sha256) player_own_sha256(own);
  carrier_wrap_payload(c, payload, WRAP_PAYLOAD, 0, payload->length, player_sha256 ? player_sha256 : own);
  return carrier_finish_open(c, carrier);
}

void quira_carrier_close(QuiraCarrier* carrier) {
  if (!carrier) return;
  if (carrier->fd >= 0) close(carrier->fd);
  free(carrier);
}

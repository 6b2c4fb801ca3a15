// Opening carriers from a path, memory or a caller's reader; reading them at an offset.
#include "lib/carrier.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int64_t memory_read_at(void* context, int64_t offset, void* buffer, int32_t n) {
  const QuiraCarrier* c = (const QuiraCarrier*)context;
  if (offset >= c->source.size) return 0;
  int64_t take = c->source.size - offset < n ? c->source.size - offset : n;
  memcpy(buffer, c->memory + offset, (size_t)take);
  return take;
}

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

int64_t quira_carrier_read(QuiraCarrier* carrier, int64_t offset, void* buffer, int32_t n) {
  if (!carrier || (!buffer && n > 0)) return -1;
  return carrier_read_at(carrier, offset, buffer, n);
}

int32_t carrier_read_block(QuiraCarrier* carrier, int64_t k, uint8_t* block) {
  int64_t got = carrier_read_at(carrier, carrier_block_offset(k), block, BLOCK_BYTES);
  return got < 0 ? 0 : (int32_t)got;
}

int carrier_effect(const QuiraCarrier* carrier, const QuiraEffectChoice* choice, int8_t* code,
                   int8_t* level) {
  // The header's bytes are a signed code and an unsigned level: a choice outside them would wrap
  // into another effect.
  if (choice && (choice->effect_code < INT8_MIN || choice->effect_code > INT8_MAX || choice->level_byte < 0 ||
                 choice->level_byte > UINT8_MAX))
    return QUIRA_ERR_ARGUMENT;
  *code = choice ? (int8_t)choice->effect_code : carrier->info.effect_code;
  *level = payload_effect_level(choice ? (uint8_t)choice->level_byte : carrier->info.level_byte);
  return QUIRA_OK;
}

// Reads the header and the length; a carrier shorter than the player is refused.
static int carrier_finish_open(QuiraCarrier* c, QuiraCarrier** out) {
  int web = c->wrap == WRAP_NONE ? web_message_detect(c) : 0;
  if (web < 0) {
    quira_carrier_close(c);
    return web == -2 ? QUIRA_ERR_DAMAGED : QUIRA_ERR_READ;
  }
  if (c->source.size < PAYLOAD_OFFSET) {
    quira_carrier_close(c);
    return QUIRA_ERR_NOT_CARRIER;
  }
  int64_t got = carrier_read_at(c, PAYLOAD_OFFSET, c->info.header.bytes, PAYLOAD_HEADER_BYTES);
  if (got < 0) {
    quira_carrier_close(c);
    return QUIRA_ERR_READ;
  }
  c->header_bytes_read = (int32_t)got;
  payload_parse(&c->info, c->source.size);
  *out = c;
  return QUIRA_OK;
}

static QuiraCarrier* carrier_new(void) {
  QuiraCarrier* c = (QuiraCarrier*)calloc(1, sizeof(QuiraCarrier));
  if (c) c->fd = -1;
  return c;
}

int quira_carrier_open_path(const char* path, QuiraCarrier** carrier) {
  if (!path || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  // Without O_NONBLOCK the open of a FIFO would wait for a writer; it is refused below anyway.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return QUIRA_ERR_READ;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return QUIRA_ERR_READ;
  }
  QuiraCarrier* c = carrier_new();
  if (!c) {
    close(fd);
    return QUIRA_ERR_MEMORY;
  }
  c->fd = fd;
  c->source = {c, file_read_at, (int64_t)st.st_size};
  return carrier_finish_open(c, carrier);
}

int quira_carrier_open_memory(const void* bytes, size_t size, QuiraCarrier** carrier) {
  if ((!bytes && size) || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  c->memory = (const uint8_t*)bytes;
  c->source = {c, memory_read_at, (int64_t)size};
  return carrier_finish_open(c, carrier);
}

int quira_carrier_open_source(const QuiraSource* source, QuiraCarrier** carrier) {
  if (!source || !source->read_at || source->size < 0 || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  c->source = *source;
  return carrier_finish_open(c, carrier);
}

int quira_carrier_open_payload(const QuiraSource* payload, const uint8_t* player_sha256,
                               QuiraCarrier** carrier) {
  if (!payload || !payload->read_at || payload->size < 0 || !carrier) return QUIRA_ERR_ARGUMENT;
  *carrier = nullptr;
  QuiraCarrier* c = carrier_new();
  if (!c) return QUIRA_ERR_MEMORY;
  uint8_t own[32];
  if (!player_sha256) player_own_sha256(own);
  carrier_wrap_payload(c, payload, WRAP_PAYLOAD, 0, payload->size, player_sha256 ? player_sha256 : own);
  return carrier_finish_open(c, carrier);
}

void quira_carrier_close(QuiraCarrier* carrier) {
  if (!carrier) return;
  if (carrier->fd >= 0) close(carrier->fd);
  free(carrier);
}

// SPDX-License-Identifier: MIT
// Fuzzer of the voice mark (payload/voice_mark.h): the input is a payload header.
//
// Invariants: a mark that is believed is exactly the one the writer makes for its length (no
// other bytes pass for one); a mark the writer makes is always believed and gives its length
// back, whatever the effect bytes; the writer never touches bytes 10 and 11.
#include <string.h>

#include "tests/fuzz/fuzz_check.h"
#include "payload/voice_mark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PayloadHeader header{};
  memcpy(header.bytes, data, size < PAYLOAD_HEADER_BYTES ? size : PAYLOAD_HEADER_BYTES);
  uint32_t voice = 0;
  if (voice_mark_read(&header, &voice)) {
    PayloadHeader written = header;
    voice_mark_write(&written, voice);
    FUZZ_CHECK(memcmp(written.bytes, header.bytes, PAYLOAD_HEADER_BYTES) == 0, "a believed mark is the writer's own");
  }
  const uint32_t length = (uint32_t)header.bytes[4] | (uint32_t)header.bytes[5] << 8 |
                          (uint32_t)header.bytes[6] << 16 | (uint32_t)header.bytes[7] << 24;
  PayloadHeader marked = header;
  voice_mark_write(&marked, length);
  FUZZ_CHECK(marked.bytes[10] == header.bytes[10] && marked.bytes[11] == header.bytes[11],
             "the effect bytes are not the mark's");
  uint32_t back = 0;
  FUZZ_CHECK(voice_mark_read(&marked, &back) && back == length, "a written mark reads back");
  return 0;
}

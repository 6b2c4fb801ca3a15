// SPDX-License-Identifier: MIT
// wav_match CAPTURED.wav EXPECTED.wav: checks that a capture of what a sound device played holds
// the expected samples, in order, sample for sample.
//
// A device that runs out of queued sound (a refill or the device's own feeding thread came late)
// plays silence until more arrives, so the capture may hold runs of zeros the expected stream does
// not; and it may run on in silence after the end. Neither is a difference. An inserted run can
// only be seen where the expected sound resumes: it lies somewhere in the expected silence before
// that point, which is reported, with the output buffer boundary (every BLOCK_SAMPLES) in it if
// there is one, where a late refill puts it:
//   zero run: N samples in the silence at expected samples A-B (buffer boundary K)
//   zero run: N samples in the silence at expected samples A-B (inside buffer K)
//   trailing silence: N samples
// Exit status: 0 the capture matches, 1 it differs (or the expected stream is all silence, which
// would prove nothing), 2 a file could not be read or is not 16 kHz mono 16-bit PCM.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "payload/payload.h"

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

// Reads the samples of a 16,000 Hz mono 16-bit PCM WAV; an error message when it is not one.
std::string read_wav(const char* path, std::vector<int16_t>* samples) {
  FILE* file = fopen(path, "rb");
  if (!file) return "cannot open";
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(file);
  if (bytes.size() < 12 || memcmp(&bytes[0], "RIFF", 4) != 0 || memcmp(&bytes[8], "WAVE", 4) != 0)
    return "not a RIFF WAVE file";
  bool format_ok = false;
  // The file plugin of a device that was never closed leaves the data size at 0 or stale: the
  // data chunk is taken to run to the end of the file whatever its size field says.
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size = le32(&bytes[at + 4]);
    const uint8_t* body = &bytes[at + 8];
    if (memcmp(&bytes[at], "fmt ", 4) == 0 && size >= 16 && at + 8 + 16 <= bytes.size()) {
      format_ok = le16(body) == 1 && le16(body + 2) == 1 && le32(body + 4) == 16000 &&
                  le16(body + 14) == 16;
      if (!format_ok) return "not 16,000 Hz mono 16-bit PCM";
    } else if (memcmp(&bytes[at], "data", 4) == 0) {
      if (!format_ok) return "no format chunk before the data";
      size_t count = (bytes.size() - at - 8) / 2;
      samples->resize(count);
      for (size_t i = 0; i < count; i++) (*samples)[i] = (int16_t)le16(body + 2 * i);
      return "";
    }
    at += 8 + size + (size & 1);
  }
  return "no data chunk";
}

size_t zeros_from(const std::vector<int16_t>& s, size_t at) {
  size_t n = 0;
  while (at + n < s.size() && s[at + n] == 0) n++;
  return n;
}

// Whether the count samples from a[i] equal those from b[j], both within their streams.
bool equal_run(const std::vector<int16_t>& a, size_t i, const std::vector<int16_t>& b, size_t j,
               size_t count) {
  if (i + count > a.size() || j + count > b.size()) return false;
  for (size_t k = 0; k < count; k++)
    if (a[i + k] != b[j + k]) return false;
  return true;
}

// Samples that must follow a run of zeros for it to be taken as inserted rather than as a
// difference: a real difference is not followed by this much of the expected sound.
const size_t CONFIRM_SAMPLES = 64;

void report_run(const std::vector<int16_t>& want, size_t resume, size_t length) {
  size_t start = resume;
  while (start > 0 && want[start - 1] == 0) start--;
  size_t boundary = resume / BLOCK_SAMPLES;  // the last one before the sound resumes
  if (boundary * BLOCK_SAMPLES >= start) {
    printf("zero run: %zu samples in the silence at expected samples %zu-%zu (buffer boundary %zu)\n",
           length, start, resume, boundary);
  } else {
    printf("zero run: %zu samples in the silence at expected samples %zu-%zu (inside buffer %zu)\n",
           length, start, resume, resume / BLOCK_SAMPLES);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: wav_match CAPTURED.wav EXPECTED.wav\n");
    return 2;
  }
  std::vector<int16_t> got, want;
  for (int k = 1; k <= 2; k++) {
    std::string error = read_wav(argv[k], k == 1 ? &got : &want);
    if (!error.empty()) {
      fprintf(stderr, "wav_match: %s: %s\n", argv[k], error.c_str());
      return 2;
    }
  }
  if (zeros_from(want, 0) == want.size()) {
    printf("FAIL: the expected stream %s is all silence\n", argv[2]);
    return 1;
  }

  // Walk both streams. Where the capture is silent and the expected stream sounds, the capture's
  // zeros up to its next sound are inserted, if the expected sound follows them.
  size_t i = 0, j = 0, runs = 0, inserted = 0, differ = 0, first_want = 0, first_got = 0;
  while (j < want.size()) {
    if (i < got.size() && got[i] == want[j]) {
      i++;
      j++;
      continue;
    }
    if (i < got.size() && got[i] == 0) {
      size_t zeros = zeros_from(got, i);
      size_t confirm = want.size() - j < CONFIRM_SAMPLES ? want.size() - j : CONFIRM_SAMPLES;
      if (equal_run(got, i + zeros, want, j, confirm)) {
        report_run(want, j, zeros);
        runs++;
        inserted += zeros;
        i += zeros;
        continue;
      }
    }
    if (differ == 0) {
      first_want = j;
      first_got = i;
    }
    if (i >= got.size()) {
      differ += want.size() - j;
      break;
    }
    differ++;
    i++;
    j++;
  }
  size_t trailing = i < got.size() ? got.size() - i : 0;
  bool trailing_sound = trailing > zeros_from(got, i);
  if (trailing > 0 && !trailing_sound) printf("trailing silence: %zu samples\n", trailing);

  printf("compared %zu expected samples (%zu buffers) with %zu captured: %zu zero runs (%zu samples),"
         " %zu trailing, %zu differing\n",
         want.size(), (want.size() + BLOCK_SAMPLES - 1) / BLOCK_SAMPLES, got.size(), runs, inserted,
         trailing, differ);
  if (differ > 0) {
    printf("FAIL: %zu samples differ, the first at expected sample %zu (buffer %zu): expected %d, ",
           differ, first_want, first_want / BLOCK_SAMPLES, want[first_want]);
    if (first_got < got.size()) {
      printf("captured %d (captured sample %zu)\n", got[first_got], first_got);
    } else {
      printf("the capture ends before it\n");
    }
    return 1;
  }
  if (trailing_sound) {
    printf("FAIL: the capture goes on with %zu samples of sound after the expected end\n", trailing);
    return 1;
  }
  return 0;
}

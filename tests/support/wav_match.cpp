// wav_match CAPTURED.wav EXPECTED.wav: checks that a capture of what a sound device played holds
// the expected samples, in order, sample for sample.
//
// The expected stream is a run of output buffers of BLOCK_SAMPLES each, as the player queues
// them. A device that finds no buffer queued when it needs one (a refill came late) plays silence
// until the next buffer arrives, so the capture may hold a run of zeros between two buffers; and
// it may run on in silence after the last one. Both are reported, not counted as differences:
//   zero run: N samples before buffer K (expected sample S)
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

// How many of the count samples from a[i] and b[j] differ; samples missing from a count too.
size_t differing(const std::vector<int16_t>& a, size_t i, const std::vector<int16_t>& b, size_t j,
                 size_t count) {
  size_t n = 0;
  for (size_t k = 0; k < count; k++) n += (i + k >= a.size() || a[i + k] != b[j + k]) ? 1 : 0;
  return n;
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

  // Buffer by buffer: a buffer whose first nonzero sample is z samples in must, after a run of
  // zeros inserted before it, stand where the capture's run of zeros ends less z. A silent
  // buffer matches in place; zeros inserted before it are found before the next sounding one.
  size_t i = 0, runs = 0, inserted = 0, differ = 0, first_want = 0, first_got = 0;
  const size_t buffer = BLOCK_SAMPLES;
  for (size_t j = 0; j < want.size(); j += buffer) {
    size_t count = want.size() - j < buffer ? want.size() - j : buffer;
    size_t lead = zeros_from(want, j);
    size_t skip = 0;
    if (lead < count) {
      size_t zeros = zeros_from(got, i);
      if (zeros > lead && differing(got, i + zeros - lead, want, j, count) == 0) skip = zeros - lead;
    }
    if (skip > 0) {
      printf("zero run: %zu samples before buffer %zu (expected sample %zu)\n", skip, j / buffer, j);
      runs++;
      inserted += skip;
      i += skip;
    }
    size_t n = differing(got, i, want, j, count);
    if (n > 0 && differ == 0) {
      size_t k = 0;
      while (i + k < got.size() && got[i + k] == want[j + k]) k++;
      first_want = j + k;
      first_got = i + k;
    }
    differ += n;
    i += count;
  }
  size_t trailing = i < got.size() ? got.size() - i : 0;
  size_t trailing_sound = trailing - (i < got.size() ? zeros_from(got, i) : 0);
  if (trailing > 0 && trailing_sound == 0) printf("trailing silence: %zu samples\n", trailing);

  printf("compared %zu expected samples (%zu buffers) with %zu captured: %zu zero runs (%zu samples),"
         " %zu trailing, %zu differing\n",
         want.size(), (want.size() + buffer - 1) / buffer, got.size(), runs, inserted, trailing, differ);
  if (differ > 0) {
    printf("FAIL: %zu samples differ, the first at expected sample %zu (buffer %zu): expected %d, ",
           differ, first_want, first_want / buffer, want[first_want]);
    if (first_got < got.size()) {
      printf("captured %d (captured sample %zu)\n", got[first_got], first_got);
    } else {
      printf("the capture ends before it\n");
    }
    return 1;
  }
  if (trailing_sound > 0) {
    printf("FAIL: the capture goes on with %zu samples of sound after the expected end\n", trailing);
    return 1;
  }
  return 0;
}

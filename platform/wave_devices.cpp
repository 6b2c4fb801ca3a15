// SPDX-License-Identifier: MIT
// Wave devices without a sound card: one that discards, one that hands samples to a sink, one
// that writes a WAV file. All three play at once, whenever the player waits.
#include <stdio.h>
#include <string.h>

#include "platform/wav_header.h"
#include "platform/host.h"

namespace {

int supports_pcm16(void*, const WAVEFORMATEX* f) {
  return f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 16 && f->nChannels >= 1 &&
         f->nBlockAlign == 2 * f->nChannels && f->nSamplesPerSec > 0;
}
int open_always(void*, const WAVEFORMATEX*) { return 1; }
void play_nothing(void*, const int16_t*, size_t) {}
void close_nothing(void*) {}

const WaveDevice NULL_DEVICE = {"null", nullptr, 0, supports_pcm16, open_always, play_nothing,
                                nullptr, close_nothing};

struct Sink {
  WaveSink sink;
  void* context;
};
Sink SINK;

void sink_play(void* context, const int16_t* samples, size_t count) {
  Sink* s = (Sink*)context;
  s->sink(s->context, samples, count);
}

WaveDevice SINK_DEVICE = {"sink", &SINK, 0, supports_pcm16, open_always, sink_play, nullptr,
                          close_nothing};

struct WavFile {
  char path[4096];
  FILE* file;
  uint32_t data_bytes;
  WAVEFORMATEX format;
};
WavFile WAV_FILE;

void put16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

void wav_header(uint8_t h[WAV_HEADER_BYTES], const WAVEFORMATEX& f, uint32_t data_bytes) {
  wav_header_write(h, f.nChannels, f.nSamplesPerSec, data_bytes);
}

int file_open(void* context, const WAVEFORMATEX* format) {
  WavFile* w = (WavFile*)context;
  w->file = fopen(w->path, "wb");
  if (!w->file) return 0;
  w->format = *format;
  w->data_bytes = 0;
  uint8_t h[44];
  wav_header(h, w->format, 0);
  if (fwrite(h, 1, sizeof h, w->file) != sizeof h) {
    fclose(w->file);
    w->file = nullptr;
    return 0;
  }
  return 1;
}

void file_play(void* context, const int16_t* samples, size_t count) {
  WavFile* w = (WavFile*)context;
  uint8_t bytes[2];
  for (size_t i = 0; i < count; i++) {  // little-endian whatever the machine
    put16(bytes, (uint16_t)samples[i]);
    if (fwrite(bytes, 1, 2, w->file) == 2) w->data_bytes += 2;
  }
}

void file_close(void* context) {
  WavFile* w = (WavFile*)context;
  uint8_t h[44];
  wav_header(h, w->format, w->data_bytes);
  if (fseek(w->file, 0, SEEK_SET) == 0) fwrite(h, 1, sizeof h, w->file);
  fclose(w->file);
  w->file = nullptr;
}

WaveDevice FILE_DEVICE = {"file", &WAV_FILE, 0, supports_pcm16, file_open, file_play, nullptr,
                          file_close};

}  // namespace

const WaveDevice* platform_wave_null(void) { return &NULL_DEVICE; }

const WaveDevice* platform_wave_sink(WaveSink sink, void* context) {
  SINK.sink = sink;
  SINK.context = context;
  return &SINK_DEVICE;
}

const WaveDevice* platform_wave_file(const char* path) {
  if (strlen(path) >= sizeof WAV_FILE.path) return nullptr;
  snprintf(WAV_FILE.path, sizeof WAV_FILE.path, "%s", path);
  return &FILE_DEVICE;
}

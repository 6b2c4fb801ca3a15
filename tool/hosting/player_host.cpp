// SPDX-License-Identifier: MIT
// The player run here over the stand-in.
#include "tool/hosting/player_host.h"

#include <stdint.h>

#include "app/playback.h"
#include "app/player_dialog.h"
#include "quira/quira.h"

namespace {

// The carrier as the player reads it: the host's file, with header bytes replaced as asked.
struct HostFile {
  const HostCarrier* carrier;
  void* file;
  int64_t position;
};

void* host_open(void* context, const char*) {
  const HostCarrier* carrier = static_cast<const HostCarrier*>(context);
  if (carrier->library) return new HostFile{carrier, nullptr, 0};
  void* file = CARRIER_FILES_STDIO.open(nullptr, carrier->path.c_str());
  if (!file) return nullptr;
  return new HostFile{carrier, file, 0};
}

int host_seek(void* f, int64_t offset) {
  HostFile* h = static_cast<HostFile*>(f);
  if (h->file && CARRIER_FILES_STDIO.seek(h->file, offset) != 0) return -1;
  h->position = offset;
  return 0;
}

size_t host_read(void* f, void* bytes, size_t n) {
  HostFile* h = static_cast<HostFile*>(f);
  size_t got = 0;
  if (h->file) {
    got = CARRIER_FILES_STDIO.read(h->file, bytes, n);
  } else {
    // The library's reads are of at most 2^31 - 1 bytes; the player reads a block at a time.
    int64_t r = quira_carrier_read(h->carrier->library, h->position, bytes, n > INT32_MAX ? INT32_MAX : (int32_t)n);
    got = r > 0 ? (size_t)r : 0;
  }
  const int replace[2][2] = {{PAYLOAD_EFFECT_BYTE, h->carrier->effect_code},
                             {PAYLOAD_LEVEL_BYTE, h->carrier->level_byte}};
  for (const auto& r : replace) {
    int64_t at = PAYLOAD_OFFSET + r[0] - h->position;
    if (r[1] >= 0 && at >= 0 && at < (int64_t)got) static_cast<uint8_t*>(bytes)[at] = (uint8_t)r[1];
  }
  h->position += (int64_t)got;
  return got;
}

int64_t host_length(void* f) {
  HostFile* h = static_cast<HostFile*>(f);
  if (!h->file) return h->carrier->size;
  int64_t length = CARRIER_FILES_STDIO.length(h->file);
  CARRIER_FILES_STDIO.seek(h->file, h->position);
  return length;
}

void host_close(void* f) {
  HostFile* h = static_cast<HostFile*>(f);
  if (h->file) CARRIER_FILES_STDIO.close(h->file);
  delete h;
}

void capture_samples(void* context, const int16_t* samples, size_t count) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), samples, samples + count);
}

// With a device that plays at once, the dialog's loop is idle only when the device holds nothing:
// playback has ended (or never started). That is when a listener would close the window.
int close_when_idle(void*, HWND dialog) {
  platform_key(dialog, VK_ESCAPE);
  return -1;
}

}  // namespace

void player_host_run(const HostCarrier& carrier, const WaveDevice* device, const DialogFace* face) {
  PLAYBACK = PlaybackState{};
  const CarrierFiles files = {const_cast<HostCarrier*>(&carrier), host_open, host_seek, host_read,
                              host_length, host_close};
  PLAYBACK.carrier_files = &files;
  size_t image_size = 0;
  const uint8_t* image = quira_embedded_player(&image_size);
  // The module's file name is what the player asks for; the file interface above reaches the
  // carrier whatever that name's length.
  HINSTANCE module = platform_module(image, image_size, carrier.path.c_str());
  platform_wave_device(device);
  platform_dialog_face(face);
  WinMain(module, nullptr, (LPSTR) "", 0);
  platform_dialog_face(nullptr);
  platform_wave_device(nullptr);
  PLAYBACK.carrier_files = nullptr;
}

int64_t player_host_position(const void* file) {
  return file ? static_cast<const HostFile*>(file)->position : -1;
}

std::vector<int16_t> player_host_capture(const HostCarrier& carrier) {
  std::vector<int16_t> samples;
  DialogFace face = {};
  face.idle = close_when_idle;
  player_host_run(carrier, platform_wave_sink(capture_samples, &samples), &face);
  return samples;
}

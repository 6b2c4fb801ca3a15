// The player run here over the stand-in.
#include "tool/player_host.h"

#include "app/playback.h"
#include "app/player_dialog.h"
#include "tool/player_image.h"

void player_host_run(const std::string& path, const WaveDevice* device, const DialogFace* face) {
  PLAYBACK = PlaybackState{};
  std::span<const uint8_t> image = player_image();
  HINSTANCE module = platform_module(image.data(), image.size(), path.c_str());
  platform_wave_device(device);
  platform_dialog_face(face);
  WinMain(module, nullptr, (LPSTR) "", 0);
  platform_dialog_face(nullptr);
  platform_wave_device(nullptr);
}

namespace {

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

std::vector<int16_t> player_host_capture(const std::string& path) {
  std::vector<int16_t> samples;
  DialogFace face = {};
  face.idle = close_when_idle;
  player_host_run(path, platform_wave_sink(capture_samples, &samples), &face);
  return samples;
}

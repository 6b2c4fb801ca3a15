// SPDX-License-Identifier: MIT
// The stand-in's wave output and dialog loop, and the player's wave output on top of them: the
// behaviour the player relies on from the system, checked where it would break the player.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/wave_output.h"
#include "platform/host.h"
#include "res/resource.h"
#include "tests/media.h"
#include "quira/quira.h"

namespace {

const WAVEFORMATEX PCM16 = {WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};

struct Seen {
  UINT message;
  LPARAM lparam;
  bool after_reset;  // the reset had returned when the message was handled
};

// Runs the player's dialog template with a procedure of the test's: start runs inside
// WM_INITDIALOG, every other message is recorded, and the dialog closes when the loop is idle
// and done() says so (or at once when done is empty).
struct Harness {
  std::function<void(HWND)> start;
  std::function<bool()> done;
  std::vector<Seen> seen;
  bool reset_returned = false;

  static Harness* current;

  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      current->start(dialog);
      return TRUE;
    }
    if (message == WM_COMMAND) {
      EndDialog(dialog, 1);
      return TRUE;
    }
    if (message == MM_WOM_OPEN || message == MM_WOM_DONE || message == MM_WOM_CLOSE)
      current->seen.push_back(Seen{message, lparam, current->reset_returned});
    return FALSE;
  }

  void run(const WaveDevice* device) {
    current = this;
    size_t image_size = 0;
    const uint8_t* image = quira_embedded_player(&image_size);
    HINSTANCE module = platform_module(image, image_size, "/nonexistent");
    platform_wave_device(device);
    DialogFace face = {};
    face.context = this;
    face.idle = [](void* c, HWND dialog) {
      Harness* h = static_cast<Harness*>(c);
      if (!h->done || h->done()) platform_key(dialog, VK_ESCAPE);
      return 50;
    };
    platform_dialog_face(&face);
    EXPECT_EQ(DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_PLAYER), nullptr, proc, 0), 1);
    platform_dialog_face(nullptr);
    platform_wave_device(nullptr);
  }

  std::vector<UINT> messages() const {
    std::vector<UINT> m;
    for (const Seen& s : seen) m.push_back(s.message);
    return m;
  }
};
Harness* Harness::current;

std::vector<int16_t> captured;
const WaveDevice* capture_device() {
  captured.clear();
  return platform_wave_sink(
      [](void*, const int16_t* samples, size_t n) { captured.insert(captured.end(), samples, samples + n); },
      nullptr);
}

TEST(StandInWave, ResetHandsBackQueuedBuffersAfterItReturns) {
  static int16_t a[8], b[8];
  WAVEHDR ha = {}, hb = {};
  Harness h;
  h.start = [&](HWND dialog) {
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &PCM16, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW), 0u);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &PCM16, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW),
              (MMRESULT)MMSYSERR_ALLOCATED);
    ha.lpData = (LPSTR)a;
    hb.lpData = (LPSTR)b;
    ha.dwBufferLength = hb.dwBufferLength = sizeof a;
    EXPECT_EQ(waveOutWrite(device, &ha, sizeof ha), (MMRESULT)WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(device, &ha, sizeof ha), 0u);
    ASSERT_EQ(waveOutPrepareHeader(device, &hb, sizeof hb), 0u);
    ASSERT_EQ(waveOutWrite(device, &ha, sizeof ha), 0u);
    ASSERT_EQ(waveOutWrite(device, &hb, sizeof hb), 0u);
    EXPECT_EQ(waveOutWrite(device, &ha, sizeof ha), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(device, &ha, sizeof ha), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(platform_wave_pending(), 2);
    EXPECT_EQ(waveOutReset(device), 0u);
    h.reset_returned = true;
    EXPECT_EQ(ha.dwFlags & (WHDR_DONE | WHDR_INQUEUE), (DWORD)WHDR_DONE);
    EXPECT_EQ(hb.dwFlags & (WHDR_DONE | WHDR_INQUEUE), (DWORD)WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(device, &ha, sizeof ha), 0u);
    EXPECT_EQ(waveOutUnprepareHeader(device, &hb, sizeof hb), 0u);
    EXPECT_EQ(waveOutClose(device), 0u);
  };
  h.run(capture_device());
  EXPECT_TRUE(captured.empty()) << "buffers handed back by a reset are not played";
  ASSERT_EQ(h.messages(), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
  EXPECT_EQ(h.seen[1].lparam, (LPARAM)&ha);
  EXPECT_EQ(h.seen[2].lparam, (LPARAM)&hb);
  EXPECT_TRUE(h.seen[1].after_reset);
}

TEST(StandInWave, NoDeviceAndRefusedFormats) {
  HWAVEOUT device = nullptr;
  platform_wave_device(nullptr);
  EXPECT_EQ(waveOutGetNumDevs(), 0u);
  EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &PCM16, 0, 0, WAVE_FORMAT_QUERY),
            (MMRESULT)MMSYSERR_BADDEVICEID);
  platform_wave_device(platform_wave_null());
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &PCM16, 0, 0, WAVE_FORMAT_QUERY), 0u);
  WAVEFORMATEX eight_bit = PCM16;
  eight_bit.wBitsPerSample = 8;
  eight_bit.nBlockAlign = 1;
  EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &eight_bit, 0, 0, WAVE_FORMAT_QUERY),
            (MMRESULT)WAVERR_BADFORMAT);
  platform_wave_device(nullptr);
}

// A device with a thread: play blocks until the test lets it finish or a reset cancels it.
struct SlowDevice {
  std::mutex lock;
  std::condition_variable changed;
  int playing = 0, finished = 0;
  bool release = false;
  std::vector<bool> cancelled_at_start;
  std::atomic<bool> reading{false};
  WaveDevice device = {"slow", this, 1,
                       [](void*, const WAVEFORMATEX*) { return 1; },
                       [](void*, const WAVEFORMATEX*) { return 1; },
                       [](void* c, const int16_t*, size_t) {
                         SlowDevice* d = static_cast<SlowDevice*>(c);
                         std::unique_lock<std::mutex> hold(d->lock);
                         d->playing++;
                         d->cancelled_at_start.push_back(platform_wave_play_cancelled());
                         d->reading = true;
                         d->changed.notify_all();
                         d->changed.wait(hold, [d] { return d->release || platform_wave_play_cancelled(); });
                         d->reading = false;
                         d->finished++;
                         d->release = false;
                       },
                       [](void* c) {
                         SlowDevice* d = static_cast<SlowDevice*>(c);
                         std::lock_guard<std::mutex> hold(d->lock);
                         d->changed.notify_all();  // wakes a play that waits
                       },
                       [](void*) {}};

  void wait_playing(int n) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return playing >= n; });
  }
  void finish_one() {
    std::lock_guard<std::mutex> hold(lock);
    release = true;
    changed.notify_all();
  }
};

TEST(StandInWave, ThreadedDeviceNotifiesFromItsThreadAndResetWaitsForIt) {
  SlowDevice slow;
  static int16_t a[8], b[8];
  WAVEHDR ha = {}, hb = {};
  HWAVEOUT device = nullptr;
  bool reading_after_reset = true;
  Harness h;
  h.start = [&](HWND dialog) {
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &PCM16, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW), 0u);
    ha.lpData = (LPSTR)a;
    hb.lpData = (LPSTR)b;
    ha.dwBufferLength = hb.dwBufferLength = sizeof a;
    waveOutPrepareHeader(device, &ha, sizeof ha);
    waveOutPrepareHeader(device, &hb, sizeof hb);
    waveOutWrite(device, &ha, sizeof ha);
    waveOutWrite(device, &hb, sizeof hb);
    slow.wait_playing(1);
    slow.finish_one();  // A plays out: its notification comes from the device's thread
  };
  int step = 0;
  h.done = [&] {
    switch (step) {
      case 0:  // A's notification is in: reset while B is being played
        if (h.messages().size() < 2) return false;
        slow.wait_playing(2);
        EXPECT_EQ(platform_wave_pending(), 1);
        waveOutReset(device);
        reading_after_reset = slow.reading;
        h.reset_returned = true;
        waveOutWrite(device, &ha, sizeof ha);  // a buffer queued after the reset plays whole
        step = 1;
        return false;
      case 1:
        slow.wait_playing(3);
        slow.finish_one();
        step = 2;
        return false;
      case 2:  // its notification is in
        if (h.messages().size() < 4) return false;
        waveOutUnprepareHeader(device, &ha, sizeof ha);
        waveOutUnprepareHeader(device, &hb, sizeof hb);
        EXPECT_EQ(waveOutClose(device), 0u);
        step = 3;
        return false;
      default:
        return h.messages().size() >= 5;
    }
  };
  h.run(&slow.device);
  EXPECT_FALSE(reading_after_reset) << "the device still read a buffer after the reset returned";
  ASSERT_EQ(h.messages(),
            (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
  EXPECT_EQ(h.seen[1].lparam, (LPARAM)&ha);
  EXPECT_FALSE(h.seen[1].after_reset);
  EXPECT_EQ(h.seen[2].lparam, (LPARAM)&hb);  // handed back once, by the reset
  EXPECT_TRUE(h.seen[2].after_reset);
  EXPECT_EQ(h.seen[3].lparam, (LPARAM)&ha);
  EXPECT_EQ(slow.finished, 3);
  EXPECT_EQ(slow.cancelled_at_start, (std::vector<bool>{false, false, false}));
}

TEST(PlayerWave, StartWithoutDeviceAllocatesNothing) {
  Harness h;
  h.start = [&](HWND dialog) {
    EXPECT_EQ(wave_start(dialog, 0, 0), WAVE_START_NO_DEVICE);
    EXPECT_EQ(WAVE.device, nullptr);
    EXPECT_EQ(WAVE.buffer_a, nullptr);
    EXPECT_EQ(WAVE.header_a, nullptr);
    EXPECT_EQ(WAVE.header_b, nullptr);
  };
  h.run(nullptr);
  EXPECT_TRUE(h.seen.empty());
}

TEST(PlayerWave, StartWhileTheDeviceIsTakenReleasesEverything) {
  Harness h;
  h.start = [&](HWND dialog) {
    HWAVEOUT other = nullptr;
    ASSERT_EQ(waveOutOpen(&other, WAVE_MAPPER, &PCM16, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW), 0u);
    EXPECT_EQ(wave_start(dialog, 0, 0), WAVE_START_NO_DEVICE);
    EXPECT_EQ(WAVE.device, nullptr);
    EXPECT_EQ(WAVE.buffer_a, nullptr);
    waveOutClose(other);
  };
  h.run(platform_wave_null());
}

TEST(PlayerWaveMedia, StartQueuesTwoSilentBuffersAndPrimesOnTheFirstRefill) {
  auto blocks = carrier_blocks(media_path("speech-32.exe"));
  Harness h;
  std::vector<int16_t> first_refill, second_refill;
  h.start = [&](HWND dialog) {
    ASSERT_EQ(wave_start(dialog, 0, 0), WAVE_START_OK);
    EXPECT_EQ(platform_wave_pending(), 2);
    EXPECT_TRUE(WAVE.header_a->dwFlags & WHDR_INQUEUE);
    EXPECT_TRUE(WAVE.header_b->dwFlags & WHDR_INQUEUE);
  };
  Harness* self = &h;
  h.done = [&] {
    // Work the first two notifications as the playback control would, then stop.
    std::vector<UINT> m = self->messages();
    if (m.size() == 3 && first_refill.empty()) {
      EXPECT_EQ(self->seen[1].lparam, (LPARAM)WAVE.header_a);
      EXPECT_EQ(self->seen[2].lparam, (LPARAM)WAVE.header_b);
      int16_t* s = wave_refill((WAVEHDR*)self->seen[1].lparam, blocks[5].data());
      first_refill.assign(s, s + BLOCK_SAMPLES);
      s = wave_refill((WAVEHDR*)self->seen[2].lparam, blocks[6].data());
      second_refill.assign(s, s + BLOCK_SAMPLES);
      wave_stop();
    }
    return !first_refill.empty();
  };
  h.run(capture_device());
  ASSERT_EQ(captured.size(), 2u * BLOCK_SAMPLES);
  for (int16_t v : captured) ASSERT_EQ(v, 0);
  ASSERT_EQ(first_refill.size(), (size_t)BLOCK_SAMPLES);
  for (int16_t v : first_refill) ASSERT_EQ(v, 0) << "the priming refill plays silent";
  bool sound = false;
  for (int16_t v : second_refill) sound = sound || v != 0;
  EXPECT_TRUE(sound) << "the block after the priming one is heard";
}

TEST(StandInDialog, TemplateControlsAndTheLabelById) {
  Harness h;
  h.start = [&](HWND dialog) {
    char text[64];
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_STREQ(text, "Quira");
    HWND label = GetDlgItem(dialog, IDC_LABEL);
    ASSERT_NE(label, nullptr);
    GetWindowTextA(label, text, sizeof text);
    EXPECT_STREQ(text, "Quira");
    EXPECT_FALSE(platform_window_visible(GetDlgItem(dialog, IDC_DEFAULT)));
    EXPECT_TRUE(platform_window_visible(GetDlgItem(dialog, IDC_PLAY)));
    EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, IDC_STOP), GWL_STYLE), (LONG)0x50000080);
    EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
    // The system's formatter stops at 1,024 characters.
    static char big[2048];
    EXPECT_EQ(wsprintfA(big, "%02d%s", 7, std::string(1500, 'x').c_str()), 1024);
    EXPECT_EQ(strlen(big), 1024u);
  };
  h.run(nullptr);
}

}  // namespace

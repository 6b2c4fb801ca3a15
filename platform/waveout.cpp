// SPDX-License-Identifier: MIT
// The wave output device of the stand-in: waveOut* over one installed WaveDevice.
//
// One device can be open at a time, which is all the player ever opens. Queued headers are
// linked through lpNext, as the system's own driver uses that field. The lock guards the queue,
// which a threaded device's player thread takes buffers from; headers the device has finished
// are marked done and announced by posting MM_WOM_DONE to the window named at open.
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/host.h"

struct WaveOut {
  const WaveDevice* device;
  HWND window;
  bool open;
  WAVEHDR* head;     // queued, not yet taken by the device
  WAVEHDR* tail;
  WAVEHDR* playing;  // taken by a threaded device's thread, being played
  bool handed_back;  // a reset has already returned the buffer being played
  std::atomic<bool> cancelled;  // ... and so the device's play should give it up
  bool closing;      // the player thread is to end
  std::mutex lock;
  std::condition_variable changed;
  std::thread player;
};

namespace {

WaveOut OUTPUT;
const WaveDevice* INSTALLED;

bool is_open(HWAVEOUT device) { return device == &OUTPUT && OUTPUT.open; }

bool header_ok(LPWAVEHDR header, UINT size) {
  return header && size >= sizeof(WAVEHDR) && header->lpData;
}

// Marks a header played (or handed back) and tells the window. Called with the lock held.
void finish(WAVEHDR* header) {
  header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_INQUEUE) | WHDR_DONE;
  header->lpNext = nullptr;
  platform_post(OUTPUT.window, MM_WOM_DONE, (WPARAM)&OUTPUT, (LPARAM)header);
}

WAVEHDR* take_head() {
  WAVEHDR* header = OUTPUT.head;
  if (header) {
    OUTPUT.head = header->lpNext;
    if (!OUTPUT.head) OUTPUT.tail = nullptr;
  }
  return header;
}

// The thread of a threaded device: plays one buffer after another until the device closes.
void player_run() {
  std::unique_lock<std::mutex> hold(OUTPUT.lock);
  for (;;) {
    OUTPUT.changed.wait(hold, [] { return OUTPUT.closing || OUTPUT.head; });
    if (OUTPUT.closing) return;
    WAVEHDR* header = take_head();
    OUTPUT.playing = header;
    OUTPUT.cancelled = false;
    hold.unlock();
    OUTPUT.device->play(OUTPUT.device->context, (const int16_t*)header->lpData,
                        header->dwBufferLength / 2);
    hold.lock();
    // A reset while it played has handed the buffer back already.
    if (!OUTPUT.handed_back) finish(header);
    OUTPUT.handed_back = false;
    OUTPUT.playing = nullptr;
    OUTPUT.changed.notify_all();
  }
}

}  // namespace

void platform_wave_device(const WaveDevice* device) {
  if (!OUTPUT.open) INSTALLED = device;
}

int platform_wave_play_cancelled(void) { return OUTPUT.cancelled ? 1 : 0; }

int platform_wave_pending(void) {
  std::lock_guard<std::mutex> hold(OUTPUT.lock);
  if (!OUTPUT.open) return 0;
  int n = OUTPUT.playing && !OUTPUT.handed_back ? 1 : 0;
  for (WAVEHDR* h = OUTPUT.head; h; h = h->lpNext) n++;
  return n;
}

int platform_wave_play_next(void) {
  WAVEHDR* header;
  {
    std::lock_guard<std::mutex> hold(OUTPUT.lock);
    if (!OUTPUT.open || OUTPUT.device->threaded || !OUTPUT.head) return 0;
    header = take_head();
  }
  // No other thread touches the queue of a device without a thread, so the header is ours here.
  OUTPUT.device->play(OUTPUT.device->context, (const int16_t*)header->lpData,
                      header->dwBufferLength / 2);
  std::lock_guard<std::mutex> hold(OUTPUT.lock);
  finish(header);
  return 1;
}

UINT waveOutGetNumDevs(void) { return INSTALLED ? 1 : 0; }

MMRESULT waveOutOpen(LPHWAVEOUT device, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  (void)instance;
  if (!INSTALLED || (id != WAVE_MAPPER && id != 0)) return MMSYSERR_BADDEVICEID;
  if (!format) return MMSYSERR_INVALPARAM;
  if (!INSTALLED->supports(INSTALLED->context, format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!device) return MMSYSERR_INVALPARAM;
  // Only window notifications are implemented: the player asks for nothing else.
  if ((flags & 0x70000) != CALLBACK_WINDOW || !callback) return MMSYSERR_INVALFLAG;
  if (OUTPUT.open) return MMSYSERR_ALLOCATED;
  if (!INSTALLED->open(INSTALLED->context, format)) return MMSYSERR_NODRIVER;

  OUTPUT.device = INSTALLED;
  OUTPUT.window = (HWND)callback;
  OUTPUT.head = OUTPUT.tail = OUTPUT.playing = nullptr;
  OUTPUT.handed_back = false;
  OUTPUT.closing = false;
  OUTPUT.open = true;
  if (OUTPUT.device->threaded) OUTPUT.player = std::thread(player_run);
  *device = &OUTPUT;
  platform_post(OUTPUT.window, MM_WOM_OPEN, (WPARAM)&OUTPUT, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size) {
  if (!is_open(device)) return MMSYSERR_INVALHANDLE;
  if (!header_ok(header, size)) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size) {
  if (!is_open(device)) return MMSYSERR_INVALHANDLE;
  if (!header_ok(header, size)) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~(DWORD)WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size) {
  if (!is_open(device)) return MMSYSERR_INVALHANDLE;
  if (!header_ok(header, size)) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  std::lock_guard<std::mutex> hold(OUTPUT.lock);
  header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_DONE) | WHDR_INQUEUE;
  header->lpNext = nullptr;
  if (OUTPUT.tail)
    OUTPUT.tail->lpNext = header;
  else
    OUTPUT.head = header;
  OUTPUT.tail = header;
  OUTPUT.changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
  if (!is_open(device)) return MMSYSERR_INVALHANDLE;
  std::unique_lock<std::mutex> hold(OUTPUT.lock);
  // Hand back the buffer being played, then every queued one, in order.
  if (OUTPUT.playing && !OUTPUT.handed_back) {
    finish(OUTPUT.playing);
    OUTPUT.handed_back = true;
    OUTPUT.cancelled = true;
  }
  while (WAVEHDR* header = take_head()) finish(header);
  if (OUTPUT.playing) {
    // The caller may free the buffers as soon as this returns: wait until the device is done
    // reading the one it was playing.
    hold.unlock();
    if (OUTPUT.device->abort) OUTPUT.device->abort(OUTPUT.device->context);
    hold.lock();
    OUTPUT.changed.wait(hold, [] { return !OUTPUT.playing; });
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
  if (!is_open(device)) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard<std::mutex> hold(OUTPUT.lock);
    if (OUTPUT.head || (OUTPUT.playing && !OUTPUT.handed_back)) return WAVERR_STILLPLAYING;
    OUTPUT.closing = true;
    OUTPUT.changed.notify_all();
  }
  if (OUTPUT.player.joinable()) OUTPUT.player.join();
  OUTPUT.device->close(OUTPUT.device->context);
  OUTPUT.open = false;
  platform_post(OUTPUT.window, MM_WOM_CLOSE, (WPARAM)&OUTPUT, 0);
  return MMSYSERR_NOERROR;
}

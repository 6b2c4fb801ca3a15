// SPDX-License-Identifier: MIT
// Wave output double buffer.
#include "audio/wave_output.h"

#include <stdlib.h>
#include <string.h>

#include "payload/payload.h"

WaveOutput WAVE;

namespace {

BlockDecoder PLAYER_DECODER;
EffectStage PLAYER_EFFECT;

// 16,000 Hz, mono, 16-bit PCM; the same record for the query and the open.
const WAVEFORMATEX WAVE_FORMAT = {WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};

void wave_release(void) {
  wave_header_free(WAVE.device, WAVE.header_a);
  wave_header_free(WAVE.device, WAVE.header_b);
  waveOutClose(WAVE.device);
  free(WAVE.buffer_a);
  free(WAVE.buffer_b);
  WAVE.device = 0;
  WAVE.header_a = WAVE.header_b = 0;
  WAVE.buffer_a = WAVE.buffer_b = 0;
}

}  // namespace

HWAVEOUT wave_open(HWND window) {
  if (waveOutGetNumDevs() == 0) return 0;
  if (waveOutOpen(0, WAVE_MAPPER, &WAVE_FORMAT, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
    return 0;
  HWAVEOUT device = 0;
  if (waveOutOpen(&device, WAVE_MAPPER, &WAVE_FORMAT, (DWORD_PTR)window, 0, CALLBACK_WINDOW) !=
      MMSYSERR_NOERROR)
    return 0;
  return device;
}

WAVEHDR* wave_header_create(HWAVEOUT device, int16_t* samples, int32_t length) {
  WAVEHDR* header = (WAVEHDR*)malloc(sizeof(WAVEHDR));
  if (!header) return 0;
  memset(header, 0, sizeof *header);
  header->lpData = (LPSTR)samples;
  header->dwBufferLength = (DWORD)length;
  header->dwFlags = 0;
  header->dwLoops = 0;
  if (waveOutPrepareHeader(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    free(header);
    return 0;
  }
  return header;
}

void wave_header_free(HWAVEOUT device, WAVEHDR* header) {
  if (!header) return;
  waveOutUnprepareHeader(device, header, sizeof(WAVEHDR));
  free(header);
}

int wave_start(HWND window, int8_t effect_code, int8_t effect_level) {
  WAVE.device = wave_open(window);
  if (!WAVE.device) return WAVE_START_NO_DEVICE;
  WAVE.buffer_a = (int16_t*)malloc(BUFFER_BYTES);
  WAVE.buffer_b = (int16_t*)malloc(BUFFER_BYTES);
  if (WAVE.buffer_a) WAVE.header_a = wave_header_create(WAVE.device, WAVE.buffer_a, BUFFER_BYTES);
  if (WAVE.buffer_b) WAVE.header_b = wave_header_create(WAVE.device, WAVE.buffer_b, BUFFER_BYTES);
  if (!WAVE.header_a || !WAVE.header_b) {
    // Without both buffers there is nothing to play: the same as a device that cannot open.
    wave_release();
    return WAVE_START_NO_DEVICE;
  }
  if (!WAVE.cycle.decoder) buffer_cycle_init(&WAVE.cycle, &PLAYER_DECODER, &PLAYER_EFFECT);
  memset(WAVE.buffer_a, 0, BUFFER_BYTES);
  memset(WAVE.buffer_b, 0, BUFFER_BYTES);
  buffer_cycle_start(&WAVE.cycle, effect_code, effect_level);
  waveOutWrite(WAVE.device, WAVE.header_a, sizeof(WAVEHDR));
  waveOutWrite(WAVE.device, WAVE.header_b, sizeof(WAVEHDR));
  return WAVE_START_OK;
}

int16_t* wave_refill(WAVEHDR* header, uint8_t* block) {
  int16_t* samples = (int16_t*)header->lpData;
  buffer_cycle_refill(&WAVE.cycle, samples, block);
  return samples;
}

void wave_queue(WAVEHDR* header) { waveOutWrite(WAVE.device, header, sizeof(WAVEHDR)); }

void wave_stop(void) {
  waveOutReset(WAVE.device);
  wave_release();
}

int wave_header_returned(const WAVEHDR* header) {
  if (!header || (header != WAVE.header_a && header != WAVE.header_b)) return 0;
  return (header->dwFlags & WHDR_DONE) && !(header->dwFlags & WHDR_INQUEUE);
}

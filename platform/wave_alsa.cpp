// SPDX-License-Identifier: MIT
// The sound card behind waveOut*: the system's default ALSA playback device.
//
// The device is opened non-blocking with the library's own conversions allowed (rate, channels,
// sample format), so that a card that cannot run at the player's 16 kHz mono still plays it.
// play runs on the stand-in's device thread and is the only place the PCM is written; open and
// close run on the dialog's thread while that thread does not exist. A reset reaches play only
// through the stand-in's cancel flag, which play looks at between writes and while waiting for
// room, so no two threads ever call into the PCM at once.
#include <alsa/asoundlib.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "platform/host.h"

namespace {

// The library's ring holds this much sound ahead of what is heard. The player keeps a whole
// 360 ms buffer queued behind the one being written, so the ring only has to bridge the device
// thread's step from one buffer to the next; it is also how long sound goes on after a stop.
const unsigned LATENCY_US = 200000;
// How long play waits for room in the ring before it looks at the cancel flag again.
const int WAIT_MS = 20;

struct AlsaOutput {
  snd_pcm_t* pcm;
  unsigned channels;
  snd_pcm_uframes_t chunk;  // frames per write: one period
  char failure[160];        // why the last open failed
};

AlsaOutput ALSA;

// The library reports its errors on stderr unless told otherwise; the player reports a device it
// cannot open in its own words, and the host may print alsa_failure.
void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}

int alsa_supports(void*, const WAVEFORMATEX* f) {
  return f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 16 &&
         (f->nChannels == 1 || f->nChannels == 2) && f->nBlockAlign == 2 * f->nChannels &&
         f->nSamplesPerSec > 0;
}

int alsa_fail(AlsaOutput* a, const char* step, int error) {
  snprintf(a->failure, sizeof a->failure, "%s: %s", step, snd_strerror(error));
  if (a->pcm) snd_pcm_close(a->pcm);
  a->pcm = nullptr;
  return 0;
}

int alsa_open(void* context, const WAVEFORMATEX* format) {
  AlsaOutput* a = (AlsaOutput*)context;
  a->failure[0] = '\0';
  a->pcm = nullptr;
  int error = snd_pcm_open(&a->pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error < 0) {
    a->pcm = nullptr;
    return alsa_fail(a, "cannot open the default sound device", error);
  }
  error = snd_pcm_set_params(a->pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                             format->nChannels, format->nSamplesPerSec, 1, LATENCY_US);
  if (error < 0) return alsa_fail(a, "the sound device refuses 16-bit PCM at this rate", error);
  snd_pcm_uframes_t buffer_frames = 0, period_frames = 0;
  snd_pcm_get_params(a->pcm, &buffer_frames, &period_frames);
  a->chunk = period_frames > 0 ? period_frames : 256;
  a->channels = format->nChannels;
  return 1;
}

// Writes the samples a period at a time as room comes free in the ring, until all are written
// or a reset cancels the play. A write never asks for more than a period: a device that takes
// everything at once and then blocks elsewhere (a plugin writing to a file or a pipe) still lets
// a reset in between periods.
// An underrun (the ring ran dry) or a suspend is recovered from and writing goes on; any other
// error gives the rest of the buffer up, as a card that went away plays nothing more.
void alsa_play(void* context, const int16_t* samples, size_t count) {
  AlsaOutput* a = (AlsaOutput*)context;
  snd_pcm_uframes_t left = count / a->channels;
  while (left > 0 && !platform_wave_play_cancelled()) {
    snd_pcm_sframes_t n = snd_pcm_writei(a->pcm, samples, left < a->chunk ? left : a->chunk);
    if (n == -EAGAIN || n == 0) {
      snd_pcm_wait(a->pcm, WAIT_MS);
      continue;
    }
    if (n < 0) {
      if (snd_pcm_recover(a->pcm, (int)n, 1) < 0) break;
      continue;
    }
    samples += (size_t)n * a->channels;
    left -= (snd_pcm_uframes_t)n;
  }
}

// What is in the ring is played out before the device closes: the player stops at the end of a
// message as soon as the last buffer has been written, which is up to LATENCY_US before it is
// heard.
void alsa_close(void* context) {
  AlsaOutput* a = (AlsaOutput*)context;
  if (!a->pcm) return;
  snd_pcm_nonblock(a->pcm, 0);
  snd_pcm_drain(a->pcm);
  snd_pcm_close(a->pcm);
  a->pcm = nullptr;
}

// No abort: play never sleeps longer than WAIT_MS before it looks at the cancel flag.
const WaveDevice ALSA_DEVICE = {"alsa",    &ALSA,     1,       alsa_supports,
                                alsa_open, alsa_play, nullptr, alsa_close};

}  // namespace

const WaveDevice* platform_wave_alsa(void) {
  snd_lib_error_set_handler(alsa_quiet);
  return &ALSA_DEVICE;
}

const char* platform_wave_alsa_failure(void) { return ALSA.failure; }

// The player's buffer cycle, run without a sound device: from the start of playback to the
// natural end of the message, every buffer the player hands the device, in order, made by the same
// refill, decoder and effect stage as the player's.
//
// Order: two silent buffers queued at start (not run through the effect stage), the priming
// buffer (silent, but run through the effect stage), then one buffer per later block. The buffer
// refilled after the payload ran out is never played; the cycle ends there, or, when asked for a
// tail, goes on with silent buffers through the effect stage so that an echo can ring out.
#pragma once
#include <stdint.h>

#include <functional>

#include "tool/carrier.h"

enum class BufferKind { START_SILENCE, PRIMING, BLOCK, TAIL };

struct PlayEffect {
  int8_t code;   // effect code; 0 plays dry
  int8_t level;  // effect level, the weight of the effect sample out of 128
};

// Called for each buffer; return false to stop (only honoured for TAIL buffers).
using BufferSink = std::function<bool(const int16_t* samples, BufferKind kind)>;

// Runs the cycle over carrier; tail_buffers limits the silent buffers after the end (0: none).
void playthrough_run(Carrier& carrier, PlayEffect effect, int tail_buffers, const BufferSink& sink);

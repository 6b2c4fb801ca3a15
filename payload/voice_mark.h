// SPDX-License-Identifier: MIT
// The voice mark: what `quira make` writes in payload header bytes 0-9, which the player ignores.
//
//   bytes 0-3  'Q' 'V' 'M' 0x01   marker and layout version
//   bytes 4-7  voice samples      32-bit little-endian: the voice's length at 16 kHz, counted from
//                                 the first sample of block 1
//   bytes 8-9  check              CRC-16/CCITT-FALSE of bytes 0-7, little-endian
//
// Carriers made elsewhere hold arbitrary bytes there; a mark is believed only when marker and
// check both match, so a chance match takes 48 bits falling right. Bytes 10 and 11 (effect code,
// level byte) are outside the check, so changing the effect keeps the mark.
#pragma once
#include <stdint.h>

#include "payload/payload.h"

// Writes the mark for a voice of the given length into header bytes 0-9.
void voice_mark_write(PayloadHeader* header, uint32_t voice_samples);

// 1 with the voice length in *voice_samples when the header carries a mark, else 0.
int voice_mark_read(const PayloadHeader* header, uint32_t* voice_samples);

// SPDX-License-Identifier: MIT
// What a recording's first bytes say about it, read without decoding anything: the sampling
// rate a compressed file decodes at (FLAC, WAV, Ogg Vorbis and Opus, MP4, MPEG audio), and the
// layout of a WAV file the maker's worker reads itself. Plain functions over bytes: no DOM, so
// the page and its workers both use them.

// The sampling rate a compressed file decodes at, or 0 when its first bytes do not tell, so
// that the browser can be asked for its samples unresampled (the maker resamples them, as
// `quira make` does).
export function fileRate(bytes) {
  const b = bytes;
  const text = (at, n) => String.fromCharCode(...b.subarray(at, at + n));
  const u32 = (at) => (b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24) >>> 0;
  const be32 = (at) => (b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]) >>> 0;
  if (text(0, 4) === "fLaC" && b.length > 21) return (b[18] << 12) | (b[19] << 4) | (b[20] >> 4);
  if (text(0, 4) === "RIFF" && text(8, 4) === "WAVE") {
    for (let at = 12; at + 16 <= b.length; at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
      if (text(at, 4) === "fmt ") return u32(at + 12);
    }
  }
  if (text(0, 4) === "OggS") {
    const packet = 27 + b[26];
    if (text(packet, 7) === "\x01vorbis") return u32(packet + 12);
    if (text(packet, 8) === "OpusHead") return 48000;
  }
  if (text(4, 4) === "ftyp") {
    // MP4: the time scale of the first track's media header, which is its sampling rate.
    for (let at = 8; at + 28 < b.length; at++) {
      if (b[at] === 0x6D && b[at + 1] === 0x64 && b[at + 2] === 0x68 && b[at + 3] === 0x64) {  // "mdhd"
        return be32(at + (b[at + 4] === 1 ? 24 : 16));
      }
    }
    return 0;
  }
  // MPEG audio: after any ID3v2 tag, the first frame header's version and rate index.
  let at = 0;
  if (text(0, 3) === "ID3") at = 10 + ((b[6] & 127) << 21 | (b[7] & 127) << 14 | (b[8] & 127) << 7 | (b[9] & 127));
  for (const end = Math.min(b.length - 4, at + 4096); at < end; at++) {
    if (b[at] !== 0xFF || (b[at + 1] & 0xE0) !== 0xE0) continue;
    const version = (b[at + 1] >> 3) & 3;   // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const index = (b[at + 2] >> 2) & 3;
    if (version === 1 || index === 3) continue;
    return [44100, 48000, 32000][index] / (version === 3 ? 1 : version === 2 ? 2 : 4);
  }
  return 0;
}

// The layout of a WAV file from its first bytes: {rate, channels, bits, float, dataAt, frames,
// frameBytes}, or null when it is none that the maker's worker reads (8-, 16- and 24-bit PCM,
// 32-bit float; the browser decodes the others).
export function wavFormat(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const tag = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
  if (bytes.length < 12 || tag(0) !== "RIFF" || tag(8) !== "WAVE") return null;
  let format = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = tag(at);
    const size = view.getUint32(at + 4, true);
    if (id === "fmt " && at + 8 + Math.min(size, 40) <= bytes.length && size >= 16) {
      let code = view.getUint16(at + 8, true);
      // WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes are the format code.
      if (code === 0xFFFE && size >= 40) code = view.getUint16(at + 32, true);
      format = {code, channels: view.getUint16(at + 10, true), rate: view.getUint32(at + 12, true),
                bits: view.getUint16(at + 22, true)};
    } else if (id === "data" && format) {
      const {code, channels, rate, bits} = format;
      const ok = channels > 0 && rate > 0 && ((code === 1 && [8, 16, 24].includes(bits)) || (code === 3 && bits === 32));
      if (!ok) return null;
      const frameBytes = channels * bits / 8;
      return {rate, channels, bits, float: code === 3, dataAt: at + 8, frames: Math.floor(size / frameBytes), frameBytes};
    }
    at += 8 + size + (size & 1);
  }
  return null;
}

// Samples of bytes (whole frames of a WAV file of that format) as floats, as libsndfile reads
// them for the tool: 8-bit unsigned, 16- and 24-bit signed over 2^7, 2^15, 2^23; float as it is.
export function wavSamples(format, bytes) {
  const n = bytes.length / (format.bits / 8);
  const out = new Float32Array(n);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (format.float) for (let i = 0; i < n; i++) out[i] = view.getFloat32(4 * i, true);
  else if (format.bits === 16) for (let i = 0; i < n; i++) out[i] = view.getInt16(2 * i, true) / 32768;
  else if (format.bits === 8) for (let i = 0; i < n; i++) out[i] = (bytes[i] - 128) / 128;
  else for (let i = 0; i < n; i++) out[i] = (bytes[3 * i] | bytes[3 * i + 1] << 8 | (bytes[3 * i + 2] << 24 >> 8)) / 8388608;
  return out;
}

// SPDX-License-Identifier: MIT
// Recording from the microphone: the voice as the microphone gives it (no echo cancelling, noise
// suppression or gain control: the maker gets what `quira make` would from a file), handed on
// in pieces of interleaved float samples as it comes.
//
// Chromium gives a track's samples to a MediaStreamTrackProcessor as they come, and queues them
// until they are read. Through Web Audio they cross to the output's clock, and when the machine
// is busy that crossing drops or repeats 10 ms pieces: several in ten seconds of speech with the
// cores loaded, none this way. So the processor when there is one, and the capture worklet
// (capture-worklet.js) where there is not.
import {addWorklet} from "./shared.js";

export const CHUNK_FRAMES = 4096;   // the pieces' length in sample frames

// The microphone's stream; throws the browser's error (its name says why) when there is none.
export async function openMicrophone() {
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) throw Object.assign(new Error(), {name: "NotSupportedError"});
  return navigator.mediaDevices.getUserMedia({audio: {echoCancellation: false, noiseSuppression: false, autoGainControl: false}});
}

// Adds the capture worklet to an audio context, once.
export async function addCaptureWorklet(context) {
  await addWorklet(context, "quira-capture");
}

// Captures stream: each piece to onPiece as {samples, channels, rate, peak} (peak: the loudest
// sample in it), then {end: true} once the stream has ended. context() gives the audio context
// the worklet runs in, when it is needed. Returns {finish(): ends the capture once the stream's
// tracks are stopped, close(): lets go of what it used}.
export async function capture(stream, context, onPiece) {
  if (typeof MediaStreamTrackProcessor === "function") {
    readTrack(stream, onPiece);
    return {finish: () => {}, close: () => {}};
  }
  const ctx = await context();
  const input = ctx.createMediaStreamSource(stream);
  const node = new AudioWorkletNode(ctx, "quira-capture", {numberOfInputs: 1, numberOfOutputs: 1,
    outputChannelCount: [1], processorOptions: {chunkFrames: CHUNK_FRAMES}});
  node.port.onmessage = (event) => onPiece(event.data);
  input.connect(node);
  node.connect(ctx.destination);  // silent: it only keeps the capture running
  return {
    finish: () => node.port.postMessage("stop"),
    close: () => {
      input.disconnect();
      node.disconnect();
    },
  };
}

async function readTrack(stream, onPiece) {
  const track = stream.getAudioTracks()[0];
  // Frames queued while the page is busy: up to ten seconds of 10 ms ones, not the default 10.
  const reader = new MediaStreamTrackProcessor({track, maxBufferSize: 1000}).readable.getReader();
  let channels = 0, rate = 0, buffer = null, plane = null, at = 0, peak = 0;
  const flush = () => {
    if (at) onPiece({samples: buffer.slice(0, at * channels), channels, rate, peak});
    at = 0;
    peak = 0;
  };
  for (;;) {
    let read;
    try {
      read = await reader.read();
    } catch (e) {
      break;
    }
    if (read.done) break;
    const frame = read.value;
    const n = frame.numberOfFrames;
    if (!channels) {
      channels = frame.numberOfChannels;
      rate = frame.sampleRate;
      buffer = new Float32Array(CHUNK_FRAMES * channels);
    }
    if (!plane || plane.length < n) plane = new Float32Array(n);
    // A frame is copied out in pieces that fit what is left of the buffer.
    for (let done = 0; done < n;) {
      const take = Math.min(n - done, CHUNK_FRAMES - at);
      for (let c = 0; c < channels; c++) {
        frame.copyTo(plane, {planeIndex: Math.min(c, frame.numberOfChannels - 1), frameOffset: done, frameCount: take, format: "f32-planar"});
        for (let i = 0; i < take; i++) {
          const v = plane[i];
          buffer[(at + i) * channels + c] = v;
          if (Math.abs(v) > peak) peak = Math.abs(v);
        }
      }
      done += take;
      at += take;
      if (at === CHUNK_FRAMES) flush();
    }
    frame.close();
  }
  flush();
  onPiece({end: true});
}

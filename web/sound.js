// SPDX-License-Identifier: MIT
// The player's sound output: an audio context at 16 kHz where the browser allows it, running the
// output (output.js) in an audio worklet, or on the page where the browser has no worklet for
// it. What the output reports (positions, and buffers when tapped) goes to onMessage.
import {QUIRA_SAMPLE_RATE} from "./quira-h.js";
import {addWorklet} from "./shared.js";
import {QuiraOutput} from "./output.js";
import {observe} from "./testing.js";

// {context, connect(port): hands the output a decoding worker's port, tap(on)}.
export async function openSound(onMessage) {
  let context;
  try {
    context = new AudioContext({sampleRate: QUIRA_SAMPLE_RATE, latencyHint: "playback"});
  } catch (e) {
    context = new AudioContext({latencyHint: "playback"});  // the browser resamples
  }
  let connect = null;
  let tap = null;
  let kind = "script processor";
  if (context.audioWorklet) {
    try {
      await addWorklet(context, "quira-output");
      const node = new AudioWorkletNode(context, "quira-output",
        {numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1]});
      node.port.onmessage = (event) => onMessage(event.data);
      node.connect(context.destination);
      connect = (port) => node.port.postMessage({op: "decoder", port}, [port]);
      kind = "worklet";
      tap = (on) => node.port.postMessage({op: "tap", on});
    } catch (e) {
      console.warn(`No audio worklet (${e}): the sound output runs on the page`);
      connect = null;
    }
  }
  if (!connect) {
    // No audio worklet (a page served over plain http): the same output on the page.
    const output = new QuiraOutput(context.sampleRate, onMessage);
    const node = context.createScriptProcessor(2048, 1, 1);
    node.onaudioprocess = (event) => output.render(event.outputBuffer.getChannelData(0));
    node.connect(context.destination);
    connect = (port) => output.connect(port);
    tap = (on) => { output.tap = on; };
  }
  observe("audio", {rate: context.sampleRate, output: kind, tap});
  return {context, connect, tap};
}

// Resumes the context if the browser lets it run now; says whether it runs.
export async function soundRuns(sound) {
  const context = sound.context;
  if (context.state !== "running") {
    await Promise.race([context.resume(), new Promise((done) => setTimeout(done, 200))]);
  }
  return context.state === "running";
}

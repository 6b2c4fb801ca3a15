// SPDX-License-Identifier: MIT
// The sound output's worklet script: the page's player talks to it over its node's port (the
// decoding worker's port, and whether to report every buffer to the page), and it renders the
// output (output.js) on the audio thread.
import {QuiraOutput} from "./output.js";

registerProcessor("quira-output", class extends AudioWorkletProcessor {
  constructor() {
    super();
    this.output = new QuiraOutput(sampleRate, (m) => this.port.postMessage(m));
    this.port.onmessage = (event) => {
      const m = event.data;
      if (m.op === "decoder") this.output.connect(m.port);
      else if (m.op === "tap") this.output.tap = m.on;
    };
  }

  process(inputs, outputs) {
    const channels = outputs[0];
    this.output.render(channels[0]);
    for (let c = 1; c < channels.length; c++) channels[c].set(channels[0]);
    return true;
  }
});

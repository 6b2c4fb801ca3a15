// SPDX-License-Identifier: MIT
// The sound output's worklet script: the page's player talks to it over its node's port (the
// decoding worker's port, and whether to report every buffer to the page), and it renders the
// output (output.js) on the audio thread. A second processor taps the destination for the tests.
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

// For the browser tests only (the page's #test): what reaches the audio destination, passed
// through unchanged and reported to the page in pieces of PIECE samples.
const PIECE = 4096;
registerProcessor("quira-destination-tap", class extends AudioWorkletProcessor {
  constructor() {
    super();
    this.piece = new Float32Array(PIECE);
    this.at = 0;
  }

  process(inputs, outputs) {
    const input = inputs[0][0];
    const output = outputs[0][0];
    for (let i = 0; i < output.length; i++) {
      const v = input ? input[i] : 0;
      output[i] = v;
      this.piece[this.at++] = v;
      if (this.at === PIECE) {
        this.port.postMessage(this.piece, [this.piece.buffer]);
        this.piece = new Float32Array(PIECE);
        this.at = 0;
      }
    }
    return true;
  }
});

// SPDX-License-Identifier: MIT
// The microphone's capture worklet, for browsers that cannot read a track's samples as they
// come (capture.js): every piece of input, its channels interleaved, to the page, in pieces of
// the processor option chunkFrames frames, each with the loudest sample in it. Told "stop", it
// sends what it holds and then {end: true}.

registerProcessor("quira-capture", class extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.chunkFrames = options.processorOptions.chunkFrames;
    this.channels = 0;
    this.buffer = null;
    this.at = 0;
    this.peak = 0;
    this.on = true;
    this.port.onmessage = (event) => { if (event.data === "stop") this.flush(false); };
  }

  flush(more) {
    if (this.buffer && this.at) {
      const samples = this.buffer.slice(0, this.at * this.channels);
      this.port.postMessage({samples, channels: this.channels, rate: sampleRate, peak: this.peak}, [samples.buffer]);
    }
    this.at = 0;
    this.peak = 0;
    if (!more) {
      this.port.postMessage({end: true});
      this.on = false;
    }
  }

  process(inputs) {
    const input = inputs[0];
    if (!this.on) return false;
    if (!input || input.length === 0) return true;
    if (!this.channels) {
      this.channels = input.length;
      this.buffer = new Float32Array(this.chunkFrames * this.channels);
    }
    const n = input[0].length;
    for (let i = 0; i < n; i++) {
      for (let c = 0; c < this.channels; c++) {
        const v = input[Math.min(c, input.length - 1)][i];
        this.buffer[(this.at * this.channels) + c] = v;
        if (Math.abs(v) > this.peak) this.peak = Math.abs(v);
      }
      if (++this.at === this.chunkFrames) this.flush(true);
    }
    return true;
  }
});

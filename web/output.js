// SPDX-License-Identifier: MIT
// The sound output: plays the buffers the player hands its device back to back, as a sound card
// plays the Windows player's two buffers. It runs in an AudioWorklet (the audio thread: no timer
// and no busy page can hold it up, in a background tab too) or, in a browser without one, in a
// ScriptProcessorNode on the page.
//
// The decoding worker talks to it over its own message port: it sends each buffer ({op:
// "buffer", gen, kind, block, samples}), and the output answers {op: "done", gen} when a buffer
// has played, the device's buffer-done notification, upon which the worker refills it. Two
// buffers are queued at a start and each notification brings one more, so the output never
// holds more than the Windows player queues and a stop finds the player where the Windows player
// would be. Every start and stop begins a new generation; what belongs to an older one is
// dropped, as a reset device drops its buffers.
//
// output-worklet.js runs it in the worklet; the page runs it itself where there is none.
//
// The samples are 16 kHz. At that rate every output sample is a buffer's sample divided by
// 32,768, exactly; at another rate (a browser that refuses 16 kHz) they are interpolated
// linearly.
import {QUIRA_SAMPLE_RATE} from "./quira-h.js";

export class QuiraOutput {
  constructor(rate, post) {
    this.step = QUIRA_SAMPLE_RATE / rate;   // buffer samples per output sample
    this.post = post;           // messages to the page
    this.decoder = null;        // the worker's port
    this.gen = 0;
    this.queue = [];            // buffers waiting behind the one playing
    this.current = null;        // the buffer playing
    this.at = 0;                // position in it, in (fractions of) samples
    this.active = false;        // a generation is playing: running dry is an underrun
    this.ending = false;        // no buffer follows those queued
    this.underruns = 0;         // output samples played as silence for want of a buffer
    this.last = 0;              // the last value put out, faded to 0 after a stop
    this.tap = false;           // report every buffer received to the page (the tests)
    this.sinceReport = 0;
  }

  // A new worker, for a new file: its generations count from 0 again.
  connect(port) {
    if (this.decoder) this.decoder.close();
    this.drop();
    this.gen = 0;
    this.decoder = port;
    port.onmessage = (event) => this.receive(event.data);
  }

  drop() {
    this.queue = [];
    this.current = null;
    this.at = 0;
    this.active = false;
    this.ending = false;
  }

  drained() {
    this.active = false;
    this.ending = false;
    if (this.decoder) this.decoder.postMessage({op: "drained", gen: this.gen});
  }

  receive(m) {
    if (m.gen < this.gen) return;
    if (m.gen > this.gen) {
      this.drop();
      this.gen = m.gen;
    }
    if (m.op === "buffer") {
      if (this.tap) this.post({op: "tap", gen: m.gen, kind: m.kind, sent: m.sent, samples: m.samples});
      this.queue.push(m);
      this.active = true;
      if (!this.current) this.advance();
    } else if (m.op === "stop") {
      this.drop();  // a reset device: what is queued is not played
    } else if (m.op === "end") {
      // No buffer follows: what is queued plays out, then the worker hears that it has.
      this.ending = true;
      if (!this.current) this.drained();
    }
  }

  // The buffer playing has finished: tell the worker and take the next one.
  advance() {
    if (this.current && this.decoder) this.decoder.postMessage({op: "done", gen: this.gen});
    this.current = this.queue.shift() || null;
    if (!this.current && this.ending) this.drained();
    this.report();
  }

  report() {
    this.sinceReport = 0;
    const c = this.current;
    this.post({op: "position", gen: this.gen, block: c ? c.block : -1, kind: c ? c.kind : -1,
               fraction: c ? this.at / c.samples.length : 0, underruns: this.underruns});
  }

  sample(index) {
    const c = this.current;
    if (index < c.samples.length) return c.samples[index];
    const next = this.queue[0];
    return next ? next.samples[index - c.samples.length] : c.samples[c.samples.length - 1];
  }

  // Fills out (a Float32Array) with the next output samples.
  render(out) {
    for (let i = 0; i < out.length; i++) {
      const c = this.current;
      if (!c) {
        if (this.active) this.underruns++;
        // After a stop the sound falls to silence over 4 ms rather than at once.
        this.last = Math.abs(this.last) < 1 / 64 ? 0 : this.last * 0.9;
        out[i] = this.last;
        continue;
      }
      const whole = Math.floor(this.at);
      const fraction = this.at - whole;
      let value = c.samples[whole];
      if (fraction) value += (this.sample(whole + 1) - value) * fraction;
      out[i] = this.last = value / 32768;
      this.at += this.step;
      if (this.at >= c.samples.length) {
        this.at -= c.samples.length;
        this.advance();
      }
    }
    this.sinceReport += out.length;
    if (this.sinceReport >= 2048 / this.step) this.report();  // 8 times a second
  }
}

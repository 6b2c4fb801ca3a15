// SPDX-License-Identifier: MIT
// The browser tests' one way in. With #test at the end of the page's address, what the page
// does is kept in window for the tests (tests/browser) and the benchmark (bench/web.js) to
// compare with the tool's output; without it, observe does nothing and the page keeps nothing.
//   quiraAudio      {rate, output}: the sound output's sampling rate and kind, once set up
//   quiraTapped     every buffer the sound output received: {gen, kind, samples, sent}
//   quiraUnderruns  output samples played as silence for want of a buffer
//   quiraDecoded    milliseconds the last WAV download took to decode
//   quiraMaking     the new-message view: {events: [what it did], previewed: [samples heard]}

export const testing = typeof location !== "undefined" && location.hash === "#test";

if (testing) {
  window.quiraTapped = [];
  window.quiraMaking = {events: [], previewed: []};
}

// Keeps value as what, when testing.
export function observe(what, value) {
  if (!testing) return;
  if (what === "audio") {
    // The output reports every buffer it receives from now on.
    window.quiraAudio = {rate: value.rate, output: value.output};
    value.tap(true);
  } else if (what === "tapped") {
    window.quiraTapped.push({gen: value.gen, kind: value.kind, samples: value.samples, sent: value.sent});
  } else if (what === "underruns") {
    window.quiraUnderruns = value;
  } else if (what === "decoded") {
    window.quiraDecoded = value;
  } else if (what === "making") {
    window.quiraMaking.events.push(value);
  } else if (what === "previewed") {
    window.quiraMaking.previewed.push(value.slice());
  }
}

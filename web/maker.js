// The new-message view: a recording from the microphone or a recording picked or dropped, a
// voice effect and its level chosen and heard, and the carrier made in the page by libquira's
// maker (the same pipeline as `quira make`) and saved as message.exe. It runs one worker of the
// page's worker script (maker-worker.js in it), which holds the makers; nothing leaves the page.
//
// With #test at the end of the page's address, window.quiraMaking tells the browser test what
// the view did (the recording's rate and length, the carriers made) and keeps the samples the
// previews handed to Web Audio.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);
  const testing = location.hash === "#test";
  const CHUNK_FRAMES = 4096;        // the capture's and the decoded file's pieces
  const IN_FLIGHT = 4;              // pieces of a decoded file on their way to the worker
  const PREVIEW_AHEAD = 1.5;        // seconds of preview scheduled ahead of the one heard
  const MAX_SECONDS = 12 * 3600;    // the longest recording the page makes a message of
  const RECORDING = "The recording";
  if (testing) window.quiraMaking = {events: [], previewed: []};
  const tell = (what) => { if (testing) window.quiraMaking.events.push(what); };

  // ---- The worker ------------------------------------------------------------------------

  let worker = null;
  let workerReady = null;
  const waiting = new Map();   // answers awaited, by op (and id)
  let nextId = 1;

  function startWorker() {
    if (workerReady) return workerReady;
    workerReady = (async () => {
      const url = URL.createObjectURL(new Blob([$("quira-worker").textContent], {type: "text/javascript"}));
      worker = new Worker(url);
      worker.onmessage = (event) => fromWorker(event.data);
      worker.postMessage({op: "load", module: await compiledModule()});
      const effects = await ask({op: "effects"}, "effects");
      fillEffects(effects.effects);
    })();
    return workerReady;
  }

  let compiled = null;
  function compiledModule() {
    if (!compiled) {
      const binary = atob($("quira-wasm").textContent.trim());
      const bytes = new Uint8Array(binary.length);
      for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
      compiled = WebAssembly.compile(bytes);
    }
    return compiled;
  }

  // The next answer op from the worker (with id, when the question had one).
  const answer = (op, id) => new Promise((resolve) => waiting.set(id ? `${op}:${id}` : op, resolve));

  // Sends m and waits for the answer op.
  function ask(m, op) {
    const answered = answer(op, m.id);
    worker.postMessage(m, m.samples ? [m.samples.buffer] : []);
    return answered;
  }

  function fromWorker(m) {
    const key = m.id ? `${m.op}:${m.id}` : m.op;
    if (m.op === "progress") return progress(m.frames / m.of);
    if (m.op === "failed") {
      // Whatever waited for the worker learns that it failed.
      for (const resolve of waiting.values()) resolve({status: -1, error: m.error, samples: new Int16Array(0)});
      waiting.clear();
      setBusy(false);
      progress(null);
      return refuse(`Something went wrong in the page: ${m.error}`);
    }
    const resolve = waiting.get(key);
    if (resolve) {
      waiting.delete(key);
      resolve(m);
    }
  }

  // ---- What the view shows ---------------------------------------------------------------

  let source = null;      // what the makers hold once finished: {what, seconds, sizes, ...}
  let busy = false;       // recording or making from a file

  function refuse(text) {
    $("maker-notice").textContent = text;
    $("maker-notice").hidden = false;
    $("maker-status").textContent = "";
    tell({refused: text});
  }

  function notice(text) {
    $("maker-notice").hidden = !text;
    $("maker-notice").textContent = text || "";
  }

  function progress(fraction) {
    const bar = $("maker-progress");
    if (fraction === null) {
      bar.hidden = true;
      return;
    }
    bar.hidden = false;
    if (fraction === undefined) bar.removeAttribute("value");
    else bar.value = Math.max(0, Math.min(1, fraction));
  }

  function seconds(t) {
    if (t < 59.95) return `${t.toFixed(1)} s`;
    const s = Math.round(t);
    return `${Math.floor(s / 60)} min ${String(s % 60).padStart(2, "0")} s`;
  }

  const number = (n) => Number(n).toLocaleString("en");

  function clockText(t) {
    const s = Math.floor(t);
    const two = (n) => String(n).padStart(2, "0");
    return `${Math.floor(s / 3600)}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}`;
  }

  // Enables the choices and the saving once a recording is held.
  function ready(yes) {
    $("maker-voice").disabled = !yes;
    $("maker-save").disabled = !yes;
    if (!yes) $("maker-made").textContent = "";
    sizeNote();
  }

  function setBusy(yes) {
    busy = yes;
    $("record").disabled = yes;
    $("pick-recording").disabled = yes;
  }

  // ---- Effects ---------------------------------------------------------------------------

  let effects = [];

  function fillEffects(list) {
    effects = list;
    const select = $("maker-effect");
    select.replaceChildren();
    const none = document.createElement("option");
    none.value = "0";
    none.textContent = "none: the voice as recorded";
    select.append(none);
    const families = new Map();
    for (const e of list) {
      if (!families.has(e.family)) {
        const group = document.createElement("optgroup");
        group.label = e.family.replace("-", " ");
        families.set(e.family, group);
        select.append(group);
      }
      const option = document.createElement("option");
      option.value = String(e.code);
      option.textContent = `${e.name}: ${e.description}`;
      families.get(e.family).append(option);
    }
    select.value = "0";
    choiceChanged();
  }

  // The choice made: {code, level, kbps}. Without an effect the level is 0, as `quira make`.
  function choice() {
    const code = Number($("maker-effect").value);
    return {code, level: code ? Number($("maker-level").value) : 0, kbps: Number($("maker-bitrate").value)};
  }

  function choiceChanged() {
    const c = choice();
    const e = effects.find((x) => x.code === c.code);
    $("maker-level").disabled = !e;
    $("maker-level-value").textContent = e ? String(c.level) : "–";
    $("maker-effect-about").textContent = e
      ? `${e.name}, ${e.family.replace("-", " ")}: ${e.description}. Level ${c.level} of 128` +
        (c.level < 0 ? ", subtracted from the voice." : c.level === 0 ? ": the dry voice only." : ".")
      : "The voice as it was recorded.";
    previewStop();
    sizeNote();
  }

  function sizeNote() {
    if (!source) {
      $("maker-size").textContent = "";
      return;
    }
    const size = source.sizes[choice().kbps];
    $("maker-size").textContent = `The message will be ${number(size)} bytes: ${seconds(source.seconds)} of voice ` +
      `behind the ${number(163840)}-byte player.`;
  }

  $("maker-effect").addEventListener("change", choiceChanged);
  $("maker-level").addEventListener("input", choiceChanged);
  $("maker-bitrate").addEventListener("change", choiceChanged);

  // ---- Finishing a recording ---------------------------------------------------------------

  // What the makers found when the recording ended: held, or refused with one sentence.
  function finished(m, what) {
    setBusy(false);
    progress(null);
    if (m.status || m.silent) {
      source = null;
      ready(false);
      if (m.status === 8 || m.tooLong) return refuse(`${what} is too long: this page makes messages of up to 12 hours of voice.`);
      if (m.status === 7 || (!m.status && m.frames === 0)) return refuse(`${what} holds no sound at all.`);
      if (m.silent) {
        return refuse(`${what} is silent: there is no voice in it to send.` +
          (what === RECORDING ? " Check that the microphone is on and not muted, and record again." : ""));
      }
      return refuse(`${what} could not be made into a message: ${m.error}.`);
    }
    source = {what, seconds: m.voiceSamples / 16000, sizes: m.sizes, rate: m.rate, frames: m.frames};
    notice(null);
    $("maker-status").textContent = `${what}: ${seconds(source.seconds)} of voice (recorded at ${number(m.rate)} Hz). ` +
      "Choose its voice, listen to it, and save it.";
    tell({finished: {what, rate: m.rate, frames: m.frames, voiceSamples: m.voiceSamples, peak: m.peak}});
    ready(true);
  }

  function beginSource() {
    previewStop();
    source = null;
    ready(false);
    notice(null);
    $("maker-status").textContent = "";
  }

  // ---- Recording from the microphone ------------------------------------------------------

  let context = null;      // the view's audio context: previews, and capture by the worklet
  let recording = null;    // {stream, finish, close, frames, rate, channels, peak, stopping}

  // Chromium gives a track's samples to a MediaStreamTrackProcessor as they come, and queues
  // them until they are read. Through Web Audio they cross to the output's clock, and when the
  // machine is busy that crossing drops or repeats 10 ms pieces: several in ten seconds of
  // speech with the cores loaded, none this way. So the processor when there is one, and the
  // worklet where there is not.
  async function readTrack(rec) {
    const track = rec.stream.getAudioTracks()[0];
    // Frames queued while the page is busy: up to ten seconds of 10 ms ones, not the default 10.
    const reader = new MediaStreamTrackProcessor({track, maxBufferSize: 1000}).readable.getReader();
    let channels = 0, rate = 0, buffer = null, plane = null, at = 0, peak = 0;
    const flush = () => {
      if (at) captured(rec, {samples: buffer.slice(0, at * channels), channels, rate, peak});
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
    captured(rec, {end: true});
  }

  // The capture worklet: every piece of input, its channels interleaved, to the page.
  function captureWorklet(chunkFrames) {
    registerProcessor("quira-capture", class extends AudioWorkletProcessor {
      constructor() {
        super();
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
          this.buffer = new Float32Array(chunkFrames * this.channels);
        }
        const n = input[0].length;
        for (let i = 0; i < n; i++) {
          for (let c = 0; c < this.channels; c++) {
            const v = input[Math.min(c, input.length - 1)][i];
            this.buffer[(this.at * this.channels) + c] = v;
            if (Math.abs(v) > this.peak) this.peak = Math.abs(v);
          }
          if (++this.at === chunkFrames) this.flush(true);
        }
        return true;
      }
    });
  }

  async function audioContext() {
    if (!context) {
      context = new AudioContext({latencyHint: "interactive"});
      const code = `(${captureWorklet.toString()})(${CHUNK_FRAMES});`;
      try {
        await context.audioWorklet.addModule(URL.createObjectURL(new Blob([code], {type: "text/javascript"})));
      } catch (e) {
        // A page opened from disk has no origin, and its blobs are foreign to its worklet.
        await context.audioWorklet.addModule("data:text/javascript," + encodeURIComponent(code));
      }
    }
    if (context.state !== "running") await context.resume();
    return context;
  }

  async function record() {
    if (busy) return;
    beginSource();
    setBusy(true);
    let stream;
    try {
      if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) throw Object.assign(new Error(), {name: "NotSupportedError"});
      // The voice as the microphone gives it: the maker gets what `quira make` would from a file.
      stream = await navigator.mediaDevices.getUserMedia({audio: {echoCancellation: false, noiseSuppression: false, autoGainControl: false}});
    } catch (e) {
      setBusy(false);
      if (e.name === "NotAllowedError" || e.name === "SecurityError") {
        return refuse("The microphone was refused: allow this page to use it (in the address bar or the site's settings) and press Record again.");
      }
      if (e.name === "NotFoundError" || e.name === "OverconstrainedError") return refuse("There is no microphone to record from.");
      if (e.name === "NotSupportedError") return refuse("This browser does not let the page record sound; choose a recording instead.");
      return refuse(`The microphone could not be opened (${e.name}): it may be in use by another program.`);
    }
    await startWorker();
    const rec = {stream, finish: () => {}, close: () => {}, frames: 0, rate: 0, channels: 0, peak: 0, stopping: false};
    recording = rec;
    if (typeof MediaStreamTrackProcessor === "function") {
      readTrack(rec);
    } else {
      const ctx = await audioContext();
      const input = ctx.createMediaStreamSource(stream);
      const capture = new AudioWorkletNode(ctx, "quira-capture", {numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [1]});
      capture.port.onmessage = (event) => captured(rec, event.data);
      input.connect(capture);
      capture.connect(ctx.destination);  // silent: it only keeps the capture running
      rec.finish = () => capture.port.postMessage("stop");
      rec.close = () => {
        input.disconnect();
        capture.disconnect();
      };
    }
    $("record").hidden = true;
    $("record-stop").hidden = false;
    $("record-stop").disabled = false;
    $("record-stop").focus();
    $("recording").hidden = false;
    meter();
  }

  let started = null;   // the makers' start, awaited before the first samples

  function captured(rec, m) {
    if (m.end) return recordEnded(rec);
    if (!rec.channels) {
      rec.channels = m.channels;
      rec.rate = m.rate;
      tell({recording: {rate: rec.rate, channels: rec.channels}});
      started = ask({op: "maker-start", rate: rec.rate, channels: m.channels}, "started");
    }
    rec.frames += m.samples.length / rec.channels;
    rec.peak = Math.max(rec.peak * 0.8, m.peak);
    worker.postMessage({op: "maker-write", samples: m.samples}, [m.samples.buffer]);
    if (rec.frames / rec.rate >= MAX_SECONDS) {
      rec.full = true;
      stopRecording();
    }
  }

  function meter() {
    const rec = recording;
    if (!rec || rec.stopping) return;
    const t = rec.rate ? rec.frames / rec.rate : 0;
    $("record-time").textContent = clockText(t);
    const db = rec.peak > 0 ? 20 * Math.log10(rec.peak) : -100;
    $("record-level").value = Math.max(0, (db + 60) / 60);
    $("record-level").setAttribute("aria-valuetext", `${Math.round(db)} dB`);
    requestAnimationFrame(meter);
  }

  function stopRecording() {
    const rec = recording;
    if (!rec || rec.stopping) return;
    rec.stopping = true;
    $("record-stop").disabled = true;
    $("maker-status").textContent = "Finishing the recording…";
    progress(undefined);
    // The processor's stream ends with its track; the worklet is told, and sends what it holds.
    rec.finish();
    for (const track of rec.stream.getTracks()) track.stop();
  }

  async function recordEnded(rec) {
    rec.close();
    recording = null;
    $("record").hidden = false;
    $("record-stop").hidden = true;
    $("recording").hidden = true;
    $("record").focus();
    if (!rec.channels) {
      return finished({frames: 0, status: 7}, RECORDING);
    }
    const start = await started;
    if (start.status) return finished(start, RECORDING);
    finished(await ask({op: "maker-finish"}, "finished"), RECORDING);
    if (rec.full && source) notice("The recording stopped at 12 hours, the longest message this page makes.");
  }

  $("record").addEventListener("click", record);
  $("record-stop").addEventListener("click", stopRecording);

  // ---- A recording picked or dropped -------------------------------------------------------

  // The sampling rate a compressed file decodes at, read from its first bytes, so that the
  // browser hands over its samples unresampled (the maker resamples them, as `quira make`).
  function fileRate(bytes) {
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

  async function pickRecording(file) {
    if (!file || busy) return;
    beginSource();
    setBusy(true);
    const what = `“${file.name}”`;
    $("maker-status").textContent = `Reading ${what}…`;
    progress(0);
    await startWorker();
    // WAV files are read by the worker itself, in slices, converted as `quira make` converts
    // them; it says so at once, or that the browser should decode this one.
    const format = await ask({op: "maker-wav", file}, "wav-format");
    if (format.format) {
      $("maker-status").textContent = `Making ${what} into a message…`;
      return finished(await answer("finished"), what);
    }
    decodeAndMake(file, what);
  }

  async function decodeAndMake(file, what) {
    let buffer;
    try {
      $("maker-status").textContent = `Decoding ${what}…`;
      progress(undefined);
      const bytes = await file.arrayBuffer();
      const rate = fileRate(new Uint8Array(bytes, 0, Math.min(bytes.byteLength, 1 << 20)));
      const decoding = new OfflineAudioContext(1, 1, rate >= 3000 && rate <= 768000 ? rate : 48000);
      buffer = await decoding.decodeAudioData(bytes);
    } catch (e) {
      setBusy(false);
      progress(null);
      return refuse(`${what} is not a recording this browser can decode: pick a WAV, FLAC, Ogg, MP3 or M4A file.`);
    }
    if (buffer.duration > MAX_SECONDS) return finished({status: 8}, what);
    const channels = buffer.numberOfChannels;
    const start = await ask({op: "maker-start", rate: buffer.sampleRate, channels}, "started");
    if (start.status) return finished(start, what);
    $("maker-status").textContent = `Making ${what} into a message…`;
    const data = [];
    for (let c = 0; c < channels; c++) data.push(buffer.getChannelData(c));
    const pending = [];
    for (let at = 0; at < buffer.length; at += CHUNK_FRAMES) {
      const n = Math.min(CHUNK_FRAMES, buffer.length - at);
      const samples = new Float32Array(n * channels);
      for (let c = 0; c < channels; c++) {
        const d = data[c];
        for (let i = 0; i < n; i++) samples[i * channels + c] = d[at + i];
      }
      pending.push(ask({op: "maker-write", samples, id: nextId++}, "written"));
      if (pending.length >= IN_FLIGHT) {
        const written = await pending.shift();
        if (written.status) break;
        progress(written.frames / buffer.length);
      }
    }
    await Promise.all(pending);
    buffer = null;
    finished(await ask({op: "maker-finish"}, "finished"), what);
  }

  $("pick-recording").addEventListener("click", () => $("recording-file").click());
  $("recording-file").addEventListener("change", () => {
    pickRecording($("recording-file").files[0]);
    $("recording-file").value = "";
  });
  // A recording dropped on this view is this view's (a message dropped elsewhere, the player's).
  const view = $("maker");
  view.addEventListener("dragover", (event) => {
    event.preventDefault();
    event.stopPropagation();
    event.dataTransfer.dropEffect = "copy";
    view.classList.add("over");
  });
  view.addEventListener("dragleave", (event) => { if (!view.contains(event.relatedTarget)) view.classList.remove("over"); });
  view.addEventListener("drop", (event) => {
    event.preventDefault();
    event.stopPropagation();
    view.classList.remove("over");
    pickRecording(event.dataTransfer.files[0]);
  });

  // ---- Listening: the message as heard from the carrier the makers hold --------------------

  let preview = null;   // {button, next, nodes, id, ended}

  async function previewStart(button, effect) {
    const was = preview && preview.button;
    previewStop();
    if (was === button || !source) return;
    const c = choice();
    const ctx = await audioContext();
    const id = nextId++;
    const opened = await ask({op: "preview-open", kbps: c.kbps, code: effect ? c.code : 0, level: effect ? c.level : 0, id}, "preview-opened");
    if (opened.status) return refuse(`The message could not be played: ${opened.error}`);
    preview = {button, id, next: ctx.currentTime + 0.1, nodes: [], ended: false, asking: false};
    button.textContent = "Stop";
    button.setAttribute("aria-pressed", "true");
    tell({preview: {effect: effect ? c.code : 0}});
    previewFill();
  }

  async function previewFill() {
    const p = preview;
    if (!p || p.asking || p.ended) return;
    while (preview === p && !p.ended && p.next - context.currentTime < PREVIEW_AHEAD) {
      p.asking = true;
      const m = await ask({op: "preview-read", id: p.id}, "preview-samples");
      p.asking = false;
      if (preview !== p) return;
      if (m.samples.length === 0) {
        p.ended = true;
        const left = Math.max(0, p.next - context.currentTime);
        p.timer = setTimeout(() => { if (preview === p) previewStop(); }, left * 1000 + 50);
        return;
      }
      if (testing) window.quiraMaking.previewed.push(m.samples.slice());
      const audio = context.createBuffer(1, m.samples.length, 16000);
      const out = audio.getChannelData(0);
      for (let i = 0; i < out.length; i++) out[i] = m.samples[i] / 32768;
      const node = context.createBufferSource();
      node.buffer = audio;
      node.connect(context.destination);
      node.start(Math.max(p.next, context.currentTime));
      p.next = Math.max(p.next, context.currentTime) + audio.duration;
      p.nodes.push(node);
      node.onended = () => {
        p.nodes.splice(p.nodes.indexOf(node), 1);
        previewFill();
      };
    }
  }

  function previewStop() {
    const p = preview;
    if (!p) return;
    preview = null;
    clearTimeout(p.timer);
    for (const node of p.nodes) node.stop();
    p.button.textContent = p.button.dataset.label;
    p.button.setAttribute("aria-pressed", "false");
    if (worker) worker.postMessage({op: "preview-close"});
  }

  for (const [id, effect] of [["maker-listen", false], ["maker-preview", true]]) {
    const button = $(id);
    button.dataset.label = button.textContent;
    button.addEventListener("click", () => previewStart(button, effect));
  }

  // ---- Making and saving -----------------------------------------------------------------

  // The file name asked for, as a plain name ending in .exe.
  function fileName() {
    let name = $("maker-name").value.trim().replace(/[\\/:*?"<>|\u0000-\u001f]/g, "_") || "message.exe";
    if (!/\.exe$/i.test(name)) name += ".exe";
    return name;
  }

  async function make() {
    if (!source || busy) return;
    previewStop();
    const c = choice();
    const name = fileName();
    $("maker-make").disabled = true;
    $("maker-made").textContent = `Making ${name}…`;
    progress(undefined);
    const made = await ask({op: "maker-carrier", kbps: c.kbps, code: c.code, level: c.level}, "carrier");
    progress(null);
    $("maker-make").disabled = false;
    if (!made.blob) return;  // the worker failed, and said so
    const link = document.createElement("a");
    link.href = URL.createObjectURL(made.blob);
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    const e = effects.find((x) => x.code === c.code);
    $("maker-made").textContent = `Saved “${name}”: ${number(made.blob.size)} bytes, ${seconds(source.seconds)} of voice, ` +
      `${e ? `${e.name} at level ${c.level}` : "no effect"}, ${c.kbps} kbit/s. Anyone on Windows can start it; ` +
      "anyone else can open it on this page.";
    tell({made: {name, bytes: made.blob.size, ...c}});
  }

  $("maker-form").addEventListener("submit", (event) => {
    event.preventDefault();
    make();
  });

  ready(false);
  // The module and the list of effects, loaded once the person comes to this view: a page opened
  // only to play a message never starts the maker.
  for (const event of ["pointerenter", "focusin", "dragenter"]) view.addEventListener(event, startWorker, {once: true});
})();

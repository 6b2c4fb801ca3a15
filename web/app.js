// The page: opens a carrier picked or dropped, tells what it holds, and plays it as the Windows
// player does, through two workers that run the library (worker.js) and the sound output
// (output.js, QuiraOutput).
//
// With #test at the end of its address the page keeps every buffer the sound output receives in
// window.quiraTapped, for the browser test to compare with what the tool exports.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);
  const BUFFER_SAMPLES = 5760;
  const BINS = 1440;
  const KIND_BLOCK = 2;
  const testing = location.hash === "#test";
  if (testing) window.quiraTapped = [];

  const workerUrl = URL.createObjectURL(new Blob([$("quira-worker").textContent], {type: "text/javascript"}));
  const outputUrl = URL.createObjectURL(new Blob([$("quira-output").textContent], {type: "text/javascript"}));
  const outputData = "data:text/javascript," + encodeURIComponent($("quira-output").textContent);
  let compiled = null;  // the module, compiled once for every worker

  function module() {
    if (!compiled) {
      const base64 = $("quira-wasm").textContent.trim();
      const bytes = new Uint8Array(base64.length * 3 / 4 - (base64.match(/=*$/)[0].length));
      const binary = atob(base64);
      for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
      compiled = WebAssembly.compile(bytes);
    }
    return compiled;
  }

  // ---- What is open ----------------------------------------------------------------------

  let player = null;      // the two workers of the open file
  let reader = null;
  let file = null;
  let header = null;      // the carrier's header facts, survey and effects as the workers tell
  let survey = null;
  let blocks = 0;         // the carrier's blocks, as the first worker to open it tells
  let effects = [];
  let choice = null;      // the effect previewed: null for the message's own, else {code, level_byte}
  let playing = false;
  let playingGen = 0;     // the player's generation: one per start and stop
  let heldPosition = 0;   // the player's block counter
  let heard = null;       // the block heard now and how far into it, from the sound output
  let peaks = new Float32Array(BINS);
  let peaksVersion = 0;   // counts the changes to peaks, for the waveform's redrawing
  let peaksPass = 0;      // the drawing asked for last

  const stem = () => (file ? file.name.replace(/\.[^.]*$/, "") : "message") || "message";

  function notice(text) {
    $("notice").textContent = text || "";
    $("notice").hidden = !text;
  }

  // ---- Sound output ----------------------------------------------------------------------

  let audio = null;  // {context, connect(port), tap(on)}

  async function setUpAudio() {
    let context;
    try {
      context = new AudioContext({sampleRate: 16000, latencyHint: "playback"});
    } catch (e) {
      context = new AudioContext({latencyHint: "playback"});  // the browser resamples
    }
    let connect = null;
    let tap = null;
    let kind = "script processor";
    if (context.audioWorklet) {
      try {
        try {
          await context.audioWorklet.addModule(outputUrl);
        } catch (e) {
          // A page opened from disk has no origin, and its blobs are foreign to its worklet.
          await context.audioWorklet.addModule(outputData);
        }
        const node = new AudioWorkletNode(context, "quira-output",
          {numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1]});
        node.port.onmessage = (event) => fromOutput(event.data);
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
      const output = new QuiraOutput(context.sampleRate, fromOutput);
      const node = context.createScriptProcessor(2048, 1, 1);
      node.onaudioprocess = (event) => output.render(event.outputBuffer.getChannelData(0));
      node.connect(context.destination);
      connect = (port) => output.connect(port);
      tap = (on) => { output.tap = on; };
    }
    audio = {context, connect, tap};
    if (testing) {
      window.quiraAudio = {rate: context.sampleRate, output: kind};
      tap(true);
    }
  }
  // Made ready as soon as the page loads, so that a message opened starts at once: the browser
  // may take a while to open its sound device. The context waits, suspended, for a person's
  // first click or pick.
  const audioReady = setUpAudio().catch(() => { audio = null; });
  module();

  // Resumes the audio context if the browser lets it run now; says whether it runs.
  async function audioRuns() {
    const context = audio.context;
    if (context.state !== "running") {
      await Promise.race([context.resume(), new Promise((done) => setTimeout(done, 200))]);
    }
    return context.state === "running";
  }

  function fromOutput(m) {
    if (m.op === "tap") {
      window.quiraTapped.push({gen: m.gen, kind: m.kind, samples: m.samples, sent: m.sent});
    } else if (m.op === "position") {
      if (testing) window.quiraUnderruns = m.underruns;
      if (m.gen !== playingGen || !playing) return;  // from before a stop
      if (m.kind === KIND_BLOCK && m.block >= 0) heard = {block: m.block, fraction: m.fraction};
      drawSoon();
    }
  }

  // ---- Opening ---------------------------------------------------------------------------

  async function open(picked) {
    if (!picked) return;
    for (const w of [player, reader]) if (w) w.terminate();
    file = picked;
    header = survey = null;
    choice = null;
    playing = false;
    playingGen = 0;
    heard = null;
    heldPosition = 0;
    peaks = new Float32Array(BINS);
    peaksVersion++;
    notice(null);
    $("player").hidden = true;
    $("save-note").textContent = "";
    await audioReady;
    // The player starts by itself where the browser lets sound play now.
    const play = audio ? await audioRuns() : false;
    const pair = await (spare || workers());
    spare = null;
    player = pair.player;
    reader = pair.reader;
    player.onmessage = (event) => fromPlayer(event.data);
    reader.onmessage = (event) => fromReader(event.data);
    if (audio) {
      const channel = new MessageChannel();
      audio.connect(channel.port1);
      player.postMessage({op: "output", port: channel.port2}, [channel.port2]);
    }
    player.postMessage({op: "open", file, player: true, play});
    reader.postMessage({op: "open", file});
    if (!play && audio) notice("Press play to listen: this browser waits for a click before it plays sound.");
    if (!audio) notice("This browser offers no sound output to this page.");
    setTimeout(() => { if (!spare) spare = workers(); }, 1000);
  }

  // Two workers with the module loaded, kept ready so that a file opened need not wait for them.
  async function workers() {
    const wasm = await module();
    const pair = {player: new Worker(workerUrl), reader: new Worker(workerUrl)};
    pair.player.postMessage({op: "load", module: wasm});
    pair.reader.postMessage({op: "load", module: wasm});
    return pair;
  }
  let spare = workers();

  function fromPlayer(m) {
    if (m.op === "opened") {
      if (m.status !== 0) return refuse(m);
      header = m.header;
      effects = m.effects;
      show();
      if (!m.frames) {
        notice(`“${file.name}” holds no Quira message: where a message begins there are no voice frames.`);
        return;
      }
      for (const line of cutShort()) notice(line);
    } else if (m.op === "state") {
      playing = m.playing;
      playingGen = m.gen;
      heldPosition = m.position;
      $("title").textContent = m.title;
      document.title = m.title;
      $("play").disabled = playing;
      const image = $("play-image");
      if (!image.dataset.idle) image.dataset.idle = image.src;
      image.src = playing ? image.dataset.playing : image.dataset.idle;
      $("play").setAttribute("aria-label", playing ? "Playing" : "Play");
      if (!playing) heard = null;
      if (m.error) notice(m.error);
      if (header) showPosition();
      drawSoon();
    } else if (m.op === "failed") {
      notice(`Something went wrong while playing: ${m.error}`);
    }
  }

  function refuse(m) {
    const name = `“${file.name}”`;
    if (m.status === 4) notice(`${name} is not a Quira voice message: it is shorter than the player every message begins with.`);
    else if (m.status === 3) notice(`${name} could not be read. If it is still being downloaded, wait for it and open it again.`);
    else notice(`${name} could not be opened: ${m.error}`);
  }

  // The sentences for a message that ends before its end.
  function cutShort() {
    const lines = [];
    const heldSamples = Math.max(0, header.blocks - 1) * BUFFER_SAMPLES;
    if (header.has_voice_mark && header.voice_samples > heldSamples) {
      lines.push(`This message is cut short: the file holds ${seconds(heldSamples / 16000)} of its ` +
                 `${seconds(header.voice_samples / 16000)} of voice. What is there plays.`);
    } else if (header.last_block_bytes > 0 && header.last_block_bytes < 1440) {
      lines.push(`This message is cut short: the file ends inside its last block ` +
                 `(${header.last_block_bytes} of 1,440 bytes). What is there plays.`);
    }
    return lines;
  }

  function fromReader(m) {
    if (m.op === "opened") {
      if (m.status !== 0) return;
      blocks = m.header.blocks;
      reader.postMessage({op: "survey"});
      drawPeaks();
    } else if (m.op === "survey") {
      survey = m.survey;
      showFacts();
    } else if (m.op === "peaks") {
      if (m.error || m.pass !== peaksPass) return;  // an error, or a drawing given up
      peaks.set(m.data, m.from);
      peaksVersion++;
      $("wave-note").textContent = m.done ? "" : "Drawing the waveform…";
      drawSoon();
    } else if (m.op === "wav" || m.op === "mp3") {
      saved(m);
    } else if (m.op === "failed") {
      $("save-note").textContent = `Something went wrong: ${m.error}`;
    }
  }

  function drawPeaks() {
    peaks = new Float32Array(BINS);
    peaksVersion++;
    peaksPass++;
    reader.postMessage({op: "peaks", choice, bins: BINS, blocks, pass: peaksPass});
  }

  // ---- Facts -----------------------------------------------------------------------------

  function seconds(t) {
    if (t < 60) return `${Math.round(t * 10) / 10} s`;
    const m = Math.floor(t / 60);
    const s = Math.round(t - 60 * m);
    return `${m} min ${s} s`;
  }

  function clock(t) {
    const two = (n) => String(n).padStart(2, "0");
    return `${two(Math.floor(t / 3600))}:${two(Math.floor((t % 3600) / 60))}:${two(t % 60)}`;
  }

  const number = (n) => Number(n).toLocaleString("en");

  function effectWords(code, level) {
    if (code === 0) return "none: the voice as it was recorded";
    const e = effects.find((x) => x.code === code);
    if (!e) return `code ${code}, which no player knows: the voice plays without effect`;
    const how = level === 0 ? ": the dry voice only" : level < 0 ? ", subtracted from the voice" : "";
    return `${e.name} (${e.family.replace("-", " ")}: ${e.description}), at level ${level} of 128${how}`;
  }

  function showFacts() {
    const h = header;
    if (!h) return;
    const rows = [];
    rows.push(["File", `${file.name}, ${number(file.size)} bytes`]);
    rows.push(["Length", `${seconds(h.total_seconds)} (${clock(h.total_seconds)}), as the player shows it`]);
    rows.push(["Voice", h.has_voice_mark
      ? `${seconds(h.voice_samples / 16000)} of voice, as marked when the message was made`
      : "no voice mark (made by another program, or the mark was damaged)"]);
    rows.push(["Effect", effectWords(h.effect_code, h.effect_level)]);
    if (survey && survey.status === 0) {
      rows.push(["Format", survey.format >= 0
        ? `MPEG Layer III, ${survey.bitrate_kbps} kbit/s at ${survey.sample_rate / 1000} kHz` +
          (survey.mixed_formats ? ", with blocks of other formats too" : "") +
          (survey.format === 0 ? " (played unresampled on a 16 kHz device: at double speed)" : "")
        : "unknown: the first block holds no accepted frames"]);
    } else {
      rows.push(["Format", "working it out…"]);
    }
    let blockText = `${number(h.blocks)} blocks of 0.36 s`;
    if (h.last_block_bytes > 0 && h.last_block_bytes < 1440) blockText += `, the last one short (${h.last_block_bytes} of 1,440 bytes)`;
    if (survey && survey.status === 0) {
      if (survey.failed_blocks === 0) blockText += "; every block decodes";
      else {
        const listed = survey.failed.map(String).join(", ") + (survey.failed_blocks > survey.failed.length ? ", …" : "");
        blockText += `; ${number(survey.failed_blocks)} do not decode and play as silence (${listed})`;
      }
    }
    rows.push(["Blocks", blockText]);
    rows.push(["Program part", h.player_ours
      ? "a Quira player, built by the Quira project"
      : "not a Quira player: see the warning above"]);
    rows.push(["Its SHA-256", h.player_sha256]);
    const list = $("facts");
    list.replaceChildren();
    for (const [term, text] of rows) {
      const dt = document.createElement("dt");
      dt.textContent = term;
      const dd = document.createElement("dd");
      dd.textContent = text;
      list.append(dt, dd);
    }
  }

  function show() {
    $("player").hidden = false;
    const warning = $("warning");
    warning.hidden = Boolean(header.player_ours);
    warning.textContent = header.player_ours ? "" :
      "Do not run this file: it was not made by Quira. Its program part is not the Quira player, " +
      "so running it could do anything to your computer. Hearing the message here is safe: this " +
      "page only reads it.";
    $("wave").setAttribute("aria-valuemax", String(header.blocks));
    fillEffects();
    showFacts();
    drawSoon();
  }

  // ---- Preview of another effect -----------------------------------------------------------

  function fillEffects() {
    const select = $("effect");
    select.replaceChildren();
    const add = (value, text) => {
      const option = document.createElement("option");
      option.value = value;
      option.textContent = text;
      select.append(option);
    };
    const own = effects.find((x) => x.code === header.effect_code);
    add("own", `The message's own: ${own ? own.name : "none"}`);
    add("0", "None: the voice as recorded");
    for (const e of effects) add(String(e.code), `${e.name} (${e.family.replace("-", " ")})`);
    select.value = "own";
    $("level").value = String(header.effect_level);
    $("level-value").textContent = String(header.effect_level);
  }

  let previewTimer = 0;
  function previewChanged() {
    const select = $("effect").value;
    const level = Number($("level").value);
    $("level-value").textContent = String(level);
    const code = select === "own" ? header.effect_code : Number(select);
    choice = select === "own" && level === header.effect_level ? null : {code, level_byte: (127 - level) & 255};
    clearTimeout(previewTimer);
    previewTimer = setTimeout(applyChoice, 250);
  }

  function applyChoice() {
    // Go on from the block heard now, with the new effect.
    const block = heard ? heard.block : heldPosition;
    player.postMessage({op: "player", choice, block, play: playing});
    drawPeaks();
  }

  $("effect").addEventListener("change", previewChanged);
  $("level").addEventListener("input", previewChanged);
  $("own").addEventListener("click", () => {
    $("effect").value = "own";
    $("level").value = String(header.effect_level);
    previewChanged();
  });
  $("preview").addEventListener("submit", (event) => event.preventDefault());

  // ---- Saving ----------------------------------------------------------------------------

  function choiceWords() {
    if (!choice) return "with its own effect";
    const e = effects.find((x) => x.code === choice.code);
    let level = (127 - choice.level_byte) & 255;
    if (level > 127) level -= 256;
    return e ? `with ${e.name} at level ${level}` : "without effect";
  }

  function saved(m) {
    if (testing) window.quiraDecoded = m.decoded;
    if (m.error) {
      $("save-note").textContent = m.error;
      return;
    }
    const name = `${stem()}.${m.op}`;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(m.blob);
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    const what = m.op === "wav" ? `the message as heard, ${choiceWords()}` : "the plain MPEG frames";
    $("save-note").textContent = `Saved “${name}”: ${what} (${number(m.blob.size)} bytes).` +
      (m.skipped ? ` ${m.skipped} block(s) held no frames and were left out.` : "");
  }

  $("save-wav").addEventListener("click", () => {
    $("save-note").textContent = "Preparing the WAV file…";
    reader.postMessage({op: "wav", choice, blocks});
  });
  $("save-mp3").addEventListener("click", () => {
    $("save-note").textContent = "Preparing the MP3 file…";
    reader.postMessage({op: "mp3", blocks});
  });

  // ---- Playing ---------------------------------------------------------------------------

  async function play() {
    if (!player || !header || playing) return;
    if (audio) {
      audio.context.resume();
      if ($("notice").textContent.startsWith("Press play")) notice(null);
    }
    player.postMessage({op: "play"});
  }

  function stop() {
    if (player && header) player.postMessage({op: "stop"});
  }

  function seek(block) {
    if (!player || !header) return;
    block = Math.max(0, Math.min(header.blocks - 1, block));
    heard = null;
    player.postMessage({op: "seek", block});
  }

  $("play").addEventListener("click", play);
  $("stop").addEventListener("click", stop);

  document.addEventListener("keydown", (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const target = event.target;
    if (target instanceof HTMLInputElement || target instanceof HTMLSelectElement) return;
    const key = event.key.toLowerCase();
    // Space on a button presses that button, as everywhere on the web.
    if (key === " " && target instanceof HTMLButtonElement) return;
    if (key === " " || key === "p") {
      event.preventDefault();
      play();
    } else if (key === "s") {
      event.preventDefault();
      stop();
    }
  });

  // ---- Waveform --------------------------------------------------------------------------

  const canvas = $("wave");
  let drawPending = false;

  function drawSoon() {
    if (drawPending) return;
    drawPending = true;
    requestAnimationFrame(draw);
  }

  function position() {
    if (!header) return 0;
    if (heard) return heard.block + heard.fraction;
    return heldPosition;
  }

  // The waveform's outline, made again only when the peaks or the canvas size change.
  let outline = null;
  let outlineFor = "";
  let drawn = "";

  function waveOutline(width, height, ratio) {
    const key = `${width}x${height}:${peaksVersion}`;
    if (key === outlineFor) return outline;
    outline = new Path2D();
    const middle = height / 2;
    for (let column = 0; column < width; column++) {
      const from = Math.floor((column * BINS) / width);
      const to = Math.max(from + 1, Math.floor(((column + 1) * BINS) / width));
      let peak = 0;
      for (let b = from; b < to && b < BINS; b++) peak = Math.max(peak, peaks[b]);
      const h = Math.max(ratio, peak * (height - 4 * ratio));
      outline.rect(column, middle - h / 2, 1, h);
    }
    outlineFor = key;
    return outline;
  }

  function draw() {
    drawPending = false;
    if (!header) return;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    const x = Math.round((position() / Math.max(1, header.blocks)) * width);
    const key = `${width}x${height}:${peaksVersion}:${x}`;
    if (key !== drawn) {
      drawn = key;
      if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
      }
      const g = canvas.getContext("2d");
      const shape = waveOutline(width, height, ratio);
      g.clearRect(0, 0, width, height);
      g.save();
      g.beginPath();
      g.rect(0, 0, x, height);
      g.clip();
      g.fillStyle = "#1f4fd6";  // heard
      g.fill(shape);
      g.restore();
      g.save();
      g.beginPath();
      g.rect(x, 0, width - x, height);
      g.clip();
      g.fillStyle = "#8a98b8";  // still to come
      g.fill(shape);
      g.restore();
      g.fillStyle = "#c0262d";
      g.fillRect(Math.min(x, width - 2 * ratio), 0, 2 * ratio, height);
    }
    showPosition();
  }

  // The position as the waveform's slider tells it to a screen reader.
  function showPosition() {
    const block = Math.floor(position());
    if (canvas.getAttribute("aria-valuenow") !== String(block)) {
      canvas.setAttribute("aria-valuenow", String(block));
      canvas.setAttribute("aria-valuetext", `${clock(Math.floor(block * 0.36 + 0.5))} of ${clock(header.total_seconds)}`);
    }
  }

  canvas.addEventListener("click", (event) => {
    if (!header) return;
    const rect = canvas.getBoundingClientRect();
    seek(Math.floor(((event.clientX - rect.left) / rect.width) * header.blocks));
  });
  canvas.addEventListener("keydown", (event) => {
    if (!header) return;
    const step = {ArrowLeft: -14, ArrowRight: 14, PageDown: -84, PageUp: 84}[event.key];
    if (step) seek(Math.floor(position()) + step);
    else if (event.key === "Home") seek(0);
    else return;
    event.preventDefault();
  });
  window.addEventListener("resize", drawSoon);

  // ---- Picking and dropping --------------------------------------------------------------

  $("open").addEventListener("click", () => $("file").click());
  $("file").addEventListener("change", () => {
    open($("file").files[0]);
    $("file").value = "";
  });
  const drop = $("drop");
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = "copy";
    drop.classList.add("over");
  });
  document.addEventListener("dragleave", (event) => {
    if (event.target === document.documentElement || event.relatedTarget === null) drop.classList.remove("over");
  });
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    drop.classList.remove("over");
    const f = event.dataTransfer.files[0];
    if (f) open(f);
  });
  // Any click lets a waiting audio context run.
  document.addEventListener("pointerdown", () => { if (audio) audio.context.resume(); });
})();

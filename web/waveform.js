// SPDX-License-Identifier: MIT
// The player's waveform: the loudest sample of each stretch of the message, heard part and part
// to come, and a line where the player stands; a slider for the keyboard and screen readers. A
// click plays from where it falls; the arrow keys, Page Up/Down and Home move.
import {QUIRA_BUFFER_SAMPLES, QUIRA_SAMPLE_RATE} from "./quira-h.js";
import {sayAttribute} from "./i18n.js";
import {$, clock} from "./shared.js";
import {BINS, player, position, seek} from "./player.js";

const canvas = $("wave");
let drawPending = false;

// Draws at the next frame (once, however often asked before it).
export function drawSoon() {
  if (drawPending) return;
  drawPending = true;
  requestAnimationFrame(draw);
}

// The waveform's outline, made again only when the peaks or the canvas size change.
let outline = null;
let outlineFor = "";
let drawn = "";

function waveOutline(width, height, ratio) {
  const key = `${width}x${height}:${player.peaksVersion}`;
  if (key === outlineFor) return outline;
  const peaks = player.peaks;
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
  const header = player.header;
  if (!header) return;
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  const x = Math.round((position() / Math.max(1, header.blocks)) * width);
  const key = `${width}x${height}:${player.peaksVersion}:${x}`;
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

// The slider's range, for a message just opened.
export function showLength() {
  canvas.setAttribute("aria-valuemax", String(player.header.blocks));
}

// The position as the waveform's slider tells it to a screen reader.
export function showPosition() {
  if (!player.header) return;
  const block = Math.floor(position());
  if (canvas.getAttribute("aria-valuenow") !== String(block)) {
    canvas.setAttribute("aria-valuenow", String(block));
    const at = Math.floor((block * QUIRA_BUFFER_SAMPLES) / QUIRA_SAMPLE_RATE + 0.5);
    sayAttribute(canvas, "aria-valuetext", "player.positionValue", {elapsed: clock(at), total: clock(player.header.total_seconds)});
  }
}

canvas.addEventListener("click", (event) => {
  if (!player.header) return;
  const rect = canvas.getBoundingClientRect();
  seek(Math.floor(((event.clientX - rect.left) / rect.width) * player.header.blocks));
});
// Keys move by about five seconds (14 blocks) and thirty (84).
canvas.addEventListener("keydown", (event) => {
  if (!player.header) return;
  const step = {ArrowLeft: -14, ArrowRight: 14, PageDown: -84, PageUp: 84}[event.key];
  if (step) seek(Math.floor(position()) + step);
  else if (event.key === "Home") seek(0);
  else return;
  event.preventDefault();
});
window.addEventListener("resize", drawSoon);

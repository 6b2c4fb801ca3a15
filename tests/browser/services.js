// SPDX-License-Identifier: MIT
// What the browsers need around them on a machine without a desktop: a sound server (PulseAudio
// with null sinks: Firefox and WebKit start Web Audio only when one answers) with a microphone
// that says what the test gives it, and a virtual display for WebKit, which has no headless
// mode. Each is private to the test that starts it (its own runtime directory, socket and
// display number) and ends with it.
"use strict";
const fs = require("node:fs");
const path = require("node:path");
const {spawn, execFileSync} = require("node:child_process");

const started = [];
process.on("exit", () => {
  for (const child of started) if (child.exitCode === null) child.kill("SIGKILL");
});

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

async function until(what, test, ms = 20000) {
  const end = Date.now() + ms;
  for (;;) {
    if (test()) return;
    if (Date.now() > end) throw new Error(`${what} did not come up within ${ms / 1000} s`);
    await sleep(50);
  }
}

// A PulseAudio server in dir: `speakers`, a sink that plays into nothing (the default output),
// and `microphone`, the default input, which carries whatever is played into the sink
// `microphone-feed` (a remapped monitor: browsers list no monitor as a microphone).
// speak(file) plays a recording into it at its own pace, as a person speaking.
async function startSound(dir) {
  fs.mkdirSync(dir, {recursive: true, mode: 0o700});
  const socket = path.join(dir, "native");
  const script = path.join(dir, "quira.pa");
  fs.writeFileSync(script, [
    "load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers",
    "load-module module-null-sink sink_name=microphone-feed",
    "load-module module-remap-source master=microphone-feed.monitor source_name=microphone source_properties=device.description=Microphone",
    `load-module module-native-protocol-unix auth-anonymous=1 socket=${socket}`,
    "set-default-sink speakers",
    "set-default-source microphone",
    ""].join("\n"));
  const env = {...process.env, HOME: dir, XDG_RUNTIME_DIR: dir, XDG_CONFIG_HOME: dir};
  const log = fs.openSync(path.join(dir, "pulseaudio.log"), "w");
  const server = spawn("pulseaudio", ["-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
    "--use-pid-file=no", "--log-target=stderr"], {env, stdio: ["ignore", log, log]});
  started.push(server);
  const client = {...env, PULSE_SERVER: `unix:${socket}`};
  await until("PulseAudio", () => {
    if (server.exitCode !== null) throw new Error(`PulseAudio failed: ${fs.readFileSync(path.join(dir, "pulseaudio.log"), "utf8")}`);
    try {
      execFileSync("pactl", ["info"], {env: client, stdio: "ignore"});
      return true;
    } catch (e) {
      return false;
    }
  });
  return {
    env: {PULSE_SERVER: `unix:${socket}`},
    speak(file) {
      const player = spawn("paplay", ["--device=microphone-feed", file], {env: client, stdio: "ignore"});
      started.push(player);
      return new Promise((done, fail) => player.on("exit", (code) => (code === 0 ? done() : fail(new Error(`paplay exited ${code}`)))));
    },
    stop() {
      server.kill();
    },
  };
}

// An X server of its own (the first free display number), for a browser with no headless mode.
async function startDisplay() {
  const server = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
    {stdio: ["ignore", "ignore", "pipe", "pipe"]});
  started.push(server);
  let said = "";
  let errors = "";
  server.stdio[3].on("data", (d) => { said += d; });
  server.stderr.on("data", (d) => { errors += d; });
  await until("Xvfb", () => {
    if (server.exitCode !== null) throw new Error(`Xvfb failed: ${errors}`);
    return /\n/.test(said);
  });
  return {display: `:${said.trim()}`, stop: () => server.kill()};
}

module.exports = {startSound, startDisplay, sleep, until, started};

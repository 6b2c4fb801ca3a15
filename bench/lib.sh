# SPDX-License-Identifier: MIT
# Shell functions for the benchmarks; sourced by bench/run.sh, bench/make.sh and bench/maker-web.sh.

# bench_tools: hyperfine and python3, installed when missing.
bench_tools() {
  if ! command -v hyperfine >/dev/null || ! command -v python3 >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends hyperfine python3 >/dev/null
  fi
}

# bench_run DIR NAME OURS PEER [RUNS]: times both commands in one hyperfine run and prints the
# ratio quira / peer of the median wall time and of the mean CPU time (user + system, children
# included: a shell pipeline spreads its work over two processes, and so over two cores).
bench_run() {
  local dir=$1 name=$2 ours=$3 peer=$4 runs=${5:-20}
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$dir/$name.json" -n quira "$ours" -n peer "$peer" >/dev/null 2>&1 \
    || hyperfine --warmup 2 --runs "$runs" --export-json "$dir/$name.json" -n quira "$ours" -n peer "$peer" >/dev/null
  python3 - "$dir/$name.json" "$name" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
def cpu(x):  # mean user + system time of the command and its children
    return x["user"] + x["system"]
q, p = r["quira"]["median"], r["peer"]["median"]
qc, pc = cpu(r["quira"]), cpu(r["peer"])
print(f"{sys.argv[2]:<8} wall: quira {q*1000:6.1f} ms, peer {p*1000:6.1f} ms, ratio {q/p:5.2f}"
      f"   cpu: quira {qc*1000:6.1f} ms, peer {pc*1000:6.1f} ms, ratio {qc/pc:5.2f}")
PY
}

# bench_long_speech DIR: DIR/long-48k.wav, five and a half minutes of real speech at 48 kHz (the
# alsa-utils prompts and espeak-ng), made once.
bench_long_speech() {
  local out=$1
  [ -f "$out/long-48k.wav" ] && return 0
  espeak-ng -w "$out/espeak.wav" \
    "Hello, this is a voice message. It was recorded, compressed, scrambled and laid out in blocks \
behind a small player. Call me back when you hear this; the number is five five five, one two three."
  sox -V1 "$out/espeak.wav" -r 48000 "$out/espeak-48k.wav"
  sox "$out/espeak-48k.wav" /usr/share/sounds/alsa/{Front,Rear,Side}_*.wav "$out/pair-48k.wav"
  sox "$out/pair-48k.wav" "$out/long-48k.wav" repeat 15
}

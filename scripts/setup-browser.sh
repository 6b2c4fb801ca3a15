#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up the web page's browser test: Debian's chromium, the fonts its screenshots need to show
# Japanese, Chinese and Arabic in real glyphs, and playwright-core from npm, which
# drives that chromium and downloads no browser of its own, installed from tests/browser's
# package.json and lock file into build/browser-test/node_modules (shared by every build tree).
#   scripts/setup-browser.sh
# Idempotent: installs only what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
missing=()
for p in chromium fonts-dejavu-core fonts-noto-cjk fonts-noto-ui-core; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm comes with some node builds; Debian ships it apart.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-browser: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

dest=$root/build/browser-test
want=$(sha256sum "$root/tests/browser/package.json" "$root/tests/browser/package-lock.json" | sha256sum | cut -d' ' -f1)
if [ "$(cat "$dest/.installed" 2>/dev/null)" != "$want" ]; then
  mkdir -p "$dest"
  cp "$root/tests/browser/package.json" "$root/tests/browser/package-lock.json" "$dest/"
  # No install scripts: nothing may fetch a browser or anything else.
  (cd "$dest" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  echo "$want" > "$dest/.installed"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up the web page's browser tests in the three engines Debian ships: chromium (driven by
# playwright-core), firefox-esr (driven by puppeteer-core over WebDriver BiDi) and WebKitGTK's
# MiniBrowser (driven by webkit2gtk-driver's WebKitWebDriver, on Xvfb), with PulseAudio for the
# sound server Firefox needs to start Web Audio and for the microphone that speaks, the fonts the
# screenshots need to show Japanese, Chinese and Arabic in real glyphs, and axe-core. The npm
# packages are installed from tests/browser's package.json and lock file into
# build/browser-test/node_modules (shared by every build tree), without install scripts and with
# every browser download turned off: the tests drive Debian's browsers only.
#   scripts/setup-browser.sh
# Idempotent: installs only what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/apt-lib.sh
. "$root/scripts/apt-lib.sh"

packages=(chromium firefox-esr webkit2gtk-driver fonts-dejavu-core fonts-noto-cjk fonts-noto-ui-core
  pulseaudio pulseaudio-utils xvfb)
# npm comes with some node builds; Debian ships it apart.
command -v npm >/dev/null || packages+=(npm)
apt_install setup-browser "${packages[@]}"

dest=$root/build/browser-test
want=$(sha256sum "$root/tests/browser/package.json" "$root/tests/browser/package-lock.json" | sha256sum | cut -d' ' -f1)
if [ "$(cat "$dest/.installed" 2>/dev/null)" != "$want" ]; then
  mkdir -p "$dest"
  cp "$root/tests/browser/package.json" "$root/tests/browser/package-lock.json" "$dest/"
  # No install scripts, no browser downloads: nothing may fetch a browser or anything else.
  (cd "$dest" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROME_DOWNLOAD=1 \
    PUPPETEER_SKIP_CHROME_HEADLESS_SHELL_DOWNLOAD=1 PUPPETEER_SKIP_FIREFOX_DOWNLOAD=1 \
    npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  echo "$want" > "$dest/.installed"
fi

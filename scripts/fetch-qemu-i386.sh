#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fetches the user-mode emulator that runs 32-bit x86 Linux programs on a kernel that runs none
# itself, for Wine's 32-bit loader (scripts/wine-lib.sh, scripts/i386-emulation.sh):
#   fetch-qemu-i386.sh [DIR]     (default: build/deps/qemu-user in this tree)
# leaves DIR/qemu-i386 (a static program) and DIR/version. Idempotent: with the emulator in place
# it only checks it.
#
# The emulator must honour MAP_FIXED_NOREPLACE, which QEMU's user mode does from 8.1 on. Wine's
# 32-bit loader reserves its address space with that flag; an older emulator takes the address as
# a mere hint, Wine then probes the space in halves down to 64 KiB (some 58,000 mmap calls, a
# minute of CPU under Debian 12's QEMU 7.2) and at last fails to map the shared user data at
# 0x7ffe0000. So the newest qemu-user among the release and its backports is taken: on Debian 12
# that is the backports' one. It comes from the Debian mirror apt is configured with, through a
# private package list in DIR/apt, and is only unpacked into DIR: nothing is installed, and the
# machine's own package lists and sources stay as they are.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/deps/qemu-user}
min_version=8.1

# version_at_least VERSION MIN: a Debian version's upstream part (between the epoch and the
# revision) is at least MIN.
version_at_least() {
  local upstream=${1#*:}
  upstream=${upstream%%[+-]*}
  [ "$(printf '%s\n%s\n' "$2" "$upstream" | sort -V | head -n 1)" = "$2" ]
}

if [ -x "$dir/qemu-i386" ] && [ -f "$dir/version" ] && "$dir/qemu-i386" --version >/dev/null 2>&1; then
  echo "fetch-qemu-i386: qemu-i386 $(cat "$dir/version") in $dir"
  exit 0
fi

. /etc/os-release
codename=${VERSION_CODENAME:?/etc/os-release names no release}
# The mirror that serves the release's main component, as apt's own sources name it.
# shellcheck disable=SC2016 # apt expands the $(...) fields itself
mirror=$(apt-get indextargets --format '$(RELEASE) $(TARGET_OF) $(COMPONENT) $(REPO_URI)' 2>/dev/null |
  awk -v r="$codename" '$1 == r && $2 == "deb" && $3 == "main" { print $4; exit }')
if [ -z "$mirror" ]; then
  echo "fetch-qemu-i386: apt has no source for $codename main (run apt-get update)" >&2
  exit 1
fi
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

apt_dir=$dir/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
log=$apt_dir/apt.log
# newest_qemu_user APT_OPTION...: the newest version of qemu-user that those package lists offer.
newest_qemu_user() {
  apt-cache "$@" madison qemu-user 2>/dev/null | awk -F' [|] ' '{ print $2 }' | sort -V | tail -n 1
}
# The release's own emulator, from the machine's lists, when it is new enough; otherwise the
# backports', from a private list of that suite alone (small, unlike the release's).
apt_opts=(-o APT::Sandbox::User=root -o Acquire::Retries=3)
version=$(newest_qemu_user)
if [ -z "$version" ] || ! version_at_least "$version" "$min_version"; then
  echo "deb [signed-by=$keyring] $mirror $codename-backports main" >"$apt_dir/sources.list"
  apt_opts+=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Architectures=$(dpkg --print-architecture)")
  if ! apt-get -q "${apt_opts[@]}" update >"$log" 2>&1; then
    echo "fetch-qemu-i386: the package list of $codename-backports could not be had:" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
  version=$(newest_qemu_user "${apt_opts[@]}")
fi
if [ -z "$version" ] || ! version_at_least "$version" "$min_version"; then
  echo "fetch-qemu-i386: no qemu-user of at least $min_version in $codename or $codename-backports" \
    "(newest: ${version:-none})" >&2
  exit 1
fi
(cd "$apt_dir" && apt-get -q "${apt_opts[@]}" download "qemu-user=$version" >>"$log" 2>&1) || {
  echo "fetch-qemu-i386: downloading qemu-user $version failed:" >&2
  tail -n 5 "$log" >&2
  exit 1
}
# Of the package's emulators only the one for 32-bit x86 is unpacked.
dpkg-deb --fsys-tarfile "$apt_dir"/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$dir/qemu-i386.part"
chmod 755 "$dir/qemu-i386.part"
mv "$dir/qemu-i386.part" "$dir/qemu-i386"
echo "$version" >"$dir/version"
rm -rf "$apt_dir"
"$dir/qemu-i386" --version >/dev/null
echo "fetch-qemu-i386: qemu-i386 $version, in $dir"

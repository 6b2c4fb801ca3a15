#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command in which 32-bit x86 Linux programs run, on a kernel that runs none itself:
#   i386-emulation.sh QEMU_I386 COMMAND [ARG...]
# The command runs in a user and mount namespace of its own, whose binfmt_misc (one instance per
# user namespace, from Linux 6.7 on) hands every 32-bit x86 ELF program to QEMU_I386, a static
# user-mode emulator (scripts/fetch-qemu-i386.sh). Nothing outside the namespace changes: the
# machine's binfmt_misc, if any, is left alone, and the registration ends with the namespace's
# last process. The user namespace maps root to root, so files keep their owners.
# The command sees QUIRA_I386_EMULATOR set to QEMU_I386. Exits 3, with a line saying why, when
# the namespace or the registration cannot be had; otherwise the command's own status.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: i386-emulation.sh QEMU_I386 COMMAND [ARG...]" >&2
  exit 2
fi
qemu=$(realpath "$1")
shift

if [ "${QUIRA_I386_EMULATION_INSIDE:-}" != 1 ]; then
  unshare --user --map-root-user --mount true 2>/dev/null ||
    { echo "i386-emulation: no user namespace could be made here" >&2; exit 3; }
  QUIRA_I386_EMULATION_INSIDE=1 exec unshare --user --map-root-user --mount "$0" "$qemu" "$@"
fi
unset QUIRA_I386_EMULATION_INSIDE

binfmt=/proc/sys/fs/binfmt_misc
mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
  echo "i386-emulation: this kernel has no binfmt_misc of a user namespace's own (Linux 6.7 or later)" >&2
  exit 3
}
# ELF, 32-bit, little-endian, an executable or shared object (types 2 and 3), machine i386. The
# flag F opens the emulator now, so that it is found whatever root a program sees.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf '%s' ":quira-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register" 2>/dev/null || {
  echo "i386-emulation: $qemu could not be registered with binfmt_misc" >&2
  exit 3
}
export QUIRA_I386_EMULATOR=$qemu
exec "$@"

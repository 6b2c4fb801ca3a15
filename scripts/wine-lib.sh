# SPDX-License-Identifier: MIT
# Sourced by the scripts that run Windows programs under Wine. wine_choose sets:
#   WINE        the launcher to run programs with
#   WINE_32BIT  1 when 32-bit Windows programs can run here, else 0
#   WINE_32BIT_HOW  how they run: "natively", or "under qemu-i386 VERSION" in an emulated run
# Wine's own launcher picks its 32-bit loader whenever that is installed. On a kernel whose 32-bit
# emulation is switched off (ia32_emulation=off; dmesg says "32-bit emulation disabled") that
# loader cannot be executed at all, so the 64-bit loader is used instead: 64-bit programs run,
# 32-bit ones cannot, and the callers say what they skip.
#
# There, wine_emulate_32bit runs the calling script again with 32-bit x86 programs handed to a
# user-mode emulator (scripts/i386-emulation.sh, with the one scripts/fetch-qemu-i386.sh fetched),
# in which Wine's 32-bit loader runs, and so 32-bit Windows programs do. Setting
# QUIRA_NO_I386_EMULATION=1 turns that off.
wine_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE_QEMU_I386=${QUIRA_QEMU_I386:-$wine_lib_root/build/deps/qemu-user/qemu-i386}

wine_choose() {
  WINE=${WINE:-wine}
  WINE_32BIT=1
  WINE_32BIT_HOW=natively
  # The 32-bit dynamic loader must run and say what it is (an emulator that runs nothing and
  # succeeds does not count).
  if [ ! -e /lib/ld-linux.so.2 ] || [[ "$(/lib/ld-linux.so.2 --version 2>/dev/null)" != ld.so* ]]; then
    WINE_32BIT=0
    WINE_32BIT_HOW=""
  elif [ -n "${QUIRA_I386_EMULATOR:-}" ]; then
    WINE_32BIT_HOW="under qemu-i386 $(cat "$(dirname "$QUIRA_I386_EMULATOR")/version" 2>/dev/null ||
      echo '(version unknown)')"
  fi
  if [ "$WINE_32BIT" = 0 ] && [ "$WINE" = wine ] && [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
    wine_lib_set_loader=1
  fi
}

WINE_NO_32BIT_REASON="this kernel does not run 32-bit programs (its 32-bit emulation is off)"

# wine_emulate_32bit SCRIPT [ARG...]: where wine_choose found no way to run 32-bit programs, runs
# SCRIPT ARG... again in the emulation, which then finds one: does not return when it could. It
# returns where 32-bit programs run already, and where the emulation cannot be had, leaving why in
# WINE_NO_EMULATION_REASON.
wine_emulate_32bit() {
  WINE_NO_EMULATION_REASON=""
  [ "$WINE_32BIT" = 0 ] || return 0
  if [ "${QUIRA_NO_I386_EMULATION:-0}" = 1 ]; then
    WINE_NO_EMULATION_REASON="the emulation of 32-bit programs is turned off (QUIRA_NO_I386_EMULATION=1)"
  elif [ -n "${QUIRA_I386_EMULATOR:-}" ]; then
    WINE_NO_EMULATION_REASON="32-bit programs do not run under $QUIRA_I386_EMULATOR"
  elif [ ! -x "$WINE_QEMU_I386" ]; then
    WINE_NO_EMULATION_REASON="no emulator of 32-bit programs at $WINE_QEMU_I386 (scripts/setup-wine.sh fetches it)"
  else
    local why
    why=$("$wine_lib_root/scripts/i386-emulation.sh" "$WINE_QEMU_I386" /lib/ld-linux.so.2 --version 2>&1 >/dev/null) || {
      WINE_NO_EMULATION_REASON="the emulation of 32-bit programs cannot be had here: ${why#i386-emulation: }"
      return 0
    }
    # The run in the emulation chooses its own loader.
    [ "${wine_lib_set_loader:-0}" = 0 ] || unset WINELOADER
    exec "$wine_lib_root/scripts/i386-emulation.sh" "$WINE_QEMU_I386" "$@"
  fi
}

# wine_prefix_problem PREFIX: why the prefix cannot run 32-bit programs where they run (it was made
# where they did not, and has no 32-bit part); nothing when it can, or when they do not run here.
wine_prefix_problem() {
  if [ "$WINE_32BIT" = 1 ] && [ ! -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "the Wine prefix $1 has no 32-bit part: run scripts/setup-wine.sh"
  fi
}

# wine_exe_is_32bit EXE: the Windows program is a 32-bit x86 one: its PE header, found at the
# offset the DOS header keeps at 0x3c, names the machine i386 (0x014c).
wine_exe_is_32bit() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  [ -n "$pe" ] && [ "$(od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' ')" = 014c ]
}

# Sourced by the scripts that run Windows programs under Wine. wine_choose sets:
#   WINE        the launcher to run programs with
#   WINE_32BIT  1 when 32-bit Windows programs can run on this machine, else 0
# Wine's own launcher picks its 32-bit loader whenever that is installed. On a kernel whose 32-bit
# emulation is switched off (ia32_emulation=off; dmesg says "32-bit emulation disabled") that
# loader cannot be executed at all, so the 64-bit loader is used instead: 64-bit programs run,
# 32-bit ones cannot, and the callers say what they skip.
wine_choose() {
  WINE=${WINE:-wine}
  WINE_32BIT=1
  if [ -e /lib/ld-linux.so.2 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    WINE_32BIT=0
  elif [ ! -e /lib/ld-linux.so.2 ]; then
    WINE_32BIT=0
  fi
  if [ "$WINE_32BIT" = 0 ] && [ "$WINE" = wine ] && [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  fi
}

WINE_NO_32BIT_REASON="this kernel does not run 32-bit programs (its 32-bit emulation is off)"

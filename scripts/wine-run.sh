#!/usr/bin/env bash
# Runs a Windows program of the build under wine: ctest's emulator for the windows presets.
#   scripts/wine-run.sh ARCH PROGRAM [ARG ...]      (ARCH: x86_64 or i686)
#   scripts/wine-run.sh --prepare                    (makes the prefix once, before ctest -j)
# Every call shares one prefix and one TMPDIR (another TMPDIR would start a second wineserver),
# with wine's own messages off and no display needed.
set -euo pipefail
arch="${1:?usage: wine-run.sh ARCH PROGRAM [ARG ...] | --prepare}"
shift
export WINEPREFIX="${SKELDER_WINEPREFIX:-${HOME:-/root}/.cache/skelder-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export TMPDIR=/tmp
unset DISPLAY
if [ "$arch" = --prepare ]; then
  # Parallel first calls would each start making the prefix.
  wineboot --init >/dev/null 2>&1 || true
  exec wineserver --wait
fi
# Debian's wine runs both: 64-bit programs through wine64, 32-bit ones through wine32.
case "$arch" in
  x86_64 | i686) exec wine "$@" ;;
  *) echo "wine-run: unknown architecture $arch" >&2; exit 2 ;;
esac

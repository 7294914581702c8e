#!/usr/bin/env bash
# Runs a Windows program of the build under wine: ctest's emulator for the windows presets.
#   scripts/wine-run.sh ARCH PROGRAM [ARG ...]      (ARCH: x86_64 or i686)
#   scripts/wine-run.sh --prepare                    (makes the prefix once, before ctest -j)
# Every call shares one prefix and one TMPDIR (another TMPDIR would start a second wineserver),
# with wine's own messages off and its null graphics driver (no display needed). Wine never runs
# as root: as root it does not enforce the read-only attribute, so root's calls run as the user
# skelder-wine (made by scripts/setup.sh), with a prefix of that user's own.
set -euo pipefail
arch="${1:?usage: wine-run.sh ARCH PROGRAM [ARG ...] | --prepare}"
shift
wine_user=skelder-wine
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id "$wine_user" >/dev/null 2>&1; then
    echo "wine-run: no user $wine_user to run wine as; run scripts/setup.sh" >&2
    exit 2
  fi
  as_user=(runuser -u "$wine_user" --)
  prefix_default="$(getent passwd "$wine_user" | cut -d: -f6)/prefix"
else
  prefix_default="${HOME:-/tmp}/.cache/skelder-wine"
fi
export WINEPREFIX="${SKELDER_WINEPREFIX:-$prefix_default}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export TMPDIR=/tmp
unset DISPLAY
if [ "$arch" = --prepare ]; then
  if [ ${#as_user[@]} -gt 0 ]; then
    # The build and the sources must be reachable: folders above the tree get search (not
    # read) permission for others where they lack it.
    dir="$(cd "$(dirname "$0")/.." && pwd)"
    while [ "$dir" != / ]; do
      if ! "${as_user[@]}" test -x "$dir"; then
        chmod o+x "$dir"
        echo "wine-run: gave others search permission on $dir, for $wine_user"
      fi
      dir="$(dirname "$dir")"
    done
  fi
  # One server for the whole run, with wine's own background programs started here, before
  # ctest: a program started while the last one's server shuts down fails to start
  # ("ShellExecuteEx failed: Internal error"), and background programs that a test program starts
  # keep ctest's output pipe open, so ctest waits for them. The server ends five minutes after
  # the last program. Making the prefix also happens here, once (parallel first calls would each
  # start making it).
  restart() {
    "${as_user[@]}" wineserver --kill >/dev/null 2>&1 || true
    "${as_user[@]}" wineserver --wait >/dev/null 2>&1 || true
    "${as_user[@]}" wineserver --persistent=300
    "${as_user[@]}" wineboot --init </dev/null >/dev/null 2>&1 || true
  }
  restart
  # Windows without a display: wine's null graphics driver gives real windows (rectangles,
  # styles, messages) with nothing drawn. A process reads the setting when it starts, so the
  # server and its background programs start again once it is written.
  if ! "${as_user[@]}" wine reg query 'HKCU\Software\Wine\Drivers' /v Graphics 2>/dev/null | grep -q null; then
    "${as_user[@]}" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    restart
  fi
  exit 0
fi
# Debian's wine runs both: 64-bit programs through wine64, 32-bit ones through wine32.
case "$arch" in
  x86_64 | i686) ;;
  *) echo "wine-run: unknown architecture $arch" >&2; exit 2 ;;
esac
# Now and then wine cannot start a program at all ("ShellExecuteEx failed: Internal error", on
# standard output), while one of its background programs is still coming up or going away. The
# program never ran, so it is started again, at most twice more. Its output is passed on when it
# ends, standard output and standard error each to its own.
output="$(mktemp)"
errors="$(mktemp)"
trap 'rm -f "$output" "$errors"' EXIT
for attempt in 1 2 3; do
  status=0
  "${as_user[@]}" wine "$@" >"$output" 2>"$errors" || status=$?
  cat "$output"
  cat "$errors" >&2
  if [ "$status" -ne 0 ] && [ "$attempt" -lt 3 ] &&
    grep -qs "ShellExecuteEx failed: Internal error" "$output" "$errors"; then
    echo "wine-run: wine could not start $1; starting it again" >&2
    sleep 2
    continue
  fi
  exit "$status"
done

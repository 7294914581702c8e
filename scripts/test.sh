#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. Without an argument it runs what CI
# runs: the linux preset (each fuzz target for a bounded time first, then ctest), the linux-asan
# preset (AddressSanitizer and UBSan), and the Windows builds, windows (x86_64) and windows-x86
# (i686, the host's architecture), whose suites run under wine; the last summary closes the output.
#   scripts/test.sh [PRESET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux linux-asan windows windows-x86)
scripts/setup.sh
status=0
for preset in "${presets[@]}"; do
  scripts/build.sh "$preset"
  if [ -x scripts/fuzz.sh ] && [ "$preset" = linux ]; then
    scripts/fuzz.sh --ci || status=$?
  fi
  case "$preset" in windows*) scripts/wine-run.sh --prepare ;; esac
  echo "== ctest: $preset"
  ctest --preset "$preset" -j "$(nproc)" --timeout 600 || status=$?
done
exit $status

#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. Without an argument it runs what CI
# runs: the linux preset (each fuzz target for a bounded time first, then ctest), the linux-asan
# preset (AddressSanitizer and UBSan), the linux-tsan preset (ThreadSanitizer over the tests of
# deployments over several FTP sessions, the only ones it builds), and the Windows builds,
# windows (x86_64) and windows-x86 (i686, the host's architecture), whose suites run under wine;
# the last summary closes the output.
# Before building it checks the sources against .clang-format (scripts/format.sh --check).
#   scripts/test.sh [PRESET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux linux-asan linux-tsan windows windows-x86)
scripts/setup.sh
status=0
scripts/format.sh --check || status=$?
for preset in "${presets[@]}"; do
  started=$SECONDS
  scripts/build.sh "$preset"
  if [ -x scripts/fuzz.sh ] && [ "$preset" = linux ]; then
    scripts/fuzz.sh --ci || status=$?
  fi
  case "$preset" in windows*) scripts/wine-run.sh --prepare ;; esac
  echo "== ctest: $preset"
  run=(ctest --preset "$preset" -j "$(nproc)" --timeout 600)
  # The linux suite runs as on a machine booted a minute ago (a time namespace whose clocks
  # start at one minute), where the namespace can be had: no test may assume a long uptime.
  # linux-asan runs on the machine's own clocks.
  if [ "$preset" = linux ]; then
    young=$(( $(cut -d. -f1 /proc/uptime) - 60 ))
    if [ "$young" -gt 0 ] && unshare -T --monotonic=-$young --boottime=-$young true 2>/dev/null; then
      echo "(in a time namespace: uptime 60 s)"
      run=(unshare -T --monotonic=-$young --boottime=-$young --fork "${run[@]}")
    fi
  fi
  if ! "${run[@]}"; then
    status=1
    # Once more, one at a time, with their output at the end of the log, where a reader of a
    # shortened log looks: a failure that passes now was a flake, and still fails the run.
    echo "== $preset: the failed tests once more"
    "${run[@]}" --rerun-failed -j 1 --output-on-failure || true
  fi
  echo "== $preset: built and tested in $((SECONDS - started)) s"
done
exit $status

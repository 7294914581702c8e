#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: each fuzz target for a bounded time
# first (preset linux only), then ctest, whose summary closes the output.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-linux}"
scripts/setup.sh
scripts/build.sh "$preset"
status=0
if [ -x scripts/fuzz.sh ] && [ "$preset" = linux ]; then
  scripts/fuzz.sh --ci || status=$?
fi
ctest --preset "$preset" -j "$(nproc)" --timeout 600 || status=$?
exit $status

#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test; prints ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-linux}"
scripts/setup.sh
scripts/build.sh "$preset"
status=0
ctest --preset "$preset" -j "$(nproc)" --timeout 600 || status=$?
if [ -x scripts/fuzz.sh ] && [ "$preset" = linux ]; then
  scripts/fuzz.sh --ci || status=$?
fi
exit $status

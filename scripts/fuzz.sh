#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz, clang) and runs every fuzz/<name>/ target for
# a bounded time on its kept corpus. Exits non-zero when a target crashes, leaks or hangs.
#   scripts/fuzz.sh [--ci] [--time SECONDS] [name ...]
# --ci: new inputs go to a scratch directory, never into the kept corpora.
set -euo pipefail
cd "$(dirname "$0")/.."

ci=0
seconds=20
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) ci=1 ;;
    --time) seconds="$2"; shift ;;
    -h|--help) sed -n 2,6p "$0"; exit 0 ;;
    *) names+=("$1") ;;
  esac
  shift
done

if [ ${#names[@]} -eq 0 ]; then
  for dir in fuzz/*/; do
    [ -f "$dir/CMakeLists.txt" ] && names+=("$(basename "$dir")")
  done
fi
if [ ${#names[@]} -eq 0 ]; then
  echo "fuzz: no targets under fuzz/"
  exit 0
fi

targets=()
for n in "${names[@]}"; do targets+=("fuzz_$n"); done
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz --target "${targets[@]}" -j "${FUZZ_JOBS:-2}"

bin=build/linux-fuzz/bin
scratch=$(mktemp -d "${TMPDIR:-/tmp}/skelder-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for n in "${names[@]}"; do
  exe="$bin/fuzz_$n"
  corpus="fuzz/$n/corpus"
  mkdir -p "$corpus" "$scratch/$n"
  if [ $ci -eq 1 ]; then dirs=("$scratch/$n" "$corpus"); else dirs=("$corpus"); fi
  echo "fuzz: $n for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$n/" "${dirs[@]}" >"$scratch/$n.log" 2>&1; then
    echo "fuzz: $n FAILED"
    tail -40 "$scratch/$n.log"
    for a in "$scratch/$n"/crash-* "$scratch/$n"/leak-* "$scratch/$n"/timeout-* "$scratch/$n"/oom-*; do
      [ -f "$a" ] && { mkdir -p build/fuzz-artifacts; cp "$a" build/fuzz-artifacts/; echo "fuzz: kept $(basename "$a") in build/fuzz-artifacts/"; }
    done
    status=1
  else
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$scratch/$n.log" | tail -1 || true
    echo "fuzz: $n ok"
  fi
done
exit $status

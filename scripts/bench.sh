#!/usr/bin/env bash
# Builds the linux preset and runs every benchmark in turn; arguments go to none of them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh linux
bin=build/linux/bin
for program in bench_collection bench_deploy_folder bench_platform_files bench_hostsim_scale bench_ftp_transfer \
  bench_deploy_ftp bench_deploy_ftp_parallel; do
  echo "== $program"
  "$bin/$program"
done

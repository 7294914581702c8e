#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need, from Debian's packages. Runs as
# root (or through sudo); installs only what is missing, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-pyftpdlib vsftpd lftp curl
  dante-server microsocks
  procps iproute2 time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# Debian starts vsftpd and danted as system services where it can; the tests start their own
# servers with their own configs, so a system instance must not hold the ports.
for svc in vsftpd danted; do
  if command -v service >/dev/null 2>&1; then service "$svc" stop >/dev/null 2>&1 || true; fi
  # Only the system daemon (started without a config file of ours); test servers are left alone.
  pkill -x -f "/usr/sbin/$svc( -D)?" >/dev/null 2>&1 || true
done
echo "setup: done"

#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need, from Debian's packages. Runs as
# root (or through sudo); installs only what is missing, so a second run is quick.
set -euo pipefail

# What each is for: the build (compiler, cmake, ninja, GoogleTest), the fuzz targets (clang and
# its sanitizer runtime) and the format check (clang-format), the test servers (pyftpdlib, vsftpd,
# dante, microsocks), the tests' tools (pkill, ip netns), and the benchmarks' rivals (lftp, curl).
packages=(
  build-essential cmake ninja-build libgtest-dev
  clang libclang-rt-dev clang-format
  python3 python3-pyftpdlib vsftpd dante-server microsocks
  procps iproute2
  lftp curl
  # The TLS tests' certificates (the openssl command).
  openssl
  # The Windows build (mingw-w64, the posix-thread compilers) and its tests under wine, 64-bit
  # and 32-bit (the host's architecture).
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# wine32 comes from Debian's i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# Wine must not run as root (root ignores the read-only attribute): scripts/wine-run.sh runs it
# as this system user when called as root.
if ! id skelder-wine >/dev/null 2>&1; then
  $SUDO useradd --system --create-home --home-dir /var/lib/skelder-wine --shell /usr/sbin/nologin skelder-wine
  echo "setup: made the user skelder-wine, who runs the Windows tests under wine"
fi

# Debian starts vsftpd and danted as system services where it can; the tests start their own
# servers with their own configs, and a system instance would hold their ports. It is stopped
# after asking on a terminal; without one (CI) it is stopped only where CI is set, else named.
for svc in vsftpd danted; do
  # Only the system daemon (started without a config file of ours); test servers are left alone.
  pattern="/usr/sbin/$svc( -D)?"
  pgrep -x -f "$pattern" >/dev/null 2>&1 || continue
  stop=no
  if [ -t 0 ]; then
    read -r -p "setup: stop the system's $svc? It holds the ports the tests use. [y/N] " answer
    case "$answer" in [yY]*) stop=yes ;; esac
  elif [ -n "${CI:-}" ]; then
    stop=yes
  fi
  if [ "$stop" = yes ]; then
    if command -v service >/dev/null 2>&1; then service "$svc" stop >/dev/null 2>&1 || true; fi
    pkill -x -f "$pattern" >/dev/null 2>&1 || true
    echo "setup: stopped the system's $svc"
  else
    echo "setup: the system's $svc still runs; tests that need its ports will fail or skip"
  fi
done
echo "setup: done"

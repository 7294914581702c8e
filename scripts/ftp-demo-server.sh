#!/usr/bin/env bash
# A local FTP server for trying out FTP deployment: pyftpdlib on 127.0.0.2, port 21 (the
# add-in always connects to the FTP default port), anonymous log-in with write rights, serving a
# fresh temporary folder. Loopback only.
#
#   scripts/ftp-demo-server.sh start   starts it in the background and prints the location line
#                                      to add to a web folder (e.g. ftp://127.0.0.2/site)
#   scripts/ftp-demo-server.sh stop    stops it and removes its folder
#   scripts/ftp-demo-server.sh root    prints the served folder (to look at what was deployed)
#
# Exits non-zero with the reason on stderr when the server cannot be had (pyftpdlib missing,
# port 21 not bindable without root, address taken).
set -euo pipefail

HOST="${SKELDER_FTP_DEMO_HOST:-127.0.0.2}"
PY=/usr/bin/python3   # Debian's interpreter: the one that sees python3-pyftpdlib
STATE="${TMPDIR:-/tmp}/skelder-ftp-demo"

fail() { echo "ftp-demo-server: $*" >&2; exit 1; }

running() { [ -f "$STATE/pid" ] && kill -0 "$(cat "$STATE/pid")" 2>/dev/null; }

case "${1:-start}" in
  start)
    if running; then
      echo "ftp://$HOST/site"
      exit 0
    fi
    [ -x "$PY" ] && "$PY" -c "import pyftpdlib" 2>/dev/null || fail "pyftpdlib is not installed (package python3-pyftpdlib)"
    case "$HOST" in 127.*) ;; *) fail "refusing to listen on $HOST: loopback addresses only";; esac
    rm -rf "$STATE"
    mkdir -p "$STATE/root/site"
    "$PY" -m pyftpdlib -i "$HOST" -p 21 -w -d "$STATE/root" >"$STATE/server.log" 2>&1 &
    echo $! >"$STATE/pid"
    for _ in $(seq 1 100); do
      if (exec 3<>"/dev/tcp/$HOST/21") 2>/dev/null; then
        echo "ftp://$HOST/site"
        exit 0
      fi
      running || break
      sleep 0.05
    done
    reason="$(tail -n 3 "$STATE/server.log" 2>/dev/null || true)"
    kill "$(cat "$STATE/pid")" 2>/dev/null || true
    rm -rf "$STATE"
    fail "the server did not start on $HOST:21 (port 21 needs root): $reason"
    ;;
  stop)
    if running; then kill "$(cat "$STATE/pid")" 2>/dev/null || true; fi
    rm -rf "$STATE"
    ;;
  root)
    running || fail "not running"
    echo "$STATE/root/site"
    ;;
  *)
    fail "usage: $0 start|stop|root"
    ;;
esac

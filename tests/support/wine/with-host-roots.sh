#!/bin/sh
# Runs a command with BUNDLE in place of the host's trusted certificates, for that command alone:
#   with-host-roots.sh BUNDLE COMMAND [ARG ...]
# Wine builds the Windows root store from the host's bundle, and a certificate added to that
# store through the system's API is dropped, so a test authority can be trusted under wine only
# on the Linux side: a private mount namespace (root only) puts BUNDLE over the host's file. Where
# that cannot be had the command runs as it is, and the tests that need the authority say so.
bundle="$1"
shift
host_bundle=/etc/ssl/certs/ca-certificates.crt
if [ "$(id -u)" -eq 0 ] && [ -f "$bundle" ] && [ -f "$host_bundle" ] && command -v unshare >/dev/null 2>&1; then
  exec unshare --mount --propagation private sh -c \
    'mount --bind "$1" "$2" 2>/dev/null || echo "with-host-roots: could not put $1 over $2" >&2; shift 2; exec "$@"' \
    sh "$bundle" "$host_bundle" "$@"
fi
exec "$@"

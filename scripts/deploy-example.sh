#!/usr/bin/env bash
# The sample web folder deployed end to end: examples/site becomes a repository of the stand-in
# host under the build folder, its page of folder properties gets one directory location under
# the build folder (a scripted run of the add-in's property page), and ardmoor selects the
# folder and runs the add-in's "Deploy Folder..." action with the terminal user interface. Run
# it twice: the second run sends nothing.
#
#   scripts/deploy-example.sh [--yes] [PRESET]    (default preset: linux; --yes: no questions)
#
# Everything it writes (repository copy, per-user settings, deployed site) stays under
# build/<preset>/example/. The exit status is ardmoor's: 0 succeeded, 1 failed, 2 cancelled,
# 3 nothing deployed, 64 a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."
yes=()
preset=linux
for arg in "$@"; do
  case "$arg" in
    --yes) yes=(--yes) ;;
    *) preset="$arg" ;;
  esac
done
build="build/$preset"
[ -n "${SKELDER_BUILD_DIR:-}" ] && build="$SKELDER_BUILD_DIR"
bin="$build/bin"
[ -x "$bin/ardmoor" ] && [ -f "$bin/Skelder.so" ] || scripts/build.sh "$preset" >/dev/null

root="$PWD/$build/example"
repo="$root/site"
web="$root/web"
# The stand-in's registry and per-user folder live here, not in the user's own settings.
export XDG_CONFIG_HOME="$root/config"
mkdir -p "$root" "$XDG_CONFIG_HOME"
# An FTP location too, on a local FTP server on loopback, when one can be started here.
ftp_site=""
if ftp_line="$(scripts/ftp-demo-server.sh start 2>"$root/ftp-demo.err")"; then
  ftp_site="${ftp_line#ftp://}"
  echo "FTP location: $ftp_line (local FTP server; files land in $(scripts/ftp-demo-server.sh root))"
else
  echo "No FTP location: $(cat "$root/ftp-demo.err")"
fi
# The page is filled again whenever the set of locations changes (first run, FTP server gained
# or lost), so the deployment never names a server that is not there.
if [ ! -d "$repo/.ardmoor" ] || [ "$(cat "$root/locations" 2>/dev/null)" != "$web|$ftp_site" ]; then
  rm -rf "$repo"
  cp -r examples/site "$repo"
  "$bin/ardmoor" init "$repo" >/dev/null
  # The folder's locations are set on the add-in's "Web Projects" page, played from a script:
  # "&Add Path" with the directory chosen in the folder browser, "&Add FTP" with the site typed
  # into the FTP Connection dialog, then the dialog's OK.
  mkdir -p "$web"
  {
    printf 'click btnAddPath\nbrowse select %s\nbrowse ok\n' "$web"
    [ -n "$ftp_site" ] && printf 'click btnFtp\nset edtFtpSite %s\npress Enter\n' "$ftp_site"
    printf 'press Enter\n'
  } >"$root/properties.script"
  "$bin/ardmoor" --repository "$repo" properties "$repo" --install-dir "$bin" --script "$root/properties.script"
  echo "$web|$ftp_site" >"$root/locations"
fi
status=0
"$bin/ardmoor" --repository "$repo" deploy "$repo" --install-dir "$bin" "${yes[@]}" || status=$?
echo "Deployed files are in $web${ftp_site:+ and on ftp://$ftp_site}; the log is $bin/Skelder.log"
exit $status

#!/usr/bin/env bash
# Regenerates the pictures of the add-in's windows in docs/screenshots/ in one run: the deploy
# dialog (confirmation, mid-run, succeeded, failed), the property page in ardmoor's "Folder
# properties" window, the FTP Connection dialog and the folder browser.
#   scripts/screenshots.sh
# The Windows build (windows-x86, the host's architecture) runs under wine with the X11 graphics
# driver on an Xvfb display of its own, inside a wine desktop of 800x600 that draws the window
# frames; window_probe (built beside ardmoor.exe) waits for windows and clicks their buttons, and
# ImageMagick's import takes each picture, cut to the window. Wine runs as the tests run it (as
# the user skelder-wine when called as root) but in a prefix of its own, made once for pictures,
# so the tests' prefix and its wine server are never touched. Xvfb, the desktop, the wine server
# of the pictures' prefix and the slow FTP server end with the script, whichever way it ends.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
preset=windows-x86
bin="$root/build/$preset/bin"
out="$root/docs/screenshots"
# The slow FTP server for the run in progress, and an address where nothing listens. A
# location always names port 21, which only root may bind.
ftp_host=127.0.0.205
refusing_host=127.0.0.206
ftp_port=21

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null || need+=(imagemagick)
dpkg-query -W -f='${Status}' fonts-wine 2>/dev/null | grep -q "install ok installed" || need+=(fonts-wine)
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || need+=(python3-pyftpdlib)
if [ ${#need[@]} -gt 0 ]; then
  echo "screenshots: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi

if [ ! -f "$root/build/$preset/CMakeCache.txt" ]; then
  cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset" -j2 --target ardmoor Skelder skelder_hostsim window_probe >/dev/null

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(runuser -u skelder-wine --)
  prefix="$(getent passwd skelder-wine | cut -d: -f6)/screenshots-prefix"
  # The build must be reachable for that user: search permission on the folders above it.
  dir="$bin"
  while [ "$dir" != / ]; do
    "${as_user[@]}" test -x "$dir" || chmod o+x "$dir"
    dir="$(dirname "$dir")"
  done
else
  prefix="${HOME:-/tmp}/.cache/skelder-wine-screenshots"
fi

work="$(mktemp -d /tmp/skelder-screenshots.XXXXXX)"
chmod 0777 "$work"
xvfb_pid=""
ftp_pid=""
display=""
wine_env() {
  "${as_user[@]}" env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TMPDIR=/tmp \
    DISPLAY="$display" "$@"
}
cleanup() {
  set +e
  # Only the pictures' prefix: its server takes the desktop and every program in it along.
  [ -n "$display" ] && wine_env wineserver -k >/dev/null 2>&1
  [ -n "$ftp_pid" ] && $SUDO kill "$ftp_pid" 2>/dev/null && wait "$ftp_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# A display of our own: the first free number from 90.
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  display=":$n"
  break
done
[ -n "$display" ] || { echo "screenshots: no free X display" >&2; exit 1; }
# No listening on TCP; any local user may draw (wine runs as another user than import).
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp -ac >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
[ -e "/tmp/.X11-unix/X${display#:}" ] || { echo "screenshots: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

if [ ! -d "$prefix" ]; then
  echo "screenshots: making the wine prefix $prefix"
  wine_env wineboot --init </dev/null >/dev/null 2>&1
fi
# Wine finds the caption glyphs (Marlett) and its dialog faces only in the prefix's own Fonts
# folder: the copies that fonts-wine installs go there.
fonts="$prefix/drive_c/windows/Fonts"
for f in /usr/share/wine/fonts/*.ttf; do
  [ -e "$fonts/$(basename "$f")" ] && continue
  "${as_user[@]}" cp "$f" "$fonts/"
done
# Real drawing on the display, and every program in one desktop named "skelder" of 800x600.
wine_env wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
wine_env wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d skelder /f >/dev/null 2>&1
wine_env wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v skelder /d 800x600 /f >/dev/null 2>&1
wine_env wine explorer /desktop=skelder,800x600 >/dev/null 2>&1 &

winpath() { printf 'Z:%s' "${1//\//\\}"; }
probe() { wine_env wine "$bin/window_probe.exe" "$@"; }
ardmoor() { wine_env wine "$bin/ardmoor.exe" --repository "$(winpath "$work/site")" "$@"; }
# Waits for a program of ours started in the background to end by itself.
wait_exit() {
  for _ in $(seq $((10 * $2))); do
    kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  echo "screenshots: a program did not end in $2 s" >&2
  return 1
}
# The picture of the window that shows TEXT, cut to it; an 8-bit palette where the window has
# no more than 256 colours, so the picture is the same, only smaller.
shoot() {
  local text="$1" name="$2" rect
  sleep 1  # the window paints itself after it appears
  rect="$(probe rect "$text" | tr -d '\r')"
  import -display "$display" -window root "$work/full.png"
  convert "$work/full.png" -crop "$rect" +repage -strip "$work/cut.png"
  if [ "$(identify -format %k "$work/cut.png")" -le 256 ]; then
    convert "$work/cut.png" -strip -define png:exclude-chunks=date,time "PNG8:$out/$name.png"
  else
    convert "$work/cut.png" -strip -define png:exclude-chunks=date,time "$out/$name.png"
  fi
  echo "screenshots: $name.png ($rect)"
}

# A small web folder with one larger picture, so an upload to the slow server takes a while.
mkdir -p "$work/site/img" "$work/ftp/site" "$out"
printf '<html><body>Home</body></html>\r\n' >"$work/site/index.htm"
printf '<html><body>About</body></html>\r\n' >"$work/site/about.htm"
printf 'body { margin: 0 }\r\n' >"$work/site/site.css"
head -c 400000 /dev/urandom >"$work/site/img/photo.jpg"
head -c 20000 /dev/urandom >"$work/site/img/logo.gif"
chmod -R a+rwX "$work/site" "$work/ftp"
ardmoor init "$(winpath "$work/site")" >/dev/null
set_notes() {
  printf '%s\r\n' "$@" >"$work/notes.txt"
  chmod a+r "$work/notes.txt"
  ardmoor notes '$' --set "$(winpath "$work/notes.txt")"
}

# The property page with two locations, the FTP Connection dialog over it, then the folder
# browser.
set_notes '[Web Folder]' "DeployTo=C:\\inetpub\\site,ftp://bob@$ftp_host/site" 'Enabled=1'
ardmoor properties '$' --ui win32 --install-dir "$(winpath "$bin")" >"$work/properties.log" 2>&1 &
app=$!
probe wait "Folder properties" 60
shoot "Folder properties" property-page
probe click "Add &FTP"
probe wait "FTP Connection" 30
probe set "FTP Connection" 0 "$ftp_host/site"
probe set "FTP Connection" 1 bob
shoot "FTP Connection" ftp-connection
probe click Cancel
probe wait "Folder properties" 30
sleep 0.5
probe click "&Add Path"
if probe wait "&New Folder" 15; then
  shoot "&New Folder" folder-browser
  probe click Cancel
  sleep 0.5
else
  echo "screenshots: the add-in showed no folder browser; folder-browser.png is left as it was" >&2
fi
probe click Cancel
wait_exit "$app" 30

# The slow server: anonymous uploads at 8 KB a second (the picture takes some 50 s).
$SUDO /usr/bin/python3 - "$work/ftp" "$ftp_host" "$ftp_port" >"$work/ftp.log" 2>&1 <<'EOF' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
root, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
authorizer = DummyAuthorizer()
authorizer.add_anonymous(root, perm="elradfmw")
ThrottledDTPHandler.read_limit = 8 * 1024
ThrottledDTPHandler.write_limit = 8 * 1024
FTPHandler.authorizer = authorizer
FTPHandler.dtp_handler = ThrottledDTPHandler
FTPServer((host, port), FTPHandler).serve_forever()
EOF
ftp_pid=$!
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/$ftp_host/$ftp_port") 2>/dev/null && break
  sleep 0.1
done

# A deployment that succeeds: the confirmation, the run in progress, the green outcome.
set_notes '[Web Folder]' "DeployTo=ftp://$ftp_host/site" 'Enabled=1'
ardmoor deploy '$' --ui win32 --install-dir "$(winpath "$bin")" >"$work/deploy.log" 2>&1 &
app=$!
probe wait "&Continue" 60
shoot "&Continue" deploy-confirm
probe click "&Continue"
sleep 4
shoot "&Done" deploy-progress
probe wait "The folder deployed successfully." 180
shoot "&Done" deploy-succeeded
probe click "&Done"
wait_exit "$app" 30

# One that fails: nothing listens at the location; the error boxes are answered with OK.
set_notes '[Web Folder]' "DeployTo=ftp://$refusing_host/site" 'Enabled=1'
ardmoor deploy '$' --ui win32 --install-dir "$(winpath "$bin")" >"$work/deploy-failed.log" 2>&1 &
app=$!
probe wait "&Continue" 60
probe click "&Continue"
probe wait "One or more errors occurred while deploying." 120 --dismiss OK
shoot "&Done" deploy-failed
probe click "&Done"
wait_exit "$app" 30
echo "screenshots: written to $out"

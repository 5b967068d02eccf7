#!/usr/bin/env bash
# Installs what is missing, builds Skylark and starts it from its runnable folder.
#
# On the first run (no ftp.txt in the runnable folder yet) it sets up a demo: an
# ftp.txt pointing at a local FTP server on 127.0.0.1:2121 (user demo, password demo)
# that this script starts and stops with Skylark, and sample images 00.jpg to 23.jpg.
# A user's own ftp.txt and images are never overwritten; the demo server is only
# started while ftp.txt still points at it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"

# Without a display Qt stops with advice to reinstall the program, which sends the user
# the wrong way; say what is missing before spending a build on it. This comes after
# the install so that the xvfb-run it suggests is there.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  me=$0
  [[ $me == */* ]] || me=./$me
  {
    echo "Skylark is a desktop program and needs a desktop session: no DISPLAY or"
    echo "WAYLAND_DISPLAY is set here. Start it from a terminal in your desktop, or run it"
    echo "on a virtual screen with:"
    echo "  xvfb-run -a $me"
  } >&2
  exit 1
fi

cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)"

app="$top/build/Skylark"
demo_server="127.0.0.1:2121"
demo_home="$top/build/demo-ftp"

if [ ! -e "$app/ftp.txt" ]; then
  # Upload at minute 00, second 30 of every hour into the demo server's /upload.
  printf '"%s","demo","demo","%s/upload","00","30"\r\n' "$demo_server" "$demo_server" >"$app/ftp.txt"
  chmod 600 "$app/ftp.txt"
  echo "Wrote a demo ftp.txt: server $demo_server, user demo, password demo."
fi

for h in $(seq -w 0 23); do
  [ -e "$app/$h.jpg" ] && continue
  convert -size 320x240 xc:'#3080E0' -fill white -gravity center -pointsize 64 \
    -annotate 0 "$h:00" "$app/$h.jpg" 2>/dev/null ||
    convert -size 320x240 xc:'#3080E0' "$app/$h.jpg"
done

server_pid=
if head -c 64 "$app/ftp.txt" | grep -q "^\"$demo_server\""; then
  mkdir -p "$demo_home/upload" "$demo_home/pub/camera"
  [ -e "$demo_home/readme.txt" ] || echo "Skylark demo server" >"$demo_home/readme.txt"
  /usr/bin/python3 "$top/scripts/demo_ftp_server.py" --home "$demo_home" --port 2121 &
  server_pid=$!
  trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
  sleep 0.5
fi

cd "$app"
./skylark "$@"

#!/usr/bin/env bash
# Starts the real window under Xvfb against the local demo FTP server, connects, opens
# a folder and saves a picture of it, to see what a user sees (Japanese captions
# included).   scripts/screenshot.sh [OUTPUT.png]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$top/docs/screenshot.png}")
bash "$top/scripts/deps.sh" --screenshot
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/app" "$work/ftp/pub/camera" "$work/ftp/upload"
echo hello >"$work/ftp/readme.txt"
cp "$top"/build/Skylark/* "$work/app/"
rm -f "$work/app/ftp.txt"
# The hour's images, as a first run.sh draws them, so the file list shows what it shows
# a new user even when run.sh has never run here.
for h in $(seq -w 0 23); do
  [ -e "$work/app/$h.jpg" ] || convert -size 320x240 xc:'#3080E0' "$work/app/$h.jpg"
done
# The same server address as the demo run.sh sets up, so the picture matches the README;
# that also means a demo server left running elsewhere has to be stopped first.
printf '"127.0.0.1:2121","demo","demo","127.0.0.1:2121/upload","00","30"\r\n' >"$work/app/ftp.txt"
/usr/bin/python3 "$top/scripts/demo_ftp_server.py" --home "$work/ftp" --port 2121 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  grep -q '^demo FTP server on' "$work/server.log" && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; server_pid=; exit 1; }
  sleep 0.1
done

cat >"$work/shoot.sh" <<SHOOT
#!/usr/bin/env bash
cd "$work/app"
./skylark &
pid=\$!
xdotool search --sync --name Skylark >/dev/null
sleep 1
xdotool mousemove 96 172 click 1   # Connect
sleep 1.5
xdotool mousemove 90 96 click 1    # a folder under the server
sleep 1.5
import -window root -crop 576x358+0+0 "$out"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 800x600x24" "$work/shoot.sh"
echo "saved $out"

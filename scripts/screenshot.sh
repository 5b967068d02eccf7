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
printf '"127.0.0.1:2122","demo","demo","127.0.0.1:2122/upload","00","30"\r\n' >"$work/app/ftp.txt"
/usr/bin/python3 "$top/scripts/demo_ftp_server.py" --home "$work/ftp" --port 2122 >/dev/null 2>&1 &
server_pid=$!

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

#!/usr/bin/env bash
# Starts the real window under Xvfb with a sample ftp.txt and saves a picture of it,
# to see what a user sees (Japanese captions included).
#   scripts/screenshot.sh [OUTPUT.png]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$top/docs/screenshot.png}")
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/build/Skylark/* "$work/"
printf '"ftp.example.jp","camera","secret","ftp.example.jp/pub/cam","30","20"\r\n' >"$work/ftp.txt"

cat >"$work/shoot.sh" <<SHOOT
#!/usr/bin/env bash
cd "$work"
./skylark &
pid=\$!
sleep 3
import -window root -crop 576x358+0+0 "$out"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 800x600x24" "$work/shoot.sh"
echo "saved $out"

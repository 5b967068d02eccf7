#!/usr/bin/env bash
# Works the real window from outside, as a user would, on the X display in DISPLAY:
#
#   tests/smoke_window.sh [--sftp] FOLDER COMMAND...
#
# FOLDER is a program folder holding the program and its pictures; COMMAND starts it
# there (./skylark, or wine skylark.exe). Against the test FTP server on loopback (with
# --sftp: the test SFTP server, whose one host key is an ed25519 key) it checks that
# the window comes up without a box, that a second one in the folder ends with status
# 3, that Connect lists the server's folder, that the manual transfer lands the hour's
# image byte-identical once the hourly upload is armed (which names it), that the
# settings save writes ftp.txt, and that End ends the program within a second; over
# SFTP also that the server's key was recorded in known_hosts. The clicks go to the
# controls' places in the window, which are fixed.
set -euo pipefail
sftp=false
if [ "$1" = --sftp ]; then
  sftp=true
  shift
fi
folder=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server_pid=
app_pid=
finish() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "smoke: $*" >&2
  echo "---- the program's log ----" >&2
  tail -n 30 "$folder/skylark.log" >&2 || true
  exit 1
}
# Waits up to $1 tenths of a second for the command that follows to succeed.
within() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
logged() { grep -qF -- "$1" "$folder/skylark.log" 2>/dev/null; }

mkdir -p "$work/home/upload"
if $sftp; then
  /usr/bin/python3 "$here/sftpserver.py" "$work/commands.log" --user demo --password demo --home "$work/home" \
    --host-key "$work/host_key" --key-type ssh-ed25519 >"$work/port" 2>"$work/server.err" &
else
  /usr/bin/python3 "$here/ftpserver.py" "$work/commands.log" --user demo --password demo --home "$work/home" \
    >"$work/port" 2>"$work/server.err" &
fi
server_pid=$!
within 100 test -s "$work/port" || fail "the test server did not start"
port=$(head -n1 "$work/port")
server=127.0.0.1:$port
! $sftp || server=sftp://$server
rm -f "$folder/known_hosts"

# Every hour's image, each different, so whatever hour it is when the button is pressed,
# the one that lands can be compared with its own.
for h in $(seq -w 0 23); do head -c 50000 /dev/urandom >"$folder/$h.jpg"; done
# The hourly upload's minutes, before and after the save, are half an hour away, so that
# no hourly stage runs while the smoke test does.
minute=$(printf %02d $(((10#$(date +%M) + 30) % 60)))
saved_minute=$(printf %02d $(((10#$minute + 1) % 60)))
printf '"%s","demo","demo","%s/upload","%s","30"\r\n' "$server" "$server" "$minute" >"$folder/ftp.txt"
rm -f "$folder/skylark.log"

cd "$folder"
"$@" >"$work/first.out" 2>&1 &
app_pid=$!
window=
find_window() { window=$(xdotool search --onlyvisible --name '^Skylark$' 2>/dev/null | head -n1) && [ -n "$window" ]; }
within 600 find_window || fail "no window within a minute"
sleep 2 # time for a box that follows the window
! logged 'box: shown' || fail "a box opened at the start"
echo "smoke: the window is up"

second=0
timeout 60 "$@" >"$work/second.out" 2>&1 || second=$?
[ "$second" = 3 ] || fail "a second one in the folder ended with status $second, not 3"
echo "smoke: a second one in the folder ended with status 3"

# The window's client area is 576 x 358 pixels; whatever frame surrounds it is split
# as borders on the sides and the bottom and a title bar above.
eval "$(xdotool getwindowgeometry --shell "$window")"
left=$(((WIDTH - 576) / 2))
top=$((HEIGHT - 358 - left))
click() {
  xdotool mousemove --window "$window" $((left + $1)) $((top + $2)) click 1
  sleep 0.3
}
# A box is answered with its default button, once the log says it is open. Nothing
# manages windows on the virtual screen, so the box is given the keyboard first.
answer_box() {
  within 100 logged "box: shown \"$1\"" || fail "no box saying $1"
  sleep 0.5
  local box
  box=$(xdotool search --onlyvisible --name '^Skylark$' 2>/dev/null | grep -vx "$window" | head -n1 || true)
  [ -z "$box" ] || xdotool windowfocus "$box" 2>/dev/null || true
  xdotool key Return
  within 50 logged "box: closed \"$1\"" || fail "the box saying $1 did not close on Return"
}

click 96 172 # Connect
listed() { grep -qE '^(MLSD|LIST|NLST|opendir)( |$)' "$work/commands.log"; }
within 300 listed || fail "Connect did not list the server's folder"
echo "smoke: Connect listed the server's folder"

click 235 274 # the hourly upload's minute
xdotool key ctrl+a
xdotool type "$saved_minute"
click 416 340 # 設定保存
saved() { grep -qF "\"$server/upload\",\"$saved_minute\",\"30\"" "$folder/ftp.txt"; }
within 100 saved || fail "the settings save did not write the new minute to ftp.txt"
echo "smoke: the settings save wrote ftp.txt"

click 256 244 # 下の時間に毎時転送: names the hour's image in the upper path box
click 444 244 # 上段から下段へマニュアル転送
answer_box 転送しました
landed=$(find "$work/home/upload" -name '[0-2][0-9].jpg' -printf '%f\n')
[ -n "$landed" ] || fail "no image landed on the server"
cmp "$work/home/upload/$landed" "$folder/$landed" || fail "$landed landed, but not byte-identical"
echo "smoke: the manual transfer landed $landed byte-identical"
if $sftp; then
  read -r type key _ <"$work/host_key.pub"
  grep -qxF "[127.0.0.1]:$port $type $key" "$folder/known_hosts" ||
    fail "known_hosts does not hold the server's $type key"
  echo "smoke: known_hosts holds the server's $type key"
fi

# The second one's words are still in the log after the first one wrote more.
logged 'already runs in this folder' || fail "the first one's later lines wrote over the second one's"

start=$(date +%s%N)
click 536 340 # End
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
within 30 ended || fail "End did not end the program within 3 s"
took=$((($(date +%s%N) - start) / 1000000))
app_pid=
[ "$took" -le 1000 ] || fail "End took $took ms to end the program"
echo "smoke: End ended the program in $took ms"

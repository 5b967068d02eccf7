#!/usr/bin/env bash
# Two Skylarks under wine, then the end of the Windows session, on the X display in
# DISPLAY and with wine's WINEPREFIX:
#
#   tests/smoke_endsession.sh FIRST SECOND
#
# FIRST and SECOND are program folders holding skylark.exe, its pictures and ftp.txt.
# Run it on a machine whose name is longer than the 15 characters Windows keeps of it
# (windows.sh gives it one of its own): the lock file then names the machine as
# %COMPUTERNAME% does, cut short. SECOND is given a copy of the lock of the running
# first one, as a crash leaves it when its process id then went to another folder's
# Skylark; the second one must take it over, not end. Then `wineboot --end-session`
# (WM_QUERYENDSESSION, WM_ENDSESSION) must end both, each having released its lock and
# written its end line as the log's last. wine, like Windows, ends a process once it
# has answered WM_ENDSESSION (it dies by SIGKILL), so what is not done by then is never
# done.
set -euo pipefail
first=$1
second=$2
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap finish EXIT
fail() {
  echo "smoke: $*" >&2
  local folder
  for folder in "$first" "$second"; do
    echo "---- the log in $folder ----" >&2
    tail -n 15 "$folder/skylark.log" >&2 || true
  done
  exit 1
}
. "$(dirname "$0")/smoke_common.sh"
windows() { xdotool search --onlyvisible --name '^Skylark$' 2>/dev/null | wc -l; }
shown() { [ "$(windows)" -ge "$1" ]; }
# The lock in folder $1 names the process that logged its start there.
owns() {
  local pid
  pid=$(sed -n 's/.* start: .* pid=\([0-9]*\).*/\1/p' "$1/skylark.log" 2>/dev/null | tail -n1)
  [ -n "$pid" ] && [ "$(head -n1 "$1/skylark.lock" 2>/dev/null)" = "$pid" ]
}
ended() { ! kill -0 "$1" 2>/dev/null; }
gone() {
  local pid
  for pid in "${pids[@]}"; do
    ended "$pid" || return 1
  done
}
start() {
  rm -f "$1/skylark.log"
  (cd "$1" && exec wine skylark.exe) >"$1/wine.out" 2>&1 &
  pids+=($!)
  # Killed by design at the end; the shell need not say so.
  disown $!
}

start "$first"
within 600 shown 1 || fail "the first one's window did not come up within a minute"
owns "$first" || fail "the first one does not hold its folder's lock"
name=$(sed -n 3p "$first/skylark.lock")
echo "smoke: the first one is up; its lock names the machine $name (the host name is $(hostname))"
[ "${#name}" -le 15 ] && [ "${name,,}" != "$(hostname)" ] ||
  fail "the lock names the machine $name: this check needs a host name longer than 15 characters"

cp "$first/skylark.lock" "$second/skylark.lock"
start "$second"
within 600 shown 2 || fail "the second one did not come up beside the first, with its lock copied"
! grep -qF 'already runs' "$second/skylark.log" || fail "the second one took the copied lock for a living one's"
owns "$second" || fail "the second one is up but does not hold its folder's lock"
! grep -qF 'box: shown' "$second/skylark.log" || fail "the second one opened a box"
echo "smoke: the second one took over a lock of a living Skylark, written on a long-named machine"

sleep 2
# wineboot asks one process after another and waits for every window's answer; each
# Skylark takes about two seconds here, most of them in wine, which waits that long for
# a window manager to withdraw the closed window. A window that does not answer within
# five seconds makes wineboot wait on with a dialog for a person to press, so it runs
# in the background, and Skylark is judged by what it did.
wine wineboot --end-session >/dev/null 2>&1 &
wineboot=$!
within 300 gone ||
  fail "a Skylark still ran 30 s after the end of the session began; wine's processes: $(ps -o pid=,etime=,args= -C wineboot.exe,skylark.exe,explorer.exe | tr -s ' \n' ' ')"
[ "$(windows)" -eq 0 ] || fail "a window was still there after both processes had ended"
within 50 ended "$wineboot" ||
  echo "smoke: both Skylarks ended, but wineboot still waits (for a window that is not Skylark's)"
for folder in "$first" "$second"; do
  [ ! -e "$folder/skylark.lock" ] || fail "the end of the session left $folder/skylark.lock behind"
  last=$(tail -n1 "$folder/skylark.log")
  [[ $last == *" INFO end: WM_ENDSESSION (exit status 0)" ]] ||
    fail "the log's last line in $folder is not the end line: $last"
  grep -qF 'end requested: WM_ENDSESSION' "$folder/skylark.log" ||
    fail "the end of the session did not go through Skylark's own ending in $folder"
done
echo "smoke: the end of the session ended both; locks released, end lines last"

#!/usr/bin/env bash
# A week of hourly uploads, measured: the real program (a release build, started with
# --arm and drawn off screen) against the real test server (tests/ftpserver.py) for
# 7 x 24 hourly cycles, on a clock that libfaketime runs fast.
#
#   scripts/soak.sh [HOURS=168]
#
# The clock: each hour, the 28 seconds around the upload (connect at :10, upload at :20,
# disconnect at :30) run at 20 times real speed, so the network bounds (30 s) still
# leave a loaded machine a second and a half; the rest of the hour runs at 1000 times
# real speed for two seconds (the hour change and ten thousand or so idle timer ticks
# included) and the remainder is skipped. libfaketime takes the new speed from a file
# at once (FAKETIME_NO_CACHE); every change moves the clock forward only.
#
# Every odd hour has a fault: the server gone, the login refused, the disk full, the
# connection dropped in the middle of the upload, the server silent after STOR, or the
# hour's image missing. Every even hour's image is new and must land byte-identical.
# The faults that pass (all but the refused login and the full disk) are over 20 s
# after the upload second, and that hour is counted when its image landed afterwards,
# on a try; those that do not pass must cost no login after the hour's own connect.
# Resident memory, open descriptors and threads are read from /proc after every hour
# and printed at the start, the peak and the end; the script fails when a good hour did
# not land or when descriptors or threads grew.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
hours=${1:-168}
build="$top/build-soak"

bash "$top/scripts/deps.sh" --soak
launcher=
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release $launcher >/dev/null
cmake --build "$build" -j2 --target skylark >/dev/null

preload=$(dpkg -L libfaketime | grep '/libfaketimeMT\.so\.1$' | head -n1)
[ -n "$preload" ] || { echo "libfaketime not found"; exit 1; }

work=$(mktemp -d /tmp/skylark-soak.XXXXXX)
prog="$work/Skylark"
home="$work/server"
clockfile="$work/faketime"
commands="$work/commands.log"
mkdir -p "$prog" "$home/pub"
cp "$build/Skylark/"* "$prog/"
: >"$commands"

skylark_pid=
server_pid=
cleanup() {
    local status=$?
    for pid in $skylark_pid $server_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "${SOAK_KEEP:-0}" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A free port the server keeps across its restarts.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
password='soak-pw'
printf '"127.0.0.1:%s","soak","%s","127.0.0.1:%s/pub","30","20"\r\n' "$port" "$password" "$port" >"$prog/ftp.txt"

# server OPTIONS...: (re)starts the test server on the port with these options; with
# the option "gone", leaves it stopped.
server() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
    [ "${1:-}" = gone ] && return 0
    local out="$work/server.out"
    : >"$out"
    /usr/bin/python3 "$top/tests/ftpserver.py" "$commands" --home "$home" --port "$port" \
        --user soak --password "$password" "$@" >"$out" 2>>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do
        [ -s "$out" ] && return 0
        sleep 0.05
    done
    echo "the test server did not start"; cat "$work/server.err"; exit 1
}

# clock TIME RATE: the program's clock shows TIME (UTC) from now on, running at RATE.
clock() {
    printf '@%s x%s\n' "$1" "$2" >"$clockfile.new"
    mv "$clockfile.new" "$clockfile"
}

start_day=$(date -u -d 'today' +%Y-%m-%d)
at() { date -u -d "$start_day 00:00:00 UTC + $1 hours" "+%Y-%m-%d %H"; }

# sample: "rss_kB fds threads" of the program now.
sample() {
    local rss threads fds
    rss=$(awk '/^VmRSS:/{print $2}' "/proc/$skylark_pid/status")
    threads=$(awk '/^Threads:/{print $2}' "/proc/$skylark_pid/status")
    fds=$(ls "/proc/$skylark_pid/fd" | wc -l)
    echo "$rss $fds $threads"
}

# The program starts on the evening before, with time to come up and arm.
server
clock "$(date -u -d "$start_day 00:00:00 UTC - 10 minutes" '+%Y-%m-%d %H:%M:%S')" 1
(
    cd "$prog"
    exec env LD_PRELOAD="$preload" FAKETIME_TIMESTAMP_FILE="$clockfile" FAKETIME_NO_CACHE=1 TZ=UTC \
        QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 ./skylark --arm >"$work/stdout" 2>"$work/stderr"
) &
skylark_pid=$!
for _ in $(seq 200); do
    grep -q 'hourly: armed' "$prog/skylark.log" 2>/dev/null && break
    sleep 0.1
done
grep -q 'hourly: armed' "$prog/skylark.log" || { echo "Skylark did not arm"; cat "$work/stderr"; exit 1; }

faults=(gone refused full dropped silent missing)
started=$(date +%s)
first=$(sample)
samples="$work/samples"
: >"$samples"
landed=0 good=0 bad_hours=""
passing=0 recovered=0 lasting_retried=""
echo "soak: $hours hourly cycles, program pid $skylark_pid, server port $port"
for ((h = 0; h < hours; h++)); do
    stamp=$(at "$h")
    file=$(printf '%02d.jpg' $((h % 24)))
    # Stored under the final name or a temporary one beside it, then renamed.
    stores_before=$(grep -c "^STOR $file" "$commands" || true)
    if ((h % 2 == 0)); then
        kind=plain
        head -c $((20000 + (RANDOM % 40000))) /dev/urandom >"$prog/$file"
        rm -f "$home/pub/$file"
        server
    else
        kind=${faults[$(((h / 2) % ${#faults[@]}))]}
        [ -e "$prog/$file" ] || head -c 30000 /dev/urandom >"$prog/$file"
        case $kind in
        gone) server gone ;;
        refused) server --refuse-login ;;
        full) server --disk-full ;;
        dropped) server --drop-after-bytes 5000 ;;
        silent) server --silent-from STOR ;;
        missing) rm -f "$prog/$file"; server ;;
        esac
    fi
    logins_before=$(grep -c '^USER ' "$commands" || true)
    clock "$stamp:30:05" 20
    sleep 1.4
    case $kind in
    gone | dropped | silent | missing)
        # The fault passes at :30:40; the tries of the next half minute run at the
        # stages' speed, so the network bounds hold.
        clock "$stamp:30:40" 20
        [ -e "$prog/$file" ] || head -c 30000 /dev/urandom >"$prog/$file"
        server
        sleep 1.75
        clock "$stamp:31:15" 1000
        passing=$((passing + 1))
        cmp -s "$prog/$file" "$home/pub/$file" && recovered=$((recovered + 1))
        ;;
    refused | full)
        clock "$stamp:30:40" 1000
        sleep 0.5 # what a try would do, at the latest 15 s (at this speed, moments) later
        # The connect stage logs in twice (both ticks of its second) when refused.
        logins=$(($(grep -c '^USER ' "$commands" || true) - logins_before))
        [ "$kind" = refused ] && [ "$logins" -gt 2 ] && lasting_retried="$lasting_retried $stamp($logins logins)"
        [ "$kind" = full ] && [ "$logins" -gt 1 ] && lasting_retried="$lasting_retried $stamp($logins logins)"
        ;;
    *) clock "$stamp:30:40" 1000 ;;
    esac
    stores=$(( $(grep -c "^STOR $file" "$commands" || true) - stores_before ))
    if [ "$kind" = plain ]; then
        good=$((good + 1))
        if cmp -s "$prog/$file" "$home/pub/$file"; then
            landed=$((landed + 1))
        else
            bad_hours="$bad_hours $stamp($stores STOR)"
        fi
    fi
    s=$(sample)
    echo "$h $s" >>"$samples"
    if ((h % 24 == 23)); then
        echo "  day $(((h + 1) / 24)): $landed of $good good hours landed; rss_kB fds threads now: $s; $(($(date +%s) - started)) s"
    fi
    sleep 2.0
done
elapsed=$(($(date +%s) - started))

# Start: before the first cycle; peak and end over the cycles.
read -r rss0 fd0 th0 <<<"$first"
read -r rss1 fd1 th1 <<<"$(awk 'NR==1{print $2, $3, $4}' "$samples")"
read -r rssN fdN thN <<<"$(tail -n1 "$samples" | awk '{print $2, $3, $4}')"
peak=$(awk 'BEGIN{r=0;f=0;t=0} {if($2>r)r=$2; if($3>f)f=$3; if($4>t)t=$4} END{print r, f, t}' "$samples")
read -r rssP fdP thP <<<"$peak"
day1=$(awk -v n=24 'NR==n{print $2}' "$samples")
boxes=$(grep -c 'INFO box: shown' "$prog/skylark.log" || true)
uploads_ok=$(grep -c 'INFO upload: .*result=ok' "$prog/skylark.log" || true)
echo
echo "soak: $hours hourly cycles in $elapsed s"
echo "  good hours landed byte-identical: $landed of $good${bad_hours:+ (not:$bad_hours)}"
echo "  fault hours that landed on a try once the fault passed: $recovered of $passing"
echo "  lasting faults tried again: ${lasting_retried:-none}"
echo "  uploads logged ok: $uploads_ok; message boxes opened (and left open, nobody answers): $boxes"
printf '  %-24s %10s %10s %10s %10s\n' "" start "1st cycle" peak end
printf '  %-24s %10s %10s %10s %10s\n' "resident memory (kB)" "$rss0" "$rss1" "$rssP" "$rssN"
printf '  %-24s %10s %10s %10s %10s\n' "open descriptors" "$fd0" "$fd1" "$fdP" "$fdN"
printf '  %-24s %10s %10s %10s %10s\n' "threads" "$th0" "$th1" "$thP" "$thN"
[ -n "$day1" ] && echo "  resident memory after day 1: $day1 kB; growth from there to the end: $((rssN - day1)) kB"
kill -0 "$skylark_pid" 2>/dev/null || { echo "Skylark is gone"; exit 1; }

status=0
[ "$landed" -eq "$good" ] || { echo "FAIL: not every good hour landed"; status=1; }
[ "$recovered" -eq "$passing" ] || { echo "FAIL: not every fault hour landed once its fault passed"; status=1; }
[ -z "$lasting_retried" ] || { echo "FAIL: a lasting fault was tried again"; status=1; }
[ "$fdN" -le "$fd1" ] || { echo "FAIL: open descriptors grew"; status=1; }
[ "$thN" -le "$th1" ] || { echo "FAIL: threads grew"; status=1; }
if [ -n "$day1" ] && [ $((rssN - day1)) -gt 2048 ]; then
    echo "FAIL: resident memory grew by more than 2 MB after the first day"; status=1
fi
[ "$status" -eq 0 ] && echo "soak ok"
exit "$status"

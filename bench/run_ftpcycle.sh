#!/bin/sh
# Builds the benchmark, starts the test FTP server on loopback and runs the comparison.
#   bench/run_ftpcycle.sh [ROUNDS]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-bench"
bash "$here/scripts/deps.sh" --bench
cmake -S "$here" -B "$build" -DSKYLARK_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bench_ftpcycle >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/home/up"
head -c 1048576 /dev/urandom >"$work/small.bin"
head -c 104857600 /dev/urandom >"$work/big.bin"
/usr/bin/python3 "$here/tests/ftpserver.py" "$work/commands.log" --home "$work/home" \
    >"$work/port" 2>/dev/null &
server_pid=$!
i=0
while [ ! -s "$work/port" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
port=$(head -n1 "$work/port")
"$build/bench/bench_ftpcycle" "$port" user secret "$work/small.bin" "$work/big.bin" "${1:-50}"

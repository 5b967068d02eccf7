#!/bin/sh
# Builds the benchmark, starts vsftpd (ftpes) and the asyncssh SFTP server on loopback
# and runs the comparison with the curl command line for both. vsftpd needs root.
#   bench/run_securecycle.sh [ROUNDS]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-bench"
bash "$here/scripts/deps.sh" --bench
cmake -S "$here" -B "$build" -DSKYLARK_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bench_securecycle >/dev/null

work=$(mktemp -d)
ftps_pid=
sftp_pid=
cleanup() {
    [ -n "$ftps_pid" ] && kill "$ftps_pid" 2>/dev/null || true
    [ -n "$sftp_pid" ] && kill "$sftp_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The port a server printed, or its complaints and the end of the run.
wait_port() {
    i=0
    while [ ! -s "$1" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
    if [ ! -s "$1" ]; then
        echo "run_securecycle.sh: a test server did not start:" >&2
        cat "$2" >&2
        exit 1
    fi
    head -n1 "$1"
}

head -c 1048576 /dev/urandom >"$work/small.bin"
head -c 104857600 /dev/urandom >"$work/big.bin"
mkdir -p "$work/ftps-home/up" "$work/sftp-home/up" "$work/ftps-trust" "$work/sftp-trust"

/usr/bin/python3 "$here/tests/ftpsserver.py" "$work/ftps" --home "$work/ftps-home" >"$work/ftps-port" 2>"$work/ftps-err" &
ftps_pid=$!
/usr/bin/python3 -W ignore "$here/tests/sftpserver.py" "$work/sftp.log" --home "$work/sftp-home" \
    --host-key "$work/host_key" >"$work/sftp-port" 2>"$work/sftp-err" &
sftp_pid=$!
ftps_port=$(wait_port "$work/ftps-port" "$work/ftps-err")
sftp_port=$(wait_port "$work/sftp-port" "$work/sftp-err")

cp "$work/ftps/cert.pem" "$work/ftps-trust/ftp-ca.pem"
echo "[127.0.0.1]:$sftp_port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/sftp-trust/known_hosts"
# curl pins the key by its SHA-256, the same trust the layer gets from known_hosts.
fingerprint=$(cut -d' ' -f2 "$work/host_key.pub" | base64 -d | openssl dgst -sha256 -binary | base64 | tr -d '=')

rounds="${1:-30}"
"$build/bench/bench_securecycle" "ftpes://127.0.0.1:$ftps_port" anonymous secret "$work/ftps-trust" \
    "$work/small.bin" "$work/big.bin" "$rounds" "--cacert $work/ftps/cert.pem"
"$build/bench/bench_securecycle" "sftp://127.0.0.1:$sftp_port" user secret "$work/sftp-trust" \
    "$work/small.bin" "$work/big.bin" "$rounds" "--hostpubsha256 $fingerprint"

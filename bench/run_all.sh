#!/bin/sh
# Builds every benchmark, runs each beside its reference in the same run, and ends with
# one table: figure, reference, ratio, target.
#   bench/run_all.sh [--quick]
# --quick shortens the idle stretch to 10 s and the other runs to a few rounds, for a
# check that everything still works; its figures are rougher.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-bench"
idle=60 runs=20 rounds=7 cycles=60 ftprounds=50
if [ "${1:-}" = "--quick" ]; then
    idle=10 runs=5 rounds=3 cycles=12 ftprounds=10
fi

bash "$here/scripts/deps.sh" --bench
launcher=
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
export CCACHE_BASEDIR="$here"
cmake -S "$here" -B "$build" -DSKYLARK_BENCH=ON -DCMAKE_BUILD_TYPE=Release $launcher >/dev/null
cmake --build "$build" -j2 --target skylark bench_startup label_window bare_window bench_idle bench_treefill \
    bench_schedule bench_manual bench_responsive >/dev/null
bin="$build/bench"

export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8
work=$(mktemp -d)
idle_pids=
cleanup() {
    for p in $idle_pids; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
results="$work/results"
: >"$results"
# record NAME VALUE REFERENCE UNIT TARGET_RATIO: a row of the final table; the ratio is
# VALUE/REFERENCE, or VALUE/TARGET when REFERENCE is "-" (an absolute target).
record() { echo "$*" >>"$results"; }

# The runnable folder as the program is shipped, with the benchmark programs beside the
# executable, since the window takes its own folder from the executable's place.
run="$work/Skylark"
mkdir -p "$run"
cp "$build/Skylark/"* "$run/"
cp "$bin/bench_startup" "$bin/label_window" "$bin/bare_window" "$bin/bench_idle" "$run/"
printf '"127.0.0.1","user","secret","127.0.0.1/pub","30","20"\r\n' >"$run/ftp.txt"
chmod 600 "$run/ftp.txt"

echo "== idle CPU, ${idle} s each (running in the background meanwhile)"
for mode in hourly end bare; do
    (cd "$run" && ./bench_idle "$mode" "$idle" >"$work/idle.$mode" 2>"$work/idle.$mode.err") &
    idle_pids="$idle_pids $!"
done

# The reference is a window of the same size with a Japanese label and button: any window
# with text loads the font database and a font, which an empty window never does. The
# empty window is timed too, as a floor.
echo "== start-up to window shown, $runs runs each, interleaved"
# hyperfine times all runs of one command before the next, and on a shared machine
# the load can change between those blocks; one run of each per round, pooled over
# the rounds, interleaves them.
(
    cd "$run"
    hyperfine -N --style none --warmup 3 --runs 1 ./bench_startup ./label_window ./bare_window >/dev/null
    i=0
    while [ "$i" -lt "$runs" ]; do
        hyperfine -N --style none --runs 1 --export-json "$work/startup.$i.json" \
            ./bench_startup ./label_window ./bare_window >/dev/null
        i=$((i + 1))
    done
)
medians=$(/usr/bin/python3 - "$work"/startup.*.json <<'PY'
import json, statistics, sys
times = {}
for path in sys.argv[1:]:
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).append(r["times"][0])
for cmd, v in times.items():
    q = statistics.quantiles(v, n=4)
    print(f"  {cmd:16} median {statistics.median(v) * 1e3:6.1f} ms, quartiles {q[0] * 1e3:.1f}-{q[2] * 1e3:.1f} ms, "
          f"{len(v)} runs", file=sys.stderr)
print(*[statistics.median(v) for v in times.values()])
PY
)
set -- $medians
echo "  median: skylark $(awk "BEGIN{printf \"%.1f\", $1*1000}") ms, label window $(awk "BEGIN{printf \"%.1f\", $2*1000}") ms, bare window $(awk "BEGIN{printf \"%.1f\", $3*1000}") ms"
echo "  ratio skylark/label window $(awk "BEGIN{printf \"%.2f\", $1/$2}") (target <= 1.5), skylark/bare window $(awk "BEGIN{printf \"%.2f\", $1/$3}")"
record "start-up (vs label window)" "$1" "$2" s 1.5
mem=$(cd "$run" && ./bench_startup --memory 2>/dev/null | awk '/^MEMORY/{print $2, $3}')
bmem=$(cd "$run" && ./bare_window --memory 2>/dev/null | awk '/^MEMORY/{print $2, $3}')
set -- $mem $bmem
echo "  resident after start-up (kB): skylark VmHWM $1 VmRSS $2, bare window VmHWM $3 VmRSS $4"
record "memory, VmHWM after start-up" "$1" - kB 61440
echo "  (bare window VmHWM $3 kB for comparison)"

echo "== tree fill"
"$bin/bench_treefill" 10000 "$rounds" 2>/dev/null | tee "$work/treefill"
set -- $(awk '/^RESULT/{print $3, $4}' "$work/treefill")
record "tree fill, 10000 entries" "$1" "$2" s 2

echo "== manual transfer"
"$bin/bench_manual" 50000 $((rounds + 2)) 2>/dev/null | tee "$work/manual"
set -- $(awk '/^RESULT/{print $3, $4}' "$work/manual")
record "manual transfer, 50000 files" "$1" "$2" s 2

echo "== hourly upload timing"
"$bin/bench_schedule" "$cycles" 2>/dev/null | tee "$work/schedule"
set -- $(awk '/^RESULT/{print $3, $4}' "$work/schedule")
record "upload tick delay, median" "$1" - s 0.06
record "upload tick delay, max" "$2" - s 0.06

echo "== the window during slow calls"
"$bin/bench_responsive" 2>/dev/null | tee "$work/responsive"
set -- $(awk '/^RESULT/{print $3, $4}' "$work/responsive")
record "window stall during slow calls" "$1" - s 0.05

echo "== waiting for the idle runs"
for p in $idle_pids; do wait "$p" || true; done
idle_pids=
for mode in hourly end bare; do
    line=$(grep '^IDLE' "$work/idle.$mode" || true)
    if [ -z "$line" ]; then
        echo "  $mode: no figure; $(cat "$work/idle.$mode.err")"
        continue
    fi
    set -- $line
    echo "  $mode: $3 s CPU over $4 s = $5 % of one core"
    [ "$mode" = bare ] || record "idle CPU %, $mode" "$5" - % 1
done

echo "== upload cycle against the curl command line"
CCACHE_BASEDIR="$here" sh "$here/bench/run_ftpcycle.sh" "$ftprounds"

echo
echo "== summary (ratio = figure / reference, or figure / limit for an absolute target)"
awk -v bare="$(awk '/^IDLE/{print $5}' "$work/idle.bare" 2>/dev/null)" '
{
    n = split($0, f, " ")
    target = f[n]; unit = f[n - 1]; ref = f[n - 2]; val = f[n - 3]
    name = f[1]; for (i = 2; i <= n - 4; i++) name = name " " f[i]
    scale = unit == "s" ? 1000 : 1; shown = unit == "s" ? "ms" : unit
    if (ref == "-") { ratio = val / target; refText = sprintf("limit %g %s", target * scale, shown) }
    else { ratio = val / ref; refText = sprintf("%.2f %s", ref * scale, shown) }
    if (name ~ /^idle/ && bare != "") refText = refText sprintf(" (bare %.3f %%)", bare)
    limit = ref == "-" ? 1 : target
    printf "  %-32s %10.2f %-3s  ref %-26s ratio %6.3f  target %-6s %s\n", name, val * scale, shown, refText,
           ratio, "<=" limit, (ref == "-" ? ratio < 1 : ratio <= target) ? "met" : "NOT MET"
}' "$results"

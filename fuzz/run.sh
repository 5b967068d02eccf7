#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time.
#
#   fuzz/run.sh [seconds-per-target] [target...]     default: 60 s, every target
#
# Installs what is missing first (scripts/deps.sh --fuzz: clang and libFuzzer on top of
# what every build needs). The build goes to build-fuzz/ beside the sources; each target
# starts from its hand-written seeds in fuzz/corpus/<target>/ and keeps what it learns
# in build-fuzz/corpus/<target>/, so a later run starts where the previous one stopped.
# A crashing input is left in build-fuzz/crashes/ and the script exits non-zero.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${SKYLARK_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(settings listing reply address alert)

bash "$root/scripts/deps.sh" --fuzz

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DSKYLARK_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${SKYLARK_FUZZ_JOBS:-2}" --target $(printf 'fuzz_%s ' "${targets[@]}")

mkdir -p "$build/crashes"
status=0
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    echo "== fuzz_$t for ${seconds}s"
    # A Qt-using target must not look for a display; leaks count as faults.
    if ! QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
        "$build/fuzz/fuzz_$t" "$corpus" "$here/corpus/$t" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$build/crashes/$t-" -print_final_stats=1 2>"$build/fuzz_$t.log"; then
        echo "fuzz_$t FAILED; see $build/fuzz_$t.log and $build/crashes/"
        tail -40 "$build/fuzz_$t.log"
        status=1
    else
        grep -E '^stat::number_of_executed_units|^Done' "$build/fuzz_$t.log" || true
    fi
done
exit $status

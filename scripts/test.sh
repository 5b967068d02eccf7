#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (warnings as errors,
# address and undefined-behaviour sanitizers) and runs every test; then the tests of
# the session's thread again under ThreadSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" --test
cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=Debug -DSKYLARK_TESTING=ON >/dev/null
cmake --build "$top/build-test" -j"$(nproc)"
(cd "$top/build-test" && ctest --output-on-failure -j"$(nproc)" "$@")

# The tests that drive the session's thread once more, built with ThreadSanitizer (which
# cannot share a build with AddressSanitizer): those CTest labels "threads".
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DSKYLARK_TESTING=ON -DSKYLARK_TSAN=ON >/dev/null
cd "$top/build-tsan"
mapfile -t threaded < <(ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p')
cmake --build . -j"$(nproc)" --target "${threaded[@]}"
ctest --output-on-failure -j"$(nproc)" -L threads

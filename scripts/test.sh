#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (warnings as errors,
# address and undefined-behaviour sanitizers) and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" --test
cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=Debug -DSKYLARK_TESTING=ON >/dev/null
cmake --build "$top/build-test" -j"$(nproc)"
cd "$top/build-test"
ctest --output-on-failure -j"$(nproc)" "$@"

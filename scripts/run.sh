#!/usr/bin/env bash
# Installs what is missing, builds Skylark and starts it from its runnable folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)"
cd "$top/build/Skylark"
exec ./skylark "$@"

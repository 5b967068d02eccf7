#!/usr/bin/env bash
# Checks the C++ sources against the project's style and exits non-zero on any finding:
# clang-format (.clang-format) over src/, tests/, bench/ and fuzz/, then clang-tidy
# (.clang-tidy) over src/. Installs the two tools first (scripts/deps.sh --style).
#
#   scripts/style.sh [build-dir]      default: build-style/ beside the sources
#
# clang-tidy compiles each file the way the build dir does, from its
# compile_commands.json; a build dir without one is configured here. It reads
# SKYLARK_STYLE_JOBS files at once (default 2). Nothing is rewritten:
# `clang-format -i FILE` does that for a file that was reported.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build-style}")
jobs=${SKYLARK_STYLE_JOBS:-2}
cd "$top"

bash "$top/scripts/deps.sh" --style

mapfile -t formatted < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
mapfile -t tidied < <(find src -type f -name '*.cpp' | sort)

status=0
echo "== clang-format: ${#formatted[@]} files"
if ! clang-format --dry-run -Werror "${formatted[@]}"; then
    echo "clang-format: the files above differ from .clang-format's layout"
    status=1
fi

if [ ! -f "$build/compile_commands.json" ]; then
    echo "== configuring $build for its compile commands"
    cmake -S "$top" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
echo "== clang-tidy: ${#tidied[@]} files, $jobs at a time"
# Warnings count as errors so that clang-tidy's exit status carries them; xargs then
# exits non-zero when any file had a finding.
if ! printf '%s\n' "${tidied[@]}" |
    xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet --warnings-as-errors='*' 2> >(grep -v '^[0-9]* warnings\? generated\.$' >&2); then
    echo "clang-tidy: findings above"
    status=1
fi
exit $status

#!/usr/bin/env bash
# The install step lays out a portable folder whose desktop entry is valid and starts
# the program in that folder.
set -euo pipefail
build=$1
prefix=$(mktemp -d "/tmp/skylark install XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in skylark open.bmp closed.bmp leaf.bmp root.bmp skylark.png skylark.desktop; do
  [ -e "$prefix/$f" ] || { echo "missing from the install: $f"; exit 1; }
done
[ -x "$prefix/skylark" ] || { echo "skylark is not executable"; exit 1; }
for f in ftp.txt 00.jpg; do
  [ ! -e "$prefix/$f" ] || { echo "a user's file was installed: $f"; exit 1; }
done
desktop-file-validate "$prefix/skylark.desktop"
grep -qx "Path=$prefix" "$prefix/skylark.desktop" || { echo "wrong working folder"; cat "$prefix/skylark.desktop"; exit 1; }
echo "install layout ok"

#!/usr/bin/env bash
# The install step lays out a portable folder whose desktop entry is valid and starts
# the program in that folder, plus an autostart entry and a systemd user unit that start
# it armed (not activated: they only lie in the folder).
set -euo pipefail
build=$1
prefix=$(mktemp -d "/tmp/skylark install XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in skylark open.bmp closed.bmp leaf.bmp root.bmp skylark.png skylark.desktop \
         autostart/skylark.desktop systemd/skylark.service; do
  [ -e "$prefix/$f" ] || { echo "missing from the install: $f"; exit 1; }
done
[ -x "$prefix/skylark" ] || { echo "skylark is not executable"; exit 1; }
for f in ftp.txt 00.jpg; do
  [ ! -e "$prefix/$f" ] || { echo "a user's file was installed: $f"; exit 1; }
done
desktop-file-validate "$prefix/skylark.desktop"
grep -qx "Path=$prefix" "$prefix/skylark.desktop" || { echo "wrong working folder"; cat "$prefix/skylark.desktop"; exit 1; }

# expect FILE LINE: the file holds this exact line.
expect() {
  grep -qxF -- "$2" "$1" || { echo "$1 lacks the line: $2"; cat "$1"; exit 1; }
}
autostart=$prefix/autostart/skylark.desktop
desktop-file-validate "$autostart"
expect "$autostart" "Exec=\"$prefix/skylark\" --arm"
expect "$autostart" "Path=$prefix"

unit=$prefix/systemd/skylark.service
expect "$unit" "ExecStart=\"$prefix/skylark\" --arm"
expect "$unit" "WorkingDirectory=$prefix"
expect "$unit" "Environment=QT_QPA_PLATFORM=offscreen"
expect "$unit" "WantedBy=default.target"
if command -v systemd-analyze >/dev/null 2>&1; then
  # Also checks that the command it starts is there and executable.
  systemd-analyze verify "$unit"
else
  echo "systemd-analyze not available: the unit's syntax was not verified"
fi

# Nothing is activated by the install: no file outside the prefix.
for f in "$HOME/.config/autostart/skylark.desktop" "$HOME/.config/systemd/user/skylark.service"; do
  [ ! -e "$f" ] || [ "$f" -ot "$prefix" ] || { echo "the install touched $f"; exit 1; }
done
echo "install layout ok"

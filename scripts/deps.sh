#!/usr/bin/env bash
# Installs what building, running and testing Skylark needs on Debian 12.
# Does nothing when everything is already there, so it is cheap to call every time.
set -euo pipefail

pkgs=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev curl
  python3 python3-pyftpdlib
  vsftpd openssl python3-asyncssh
  fonts-ipafont-gothic
  xvfb xauth imagemagick
  desktop-file-utils
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

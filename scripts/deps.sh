#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Skylark need. This
# is the one list of packages: every script that builds something calls it first, adding
# a group for what only that script uses. Only missing packages are installed, and when
# nothing is missing it costs one dpkg-query, so it is cheap to call every time.
#
#   scripts/deps.sh [--test] [--style] [--fuzz] [--screenshot] [--bench] [--soak] [--windows]
#
# Without a group: what building and running Skylark needs (run.sh), the demo server
# and images included. The test servers and the style tools are not installed for
# someone who only wants to run the program.
set -euo pipefail

pkgs=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev
  # libcurl only recommends the system's CA store, and recommends are not installed:
  # without it no public server's certificate can be checked.
  ca-certificates
  python3 python3-pyftpdlib
  fonts-ipafont-gothic
  xvfb xauth imagemagick
)
# Servers the tests start on loopback (FTPS, SFTP, mail), and the install check's validator.
test_pkgs=(vsftpd openssl python3-asyncssh python3-aiosmtpd desktop-file-utils)
# The Windows build (windows.sh): the cross compiler with posix threads (the win32 thread
# model has no std::thread, which the session's thread needs), Debian's source tools to
# unpack qt6-base, openssl, libssh2 and curl (dpkg-source wants xz for the tarballs; its
# perl also runs OpenSSL's Configure), ninja for the Qt build, wine to run the result,
# zip for the folder handed out, xdotool to find and work its window in the smoke test,
# asyncssh for the smoke test's SFTP server. Qt's cross build runs the host's moc, rcc
# and uic and reads the host Qt's CMake files, which the base group installs.
windows_pkgs=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils ninja-build wine wine64 zip unzip xdotool python3-asyncssh)
for group in "$@"; do
  case $group in
    --test) pkgs+=("${test_pkgs[@]}") ;;
    --style) pkgs+=(clang-format clang-tidy) ;;
    --fuzz) pkgs+=(clang libclang-rt-14-dev) ;; # libFuzzer lives in the runtime package
    --screenshot) pkgs+=(xdotool) ;;
    --bench) pkgs+=(hyperfine curl "${test_pkgs[@]}") ;; # curl: the reference the uploads are timed against
    --soak) pkgs+=(faketime) ;;
    --windows) pkgs+=("${windows_pkgs[@]}") ;;
    *)
      echo "deps.sh: unknown group $group (known: --test --style --fuzz --screenshot --bench --soak --windows)" >&2
      exit 2
      ;;
  esac
done

# dpkg-query fails when it has never heard of a package; that package is simply missing.
declare -A installed=()
while read -r state name; do
  [ "$state" = ii ] && installed[$name]=1
done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${pkgs[@]}" 2>/dev/null || true)
missing=()
for p in "${pkgs[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

tell_root() {
  {
    echo "deps.sh: Skylark needs Debian packages that are not installed:"
    echo "  ${missing[*]}"
    echo "$1. As root, run:"
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    echo "and then your command again."
  } >&2
  exit 1
}

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  tell_root "Installing them needs root, and sudo is not available here"
fi

echo "Installing: ${missing[*]}"
{
  "${as_root[@]}" apt-get update -q &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}"
} || tell_root "Installing them failed (see above)"

# The tests start their own vsftpd on loopback. Debian starts the system service on
# install, which would offer an FTP login for every local account on port 21 to the
# whole network; a service this script brought in is stopped and left disabled.
if [[ " ${missing[*]} " == *" vsftpd "* ]]; then
  if [ -d /run/systemd/system ]; then
    "${as_root[@]}" systemctl disable --now vsftpd.service >/dev/null 2>&1 || true
  else
    "${as_root[@]}" service vsftpd stop >/dev/null 2>&1 || true
    "${as_root[@]}" update-rc.d vsftpd disable >/dev/null 2>&1 || true
  fi
  echo "The vsftpd system service is stopped and disabled (the tests run their own)."
fi

#!/usr/bin/env bash
# Cross-builds Skylark for 64-bit Windows on Debian 12.
#
#   scripts/windows.sh [--deps-only]
#
# No Debian package ships Qt or libcurl built for Windows, so the first run builds them
# from Debian's own sources (qt6-base, curl, libssh2): a static Qt with Core, Gui and
# Widgets, libssh2 on Windows' CNG crypto, and libcurl with Schannel TLS and SFTP through
# libssh2, as a DLL that travels beside skylark.exe (Skylark loads libcurl on first use)
# and as a static library. They go into one prefix under
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/skylark-windows/<versions>-<hash of the build recipe>/
#
# outside the checkout, and later runs reuse it as it is. A prefix is trusted only once
# its stamp is written, after everything in it was built and installed, so an
# interrupted build is done again. The Qt build takes about 20 minutes on two
# cores; its progress is printed every half minute, the full logs stay under
# skylark-windows/work/logs/.
#
# SKYLARK_JOBS sets the parallel jobs (default: the number of cores). On a shared
# machine, run the script under `nice`.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$top/cmake/mingw-w64.cmake
triple=x86_64-w64-mingw32
jobs=${SKYLARK_JOBS:-$(nproc)}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/skylark-windows
work=$cache/work
logs=$work/logs

deps_only=false
for arg in "$@"; do
  case $arg in
    --deps-only) deps_only=true ;;
    *)
      echo "windows.sh: unknown argument $arg (known: --deps-only)" >&2
      exit 2
      ;;
  esac
done

say() { echo "windows.sh: $*"; }
die() {
  echo "windows.sh: $*" >&2
  exit 1
}

# Runs a long command with its output in a log, printing one line of progress every 30
# seconds instead: ninja's latest [done/total], or else the log's latest line. On failure
# the log's tail is shown.
run_logged() {
  local what=$1 log=$2
  shift 2
  say "$what (log: $log)"
  local start=$SECONDS pid
  "$@" >>"$log" 2>&1 &
  pid=$!
  # Interrupted, the build goes too, instead of running on unseen.
  trap 'kill "$pid" 2>/dev/null; exit 130' INT TERM
  local tick=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    tick=$((tick + 1))
    if [ $((tick % 30)) -eq 0 ]; then
      local at
      at=$(tac "$log" | grep -m1 -o '^\[[0-9]*/[0-9]*\]' || true)
      [ -n "$at" ] || at=$(tail -n1 "$log" | cut -c1-100)
      printf '  %s: %dm%02ds %s\n' "$what" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)) "$at"
    fi
  done
  local rc=0
  wait "$pid" || rc=$?
  trap - INT TERM
  if [ "$rc" -ne 0 ]; then
    echo "---- last lines of $log ----" >&2
    tail -n 40 "$log" >&2
    die "$what failed (exit $rc); the whole log is $log"
  fi
  printf '  %s: done in %dm%02ds\n' "$what" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60))
}

# ---------------------------------------------------------------------------------------
# The dependency stage: Qt, libssh2 and libcurl for Windows in the cache.

# The Debian versions built are the ones installed on this machine: Qt's cross build
# runs the host's moc, rcc and uic, which must be of the same Qt version.
debian_version() { dpkg-query -W -f='${source:Version}' "$1"; }
upstream() {
  local v=${1#*:}
  v=${v%-*}
  echo "${v%+dfsg}"
}

# Debian's source packages, through the mirror this machine already uses: a deb-src
# entry for every deb entry of its apt configuration, in a private apt state under the
# cache, so the system's apt setup stays as it is.
apt_private=()
setup_private_apt() {
  local dir=$work/apt
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
  apt_private=(
    -o Dir::Etc::SourceList=/dev/null
    -o Dir::Etc::SourceParts="$dir/sources.list.d"
    -o Dir::State::Lists="$dir/lists"
    -o Dir::Cache="$dir/cache"
    -o APT::Sandbox::User="$(id -un)"
  )
  local out=$dir/sources.list.d/skylark-src.sources tmp
  tmp=$(mktemp)
  {
    # One-line entries (sources.list, *.list): "deb [options] URI suite components".
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -e "$f" ] && awk '$1 == "deb" { $1 = "deb-src"; print }' "$f"
    done >"$dir/sources.list.d/skylark-src.list"
    # deb822 entries (*.sources): each stanza that offers deb, again as deb-src.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] || continue
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Enabled:[ \t]*no/ { next }
           match($0, /(^|\n)Types:[^\n]*/) {
             types = substr($0, RSTART, RLENGTH)
             if (types !~ /[ \t]deb([ \t]|$)/) next
             sub(/(^|\n)Types:[^\n]*/, (RSTART > 1 ? "\n" : "") "Types: deb-src")
             print
           }' "$f"
    done
  } >"$tmp"
  mv "$tmp" "$out"
  grep -q '^deb-src' "$dir/sources.list.d/skylark-src.list" || rm "$dir/sources.list.d/skylark-src.list"
  [ -s "$out" ] || rm "$out"
  ls "$dir/sources.list.d/"* >/dev/null 2>&1 || die "no deb entry found in /etc/apt to derive a source entry from"
}

# Unpacks Debian's source of $1 at version $2 (its patches applied, less those named
# after it, taken off again from the last) into $work/src/<package>_<version>/; srcdir is
# then the unpacked tree.
fetched_lists=false
srcdir=
fetch_source() {
  local pkg=$1 version=$2
  shift 2
  local dir=$work/src/${pkg}_$version
  if [ ! -e "$dir/.unpacked" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    if ! $fetched_lists; then
      setup_private_apt
      run_logged "Reading Debian's source index" "$logs/apt-update.log" \
        apt-get "${apt_private[@]}" update
      fetched_lists=true
    fi
    (cd "$dir" && run_logged "Fetching the source of $pkg $version" "$logs/fetch-$pkg.log" \
      apt-get "${apt_private[@]}" source "$pkg=$version")
    srcdir=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit)
    local patch
    for patch in "$@"; do
      patch -R -p1 -d "$srcdir" <"$srcdir/debian/patches/$patch" >>"$logs/fetch-$pkg.log"
    done
    touch "$dir/.unpacked"
  fi
  srcdir=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit)
}

build_libssh2() {
  local src=$1 build=$2
  rm -rf "$build"
  mkdir -p "$build"
  cd "$build"
  run_logged "libssh2: configuring" "$logs/libssh2.log" \
    "$src/configure" --host=$triple --prefix="$prefix" \
    CC=$triple-gcc-posix CFLAGS=-O2 \
    --with-crypto=wincng --without-libz \
    --enable-static --disable-shared --disable-examples-build
  run_logged "libssh2: building" "$logs/libssh2.log" make -j"$jobs"
  run_logged "libssh2: installing" "$logs/libssh2.log" make install
  # Debian adds libgcrypt's -lgpg-error to the pkg-config file; a static libssh2 on CNG
  # needs Windows' own libraries instead.
  sed -i 's/^Libs.private:.*/Libs.private: -lbcrypt -lcrypt32 -lws2_32/' "$prefix/lib/pkgconfig/libssh2.pc"
}

build_curl() {
  local src=$1 build=$2
  rm -rf "$build"
  mkdir -p "$build"
  cd "$build"
  # Win32 threads for the name lookups (not winpthread, which would be one more DLL),
  # the C runtime's helpers linked in for the same reason. libssh2 goes into the DLL, which
  # libtool refuses for a static archive unless told that any library will do. No LDAP:
  # one library less, and no use here.
  run_logged "curl: configuring" "$logs/curl.log" \
    "$src/configure" --host=$triple --prefix="$prefix" \
    CC=$triple-gcc-posix CFLAGS=-O2 LDFLAGS=-static-libgcc \
    lt_cv_deplibs_check_method=pass_all \
    --enable-shared --enable-static \
    --with-schannel --with-libssh2="$prefix" \
    --without-zlib --without-brotli --without-zstd --without-libpsl \
    --without-libidn2 --without-nghttp2 --without-librtmp \
    --disable-ldap --disable-ldaps --disable-pthreads --enable-threaded-resolver \
    --disable-manual
  run_logged "curl: building" "$logs/curl.log" make -j"$jobs" -C lib
  run_logged "curl: installing" "$logs/curl.log" make -C lib install
  run_logged "curl: installing the headers" "$logs/curl.log" make -C include install
  mkdir -p "$prefix/lib/pkgconfig"
  cp libcurl.pc "$prefix/lib/pkgconfig/"
}

build_qt() {
  local src=$1 build=$2
  # The build folder is kept after a failure: ninja goes on where it stopped.
  mkdir -p "$build"
  # Only what Skylark uses. OpenGL is switched off the way configure's -no-opengl does
  # (the Windows platform plugin does not compile with the feature merely off); Debian's
  # tarball has no wintab headers, so no tablet events; the system libraries a Linux Qt
  # takes from Debian are Qt's bundled copies here. Skylark draws only BMP and PNG, both
  # built into QtGui, so the JPEG, GIF and ICO plugins are left out. (Direct2D stays: in
  # Qt 6.4 it also brings the DirectWrite font engine, and without it the Windows plugin
  # does not link.)
  run_logged "Qt: configuring" "$logs/qt.log" \
    cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_xml=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF -DFEATURE_testlib=OFF \
    -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_sql_sqlite=OFF -DFEATURE_system_sqlite=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
  run_logged "Qt: building" "$logs/qt.log" ninja -C "$build" -j"$jobs"
  run_logged "Qt: installing" "$logs/qt.log" cmake --install "$build"
}

recipe_hash() {
  local versions=$1
  shift
  {
    echo "$versions"
    declare -f "$@"
    cat "$toolchain"
    $triple-gcc-posix --version | head -n1
  } | sha256sum | cut -c1-10
}

dependencies() {
  local qt_deb curl_deb ssh2_deb
  qt_deb=$(debian_version qt6-base-dev-tools)
  curl_deb=$(debian_version libcurl4-openssl-dev)
  ssh2_deb=$(debian_version libssh2-1)
  # The prefix is named after what went into it: the versions, and a hash of the build
  # recipe (these functions and the toolchain file), so a changed flag builds anew.
  local hash qt_hash
  hash=$(recipe_hash "$qt_deb $curl_deb $ssh2_deb" build_libssh2 build_curl build_qt)
  prefix=$cache/qt$(upstream "$qt_deb")-curl$(upstream "$curl_deb")-libssh2-$(upstream "$ssh2_deb")-$hash
  # Qt's build folder stays, named after Qt's part of the recipe alone: a prefix made anew
  # for a change to libcurl's flags installs Qt from it in a minute instead of an hour.
  qt_hash=$(recipe_hash "$qt_deb" build_qt)
  if [ -e "$prefix/.complete" ]; then
    say "Windows builds of Qt, libcurl and libssh2: $prefix"
    return
  fi
  mkdir -p "$logs" "$work/build"
  say "building Qt, libcurl and libssh2 for Windows into $prefix"
  local name
  name=$(basename "$prefix")
  # Each library is stamped on its own once installed, so a later failure does not
  # build the earlier ones again. Qt, the long one, first.
  fetch_source qt6-base "$qt_deb"
  if [ ! -e "$prefix/.qt" ]; then
    : >"$logs/qt.log"
    (build_qt "$srcdir" "$work/build/qt-$qt_hash")
    touch "$prefix/.qt"
  fi
  fetch_source libssh2 "$ssh2_deb"
  if [ ! -e "$prefix/.libssh2" ]; then
    : >"$logs/libssh2.log"
    (build_libssh2 "$srcdir" "$work/build/$name-libssh2")
    touch "$prefix/.libssh2"
  fi
  # Debian's last two curl patches rename the library for its GnuTLS and NSS flavours;
  # its own build takes them off for the OpenSSL one, and so does this.
  fetch_source curl "$curl_deb" 99_nss.patch 90_gnutls.patch
  if [ ! -e "$prefix/.curl" ]; then
    : >"$logs/curl.log"
    (build_curl "$srcdir" "$work/build/$name-curl")
    touch "$prefix/.curl"
  fi
  rm -rf "$work/build/$name-"*
  # Qt build folders of earlier recipes are of no more use, and each is a few gigabytes.
  find "$work/build" -mindepth 1 -maxdepth 1 -name 'qt-*' ! -name "qt-$qt_hash" -exec rm -rf {} +
  touch "$prefix/.complete"
  say "Windows builds of Qt, libcurl and libssh2 are ready: $prefix"
}

# ---------------------------------------------------------------------------------------
# Skylark itself, built with the toolchain file against the prefix, into build-windows/.

build=$top/build-windows

build_skylark() {
  # CMake keeps where it found Qt; a build folder made against another prefix starts over.
  if [ "$(cat "$build/.prefix" 2>/dev/null)" != "$prefix" ]; then
    rm -rf "$build"
    mkdir -p "$build"
    echo "$prefix" >"$build/.prefix"
  fi
  # The pictures are drawn at build time by makebitmaps, which has to run here: it is
  # built first for this machine, with the host's Qt, in a build folder of its own.
  local host=$build/host
  mkdir -p "$host"
  run_logged "makebitmaps for this machine: configuring" "$host/configure.log" \
    cmake -S "$top" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release
  run_logged "makebitmaps for this machine: building" "$host/build.log" \
    cmake --build "$host" -j"$jobs" --target makebitmaps
  # FindCURL asks pkg-config first; it must not answer with the host's Linux libcurl.
  export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
  mkdir -p "$build"
  run_logged "Skylark: configuring" "$build/configure.log" \
    cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSKYLARK_WINDOWS_PREFIX="$prefix" \
    -DSKYLARK_HOST_MAKEBITMAPS="$host/makebitmaps" \
    -DCMAKE_BUILD_TYPE=Release
  run_logged "Skylark: building" "$build/build.log" cmake --build "$build" -j"$jobs"
}

# build-windows/Skylark-windows.zip: one folder that runs where it is unzipped. Only what
# belongs in it is named, so settings or images left in the build's own folder by a
# trial run stay out.
package() {
  local stage=$build/zip/Skylark
  rm -rf "$build/zip" "$build/Skylark-windows.zip"
  mkdir -p "$stage"
  cp "$build/Skylark/skylark.exe" "$prefix/bin/libcurl-4.dll" "$stage/"
  # The symbols stay in build-windows/Skylark/skylark.exe; the copy handed out is half
  # the size without them.
  $triple-strip --strip-unneeded "$stage/skylark.exe"
  cp "$build/Skylark/"{open,closed,leaf,root}.bmp "$build/Skylark/skylark.png" "$stage/"
  (cd "$build/zip" && zip -q -r ../Skylark-windows.zip Skylark)
  say "packed $build/Skylark-windows.zip"
}

# The packed program under wine on a virtual screen, unzipped into a folder whose name
# the ANSI code page cannot spell (every file Skylark opens must be opened by its wide
# name), worked from outside by tests/smoke_window.sh against the test FTP server; then
# started once more to see it end with the session. wine keeps its own folder under the
# cache, so ~/.wine is left alone.
smoke_test() {
  export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -e "$WINEPREFIX/.ready" ]; then
    run_logged "wine: preparing its folder" "$logs/wineboot.log" xvfb-run -a wineboot --init
    touch "$WINEPREFIX/.ready"
  fi
  local dir=$build/smoke/"カメラ画像 📷"
  rm -rf "$build/smoke"
  mkdir -p "$dir"
  unzip -q "$build/Skylark-windows.zip" -d "$dir"
  say "smoke test: working skylark.exe's window under wine"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '"$1" "$2" wine skylark.exe; rc=$?; wineserver -k; exit $rc' \
    smoke "$top/tests/smoke_window.sh" "$dir/Skylark" || die "smoke test: failed (the program's folder: $dir/Skylark)"

  # The end of the session (wineboot --end-session sends WM_ENDSESSION) must close the
  # window within a second, through Skylark's own ending.
  (cd "$dir/Skylark" && xvfb-run -a bash -c '
      shown() { xdotool search --onlyvisible --name "^Skylark$" >/dev/null 2>&1; }
      wine skylark.exe >../wine.log 2>&1 &
      for _ in $(seq 60); do sleep 1; shown && break; done
      sleep 2
      wine wineboot --end-session >../endsession.log 2>&1
      for _ in $(seq 10); do
        sleep 0.1
        shown || { echo closed >../endsession.status; break; }
      done
      wineserver -k') || true
  [ -e "$dir/endsession.status" ] ||
    die "smoke test: the window was still there a second after the end of the session (its log: $dir/Skylark/skylark.log)"
  # Qt would close the window on its own too; the log says it was Skylark's own ending.
  grep -qF 'end requested: WM_ENDSESSION' "$dir/Skylark/skylark.log" ||
    die "smoke test: the end of the session did not go through Skylark's ending (its log: $dir/Skylark/skylark.log)"
  say "smoke test: passed; the end of the session closed it too"
}

main() {
  bash "$top/scripts/deps.sh" --windows
  dependencies
  $deps_only && return
  build_skylark
  package
  smoke_test
}

# On one line, so that bash has read it whole before it starts: a script edited while a
# long build runs does not change under the running one.
prefix=
main; exit

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

# The private apt state, read once per run that builds: apt_private and the source index.
fetched_lists=false
source_index() {
  $fetched_lists && return
  setup_private_apt
  run_logged "Reading Debian's source index" "$logs/apt-update.log" \
    apt-get "${apt_private[@]}" update
  fetched_lists=true
}

# The versions of source package $1 the index names, newest first.
listed_versions() {
  local v listed=() sorted=() i
  while read -r v; do listed+=("$v"); done < <(apt-cache "${apt_private[@]}" showsrc "$1" 2>/dev/null |
    awk -v pkg="$1" 'BEGIN { RS = "" } index($0, "Package: " pkg "\n") == 1 && match($0, /\nVersion: [^\n]*/) {
      print substr($0, RSTART + 10, RLENGTH - 10) }' | sort -u)
  for v in "${listed[@]}"; do
    for ((i = 0; i < ${#sorted[@]}; i++)); do
      dpkg --compare-versions "$v" gt "${sorted[i]}" && break
    done
    sorted=("${sorted[@]:0:i}" "$v" "${sorted[@]:i}")
  done
  printf '%s\n' "${sorted[@]}"
}

# Fetches and unpacks Debian's source of $1 at version $2 into the current (empty)
# folder. apt-get source fetches the .dsc and the tarballs and unpacks them. A mirror
# may serve a version's tarballs but not its .dsc (libssh2 1.10.0-3+deb12u1 on the
# security mirror answered 404 for the .dsc alone): the .dsc is then written from the
# index's own entry for that version, which names the same files with the same SHA-256
# sums and is signed through the archive's Release file. apt checks each download
# against the index, sha256sum checks again here, and dpkg-source checks and unpacks.
unpack_source() {
  local pkg=$1 version=$2 log=$logs/fetch-$1.log
  apt-get "${apt_private[@]}" source "$pkg=$version" >>"$log" 2>&1 && return 0
  local entry
  entry=$(apt-cache "${apt_private[@]}" showsrc "$pkg" 2>/dev/null |
    awk -v pkg="$pkg" -v version="$version" 'BEGIN { RS = "" }
      index($0, "Package: " pkg "\n") == 1 && index($0 "\n", "\nVersion: " version "\n") { print; exit }')
  [ -n "$entry" ] || return 1
  apt-get "${apt_private[@]}" source --download-only "$pkg=$version" >>"$log" 2>&1 || true
  local dsc="${pkg}_${version#*:}.dsc" sums
  sums=$(awk -v dsc="$dsc" '/^[^ ]/ { in_sums = ($1 == "Checksums-Sha256:") }
    in_sums && /^ / && $3 != dsc { print $1 "  " $3 }' <<<"$entry")
  [ -n "$sums" ] && sha256sum --quiet -c <<<"$sums" >>"$log" 2>&1 || return 1
  echo "The .dsc of $pkg $version is missing; it is written from the source index's entry" >>"$log"
  {
    awk '/^[^ ]/ { field = $1 }
      field == "Directory:" || field == "Priority:" || field == "Section:" { next }
      field ~ /^Checksums-/ && /^ / && $NF ~ /\.dsc$/ { next }
      { sub(/^Package:/, "Source:"); print }' <<<"$entry"
    echo "Files:"
    local name
    while read -r _ name; do
      echo " $(md5sum <"$name" | cut -d' ' -f1) $(stat -c %s "$name") $name"
    done <<<"$sums"
  } >"$dsc"
  dpkg-source -x "$dsc" >>"$log" 2>&1
}

# The CVE names in the changelog entries of binary package $1 newer than version $2, as
# the installed package has them (its changelog stays under /usr/share/doc, unless the
# system leaves documentation out: then nothing is known).
fixes_since() {
  local changelog=/usr/share/doc/$1/changelog.Debian.gz v cves
  [ -r "$changelog" ] || return 1
  while IFS=$'\t' read -r v cves; do
    if [ -n "$cves" ] && dpkg --compare-versions "$v" gt "$2"; then echo "$cves"; fi
  done < <(zcat "$changelog" | awk '
    /^[a-z0-9][a-z0-9.+-]* \(/ { if (v != "") print v "\t" c; v = $2; gsub(/[()]/, "", v); c = ""; next }
    { while (match($0, /CVE-[0-9]+-[0-9]+/)) { c = c (c == "" ? "" : " ") substr($0, RSTART, RLENGTH); $0 = substr($0, RSTART + RLENGTH) } }
    END { if (v != "") print v "\t" c }') | tr ' ' '\n' | sort -uV | paste -sd' '
}

# Unpacks Debian's source of package $1 (its patches applied, less those named after the
# binary package, taken off again from the last) into $work/src/<package>_<version>/;
# srcdir is then the unpacked tree and srcversion its version.
#
#   fetch_source [--exact] <source package> <installed version> <installed binary package> [patch...]
#
# The version is the installed one ($2) when the mirror serves its source. Otherwise,
# unless --exact, it is the newest version that the mirror does serve, and when that one
# is older than the installed one, the security fixes it lacks (the CVEs of the installed
# package's changelog since) are said as a warning, which also goes into notes, kept
# with the prefix. Qt must be the installed version: its cross build runs the host's
# moc, rcc and uic.
srcdir=
srcversion=
notes=()
versions=()
fetch_source() {
  local exact=false
  [ "$1" != --exact ] || { exact=true; shift; }
  local pkg=$1 installed=$2 binary=$3
  shift 3
  srcversion=
  if ! unpacked "$pkg" "$installed" "$@" && ! $exact; then
    local v
    while read -r v; do
      [ "$v" != "$installed" ] && unpacked "$pkg" "$v" "$@" && break
    done < <(listed_versions "$pkg")
  fi
  [ -n "$srcversion" ] || die "the mirror serves no source of $pkg that this script can build (see $logs/fetch-$pkg.log)"
  versions+=("$pkg $srcversion")
  if [ "$srcversion" = "$installed" ]; then
    notes+=("$pkg: Debian's $srcversion, the installed version")
    return
  fi
  notes+=("$pkg: Debian's $srcversion; the mirror does not serve the source of the installed $installed")
  dpkg --compare-versions "$srcversion" lt "$installed" || return 0
  local fixes
  if ! fixes=$(fixes_since "$binary" "$srcversion"); then
    notes+=("WARNING: the Windows $pkg $srcversion is older than the installed $installed and may lack its security fixes")
  elif [ -n "$fixes" ]; then
    notes+=("WARNING: the Windows $pkg $srcversion lacks the security fixes of the installed $installed: $fixes")
  fi
}

# Whether version $2 of $1 is unpacked (fetched now if need be, with the patches named
# after it taken off); if so, srcdir and srcversion are set.
unpacked() {
  local pkg=$1 version=$2 dir=$work/src/${1}_$2
  shift 2
  if [ ! -e "$dir/.unpacked" ]; then
    source_index
    rm -rf "$dir"
    mkdir -p "$dir"
    say "Fetching the source of $pkg $version (log: $logs/fetch-$pkg.log)"
    if ! (cd "$dir" && unpack_source "$pkg" "$version"); then
      say "  the mirror does not serve the source of $pkg $version"
      rm -rf "$dir"
      return 1
    fi
    local patch tree
    tree=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit)
    for patch in "$@"; do
      patch -R -p1 -d "$tree" <"$tree/debian/patches/$patch" >>"$logs/fetch-$pkg.log"
    done
    touch "$dir/.unpacked"
  fi
  srcdir=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit)
  srcversion=$version
}

# libcrypto alone is used, by libssh2; TLS stays with Windows' own Schannel in libcurl.
# Static, and nothing loaded at run time: no engines, no provider modules, and no
# openssl.cnf read from a folder the program does not choose.
build_openssl() {
  local src=$1 build=$2
  rm -rf "$build"
  mkdir -p "$build"
  cd "$build"
  run_logged "OpenSSL: configuring" "$logs/openssl.log" \
    perl "$src/Configure" mingw64 --prefix="$prefix" --libdir=lib \
    CC=$triple-gcc-posix AR=$triple-ar RANLIB=$triple-ranlib RC=$triple-windres \
    no-shared no-module no-engine no-autoload-config no-tests no-ui-console \
    no-ssl3 no-comp
  run_logged "OpenSSL: building" "$logs/openssl.log" make -j"$jobs" build_libs
  run_logged "OpenSSL: installing" "$logs/openssl.log" make install_dev
}

# On OpenSSL's libcrypto rather than Windows' CNG: libssh2 1.10 on CNG knows only the
# ssh-rsa (SHA-1) and ssh-dss host keys, which servers set up in the last years no
# longer offer; on libcrypto it has ECDSA and ed25519 too, as on Linux.
build_libssh2() {
  local src=$1 build=$2
  rm -rf "$build"
  mkdir -p "$build"
  cd "$build"
  # configure's check for libcrypto's own AES-CTR links the Windows libraries before
  # libcrypto, which fails for a static one, and libssh2 would then build its own AES-CTR
  # on a cipher interface OpenSSL 3 deprecates: every OpenSSL since 1.0.1 has it.
  run_logged "libssh2: configuring" "$logs/libssh2.log" \
    "$src/configure" --host=$triple --prefix="$prefix" \
    CC=$triple-gcc-posix CFLAGS=-O2 LIBS="-lws2_32 -lgdi32 -lcrypt32" \
    ac_cv_func_EVP_aes_128_ctr=yes \
    --with-crypto=openssl --with-libssl-prefix="$prefix" --without-libz \
    --enable-static --disable-shared --disable-examples-build
  run_logged "libssh2: building" "$logs/libssh2.log" make -j"$jobs"
  run_logged "libssh2: installing" "$logs/libssh2.log" make install
  # Debian's pkg-config file names libgcrypt's -lgpg-error; a static libssh2 on
  # libcrypto needs libcrypto and the Windows libraries libcrypto uses.
  sed -i 's/^Libs.private:.*/Libs.private: -lcrypto -lws2_32 -lgdi32 -lcrypt32/' \
    "$prefix/lib/pkgconfig/libssh2.pc"
}

build_curl() {
  local src=$1 build=$2
  rm -rf "$build"
  mkdir -p "$build"
  cd "$build"
  # Win32 threads for the name lookups (not winpthread, which would be one more DLL),
  # the C runtime's helpers linked in for the same reason. libssh2 and libcrypto go into
  # the DLL, which libtool refuses for static archives unless told that any library will
  # do; curl's check of libssh2 links -lssh2 alone, so libcrypto and what it needs are
  # named as well. TLS is Schannel's, never OpenSSL's. No LDAP: one library less, and
  # no use here.
  run_logged "curl: configuring" "$logs/curl.log" \
    "$src/configure" --host=$triple --prefix="$prefix" \
    CC=$triple-gcc-posix CFLAGS=-O2 LDFLAGS="-static-libgcc -L$prefix/lib" \
    LIBS="-lcrypto -lws2_32 -lgdi32 -lcrypt32" \
    lt_cv_deplibs_check_method=pass_all \
    --enable-shared --enable-static \
    --with-schannel --without-openssl --with-libssh2="$prefix" \
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

# The license texts of what the zip carries, into the prefix: Qt's (the LGPL, and the
# code Qt bundles that a static Qt for Windows compiles in), OpenSSL's, libssh2's,
# curl's and the mingw-w64 runtime's. Arguments: Qt's, OpenSSL's, libssh2's and curl's
# source trees.
keep_licenses() {
  local qt=$1 openssl=$2 libssh2=$3 curl=$4 out=$prefix/share/skylark/licenses
  rm -rf "$out"
  mkdir -p "$out"
  cp "$qt/LICENSES/LGPL-3.0-only.txt" "$out/Qt-LGPL-3.0.txt"
  # The LGPL is the GPL's terms with additional permissions: both go with it.
  cp "$qt/LICENSES/GPL-3.0-only.txt" "$out/Qt-GPL-3.0.txt"
  # What Qt's own attribution files name, for the code a static Qt Core, Gui and Widgets
  # for Windows compiles in (the bundled libraries, and what Qt took into its own files).
  local parts=(
    src/3rdparty/{zlib,pcre2,harfbuzz-ng,libpng,freetype,double-conversion,md4c,tinycbor,easing,icc}
    src/3rdparty/{blake2,sha3,rfc6234,md4,md5,sha1} src/corelib/text src/corelib/tools src/gui/painting src/gui/text
  )
  python3 - "$qt" "$out/Qt-third-party.txt" "${parts[@]}" <<'PY'
import json, os, sys
qt, out, parts = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(out, "w", encoding="utf-8") as f:
    f.write("Third-party code in the static Qt that skylark.exe carries, as Qt's attribution files name it.\n")
    for part in parts:
        with open(os.path.join(qt, part, "qt_attribution.json"), encoding="utf-8") as j:
            entries = json.load(j, strict=False)
        for e in entries if isinstance(entries, list) else [entries]:
            f.write("\n" + "=" * 78 + "\n")
            f.write("%s %s\n%s\n%s\nLicense: %s\n\n" % (e.get("Name", part), e.get("Version", ""),
                    e.get("Homepage", ""), e.get("Copyright", ""), e.get("License", "")))
            for name in e.get("LicenseFiles") or ([e["LicenseFile"]] if "LicenseFile" in e else []):
                with open(os.path.join(qt, part, name), encoding="utf-8", errors="replace") as text:
                    f.write(text.read().rstrip() + "\n\n")
PY
  cp "$openssl/LICENSE.txt" "$out/OpenSSL-LICENSE.txt"
  cp "$libssh2/COPYING" "$out/libssh2-COPYING.txt"
  cp "$curl/COPYING" "$out/curl-COPYING.txt"
  # The runtime of mingw-w64 (its startup code, winpthreads) is linked into both files.
  cp /usr/share/doc/mingw-w64-common/copyright "$out/mingw-w64-copyright.txt"
}

dependencies() {
  local qt_deb curl_deb ssh2_deb ssl_deb
  qt_deb=$(debian_version qt6-base-dev-tools)
  curl_deb=$(debian_version libcurl4-openssl-dev)
  ssh2_deb=$(debian_version libssh2-1)
  ssl_deb=$(debian_version libssl3)
  # The prefix is named after the installed versions it was made for, and a hash of the
  # build recipe (these functions and the toolchain file), so a changed flag builds
  # anew. The versions built may differ (see fetch_source): built-from in the prefix
  # says which they are.
  local hash qt_hash
  hash=$(recipe_hash "$qt_deb $curl_deb $ssh2_deb $ssl_deb" build_openssl build_libssh2 build_curl build_qt keep_licenses)
  prefix=$cache/qt$(upstream "$qt_deb")-curl$(upstream "$curl_deb")-libssh2-$(upstream "$ssh2_deb")
  prefix+=-openssl$(upstream "$ssl_deb")-$hash
  # Qt's build folder stays, named after Qt's part of the recipe alone: a prefix made anew
  # for a change to libcurl's flags installs Qt from it in a minute instead of an hour.
  qt_hash=$(recipe_hash "$qt_deb" build_qt)
  if [ -e "$prefix/.complete" ]; then
    say "Windows builds of Qt, OpenSSL's libcrypto, libssh2 and libcurl: $prefix"
    tell_built_from
    return
  fi
  mkdir -p "$logs" "$work/build"
  say "building Qt, OpenSSL's libcrypto, libssh2 and libcurl for Windows into $prefix"
  local name
  name=$(basename "$prefix")
  # Each library is stamped on its own once installed, so a later failure does not
  # build the earlier ones again. Qt, the long one, first.
  local qt_src openssl_src libssh2_src curl_src
  fetch_source --exact qt6-base "$qt_deb" libqt6core6
  qt_src=$srcdir
  if [ ! -e "$prefix/.qt" ]; then
    : >"$logs/qt.log"
    # Qt's build folder outlives the checkout that made it, but CMake keeps in it the
    # path of the toolchain file it was first configured with, and fails once that
    # checkout is gone. Qt is configured with a copy kept beside the folder (the same
    # text, which the hash covers; made again if it went), and a folder whose toolchain
    # file is gone all the same starts over.
    local qt_build=$work/build/qt-$qt_hash was
    cmp -s "$toolchain" "$qt_build.cmake" || cp "$toolchain" "$qt_build.cmake"
    was=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$qt_build/CMakeCache.txt" 2>/dev/null || true)
    [ -z "$was" ] || [ -e "$was" ] || rm -rf "$qt_build"
    (toolchain=$qt_build.cmake && build_qt "$srcdir" "$qt_build")
    touch "$prefix/.qt"
  fi
  fetch_source openssl "$ssl_deb" libssl3
  openssl_src=$srcdir
  if [ ! -e "$prefix/.openssl" ]; then
    : >"$logs/openssl.log"
    (build_openssl "$srcdir" "$work/build/$name-openssl")
    touch "$prefix/.openssl"
  fi
  fetch_source libssh2 "$ssh2_deb" libssh2-1
  libssh2_src=$srcdir
  if [ ! -e "$prefix/.libssh2" ]; then
    : >"$logs/libssh2.log"
    (build_libssh2 "$srcdir" "$work/build/$name-libssh2")
    touch "$prefix/.libssh2"
  fi
  # Debian's last two curl patches rename the library for its GnuTLS and NSS flavours;
  # its own build takes them off for the OpenSSL one, and so does this.
  fetch_source curl "$curl_deb" libcurl4 99_nss.patch 90_gnutls.patch
  curl_src=$srcdir
  if [ ! -e "$prefix/.curl" ]; then
    : >"$logs/curl.log"
    (build_curl "$srcdir" "$work/build/$name-curl")
    touch "$prefix/.curl"
  fi
  keep_licenses "$qt_src" "$openssl_src" "$libssh2_src" "$curl_src"
  printf '%s\n' "${notes[@]}" >"$prefix/share/skylark/built-from"
  printf '%s\n' "${versions[@]}" >"$prefix/share/skylark/versions"
  rm -rf "$work/build/$name-"*
  # Qt build folders of earlier recipes are of no more use, and each is a few gigabytes.
  find "$work/build" -mindepth 1 -maxdepth 1 -name 'qt-*' ! -name "qt-$qt_hash" ! -name "qt-$qt_hash.cmake" -exec rm -rf {} +
  touch "$prefix/.complete"
  say "Windows builds of Qt, OpenSSL's libcrypto, libssh2 and libcurl are ready: $prefix"
  tell_built_from
}

# Which Debian versions went into the prefix, and the security fixes one of them lacks:
# said at every run, since every zip carries them.
tell_built_from() {
  local line
  while IFS= read -r line; do
    case $line in
      WARNING:*) echo "windows.sh: $line" >&2 ;;
      *) say "  $line" ;;
    esac
  done <"$prefix/share/skylark/built-from"
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
# trial run stay out. Beside the program: a short readme in Japanese, the license texts
# of what the program carries (Skylark's own, and in licenses/ Qt's, OpenSSL's,
# libssh2's and curl's), and Skylark's source, which with Debian's source of Qt is what
# relinking skylark.exe with another Qt needs (the LGPL's terms for a static Qt). Beside
# the zip, its SHA-256 sum in sha256sum's format.
package() {
  local stage=$build/zip/Skylark
  rm -rf "$build/zip" "$build/Skylark-windows.zip" "$build/Skylark-windows.zip.sha256"
  mkdir -p "$stage/source"
  cp "$build/Skylark/skylark.exe" "$prefix/bin/libcurl-4.dll" "$stage/"
  # The symbols stay in build-windows/Skylark/skylark.exe and in the prefix; the copies
  # handed out are half the size without them.
  $triple-strip --strip-unneeded "$stage/skylark.exe" "$stage/libcurl-4.dll"
  cp "$build/Skylark/"{open,closed,leaf,root}.bmp "$build/Skylark/skylark.png" "$stage/"
  cp -r "$prefix/share/skylark/licenses" "$stage/"
  # For Notepad on any Windows: a byte order mark and CRLF line ends.
  windows_text() { printf '\xef\xbb\xbf'; sed 's/$/\r/' "$@"; }
  windows_text "$top/LICENSE" >"$stage/LICENSE.txt"
  local qt openssl libssh2 curl
  read_version() { awk -v pkg="$1" '$1 == pkg { print $2 }' "$prefix/share/skylark/versions"; }
  qt=$(read_version qt6-base) openssl=$(read_version openssl) libssh2=$(read_version libssh2) curl=$(read_version curl)
  sed -e "s/@QT@/$qt/g" -e "s/@QT_URL@/${qt//+/%2B}/g" -e "s/@OPENSSL@/$openssl/g" \
    -e "s/@LIBSSH2@/$libssh2/g" -e "s/@CURL@/$curl/g" "$top/resources/windows/readme.txt" | windows_text >"$stage/readme.txt"
  # The source as it was built: the files git tracks and those it would, as they are now
  # (outside a git checkout, every file but the build folders).
  source_files() {
    if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
      git -C "$top" ls-files --cached --others --exclude-standard
    else
      (cd "$top" && find . -path './build*' -prune -o -type f -print | sed 's|^\./||')
    fi
  }
  local tree
  tree=$(mktemp -d)
  ln -s "$top" "$tree/skylark"
  source_files | sort -u | while IFS= read -r f; do [ ! -f "$top/$f" ] || echo "skylark/$f"; done |
    (cd "$tree" && zip -q -X -@ "$stage/source/skylark-source.zip")
  rm -rf "$tree"
  (cd "$build/zip" && zip -q -r -X ../Skylark-windows.zip Skylark)
  (cd "$build" && sha256sum Skylark-windows.zip >Skylark-windows.zip.sha256)
  say "packed $build/Skylark-windows.zip and its checksum, Skylark-windows.zip.sha256"
}

# The packed program under wine on a virtual screen, worked from outside by
# tests/smoke_window.sh: first against the test FTP server, unzipped into a folder whose
# name the ANSI code page cannot spell (every file Skylark opens must be opened by its
# wide name); then over SFTP to a server whose one host key is ed25519 (in a folder the
# code page can spell, since libssh2 opens known_hosts by a narrow name). Last,
# tests/smoke_endsession.sh: two of them on a machine whose name is longer than the 15
# characters Windows keeps (a UTS namespace of its own, so the machine's own name stays),
# the second taking over a lock copied from the first, and both ended by the end of the
# session. wine keeps its own folder under the cache, so ~/.wine is left alone.
smoke_test() {
  export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -e "$WINEPREFIX/.ready" ]; then
    run_logged "wine: preparing its folder" "$logs/wineboot.log" xvfb-run -a wineboot --init
    touch "$WINEPREFIX/.ready"
  fi
  (cd "$build" && sha256sum --quiet -c Skylark-windows.zip.sha256) || die "smoke test: the checksum does not match the zip"
  local ftp=$build/smoke/"カメラ画像 📷" sftp=$build/smoke/sftp second=$build/smoke/second
  rm -rf "$build/smoke"
  local dir
  for dir in "$ftp" "$sftp" "$second"; do
    mkdir -p "$dir"
    unzip -q "$build/Skylark-windows.zip" -d "$dir"
  done
  # Each step on a screen of its own, and bounded: whatever hangs under wine costs a
  # quarter of an hour at most, then wine's processes go with the screen.
  on_screen() {
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
      'timeout -k 10 900 "$@"; rc=$?; [ $rc -ne 124 ] || echo "smoke: the step did not end within 15 minutes" >&2; wineserver -k; exit $rc' \
      on_screen "$@"
  }
  # wine now and then fails to create a program's window: CreateWindowEx fails with no
  # error, and Qt logs "Failed to create platform window" (here once in some fifty
  # starts). That is wine's fault, not skylark.exe's, so a step that fails so runs once
  # more, and says so; any other failure stands.
  once_more_for_wine() {
    "$@" && return 0
    grep -qF 'Failed to create platform window' "$build"/smoke/*/Skylark/skylark.log 2>/dev/null || return 1
    say "smoke test: wine did not create a window (Qt: \"Failed to create platform window\"); the step runs once more"
    "$@"
  }
  end_of_session() {
    local unshare=(unshare --uts)
    [ "$(id -u)" -eq 0 ] || unshare=(unshare --map-root-user --uts)
    "${unshare[@]}" bash -c "hostname camera-uploader-0001 && $(declare -f on_screen) && on_screen \"\$@\"" \
      smoke "$top/tests/smoke_endsession.sh" "$ftp/Skylark" "$second/Skylark"
  }

  say "smoke test: working skylark.exe's window under wine, over FTP"
  once_more_for_wine on_screen "$top/tests/smoke_window.sh" "$ftp/Skylark" wine skylark.exe ||
    die "smoke test: failed over FTP (the program's folder: $ftp/Skylark)"
  say "smoke test: the same over SFTP, to a server with an ed25519 host key"
  once_more_for_wine on_screen "$top/tests/smoke_window.sh" --sftp "$sftp/Skylark" wine skylark.exe ||
    die "smoke test: failed over SFTP (the program's folder: $sftp/Skylark)"

  say "smoke test: a long machine name, a copied lock, and the end of the session"
  cp "$ftp/Skylark/ftp.txt" "$second/Skylark/"
  once_more_for_wine end_of_session ||
    die "smoke test: failed at the end of the session (the program's folders: $ftp/Skylark, $second/Skylark)"
  say "smoke test: passed"
}

main() {
  bash "$top/scripts/deps.sh" --windows
  dependencies
  $deps_only && return
  build_skylark
  package
  smoke_test
  # What the zip carries, once more at the end, where a warning is not lost in the scroll.
  tell_built_from
}

# On one line, so that bash has read it whole before it starts: a script edited while a
# long build runs does not change under the running one.
prefix=
main; exit

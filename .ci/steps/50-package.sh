#!/usr/bin/env bash
# Shipping as a package:
#   1. the manual page renders without warnings and names the tool's arguments
#      as its usage text does;
#   2. cmake --install into a temporary prefix installs exactly the expected
#      files (versioned liblidar.so, no RPATH, every routine exported);
#   3. the refresh_headers example, built against that prefix through
#      find_package(lidar) and through pkg-config, refreshes LAS headers whose
#      counts and box were spoiled back to the generator's own bytes;
#   4. the Debian package holds exactly the expected files, installs with
#      apt-get, runs from /usr/bin, serves the same two ways of linking without
#      any hint, and is removed (purged) again.
# packages: dpkg-dev pkg-config man-db groff-base file
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

version=$(sed -n 's/^project(Tessvane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
major=${version%%.*}
[ -n "$version" ] || { echo "FAIL: no project version in CMakeLists.txt" >&2; exit 1; }
[ -x build/Tessvane ] && [ -x build/mklas ] || { echo "FAIL: build/ is not built" >&2; exit 1; }

work=$(mktemp -d)
chmod 755 "$work" # apt reads the .deb as its own unprivileged user
we_installed_the_package=no
cleanup() {
  if [ "$we_installed_the_package" = yes ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq tessvane >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Regular files and links under a folder, relative to it, one a line, sorted;
# the CMake export file of the build type is shown as lidarTargets-CONFIG.cmake.
installed_files() {
  (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||; s|lidarTargets-[a-z]*\.cmake$|lidarTargets-CONFIG.cmake|' | LC_ALL=C sort)
}

expected_files() { # LIBDIR
  LC_ALL=C sort <<EOF
bin/Tessvane
include/LiDAR.h
$1/cmake/lidar/lidarConfig.cmake
$1/cmake/lidar/lidarConfigVersion.cmake
$1/cmake/lidar/lidarTargets-CONFIG.cmake
$1/cmake/lidar/lidarTargets.cmake
$1/liblidar.so
$1/liblidar.so.$major
$1/liblidar.so.$version
$1/pkgconfig/lidar.pc
share/man/man1/Tessvane.1.gz
EOF
}

same_lists() { # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1 differ from the expected list (- expected, + found):" >&2
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
    exit 1
  fi
}

# The library under LIBDIR (a folder): SONAME, links, no RPATH, the routines.
check_library() {
  local dir=$1 dynamic
  [ "$(readlink "$dir/liblidar.so")" = "liblidar.so.$major" ] || fail "$dir/liblidar.so does not point to liblidar.so.$major"
  [ "$(readlink "$dir/liblidar.so.$major")" = "liblidar.so.$version" ] || fail "$dir/liblidar.so.$major does not point to liblidar.so.$version"
  dynamic=$(readelf -d "$dir/liblidar.so.$version")
  grep -q "Library soname: \[liblidar.so.$major\]" <<<"$dynamic" || fail "liblidar.so.$version has not the SONAME liblidar.so.$major"
  if grep -Eq 'RPATH|RUNPATH' <<<"$dynamic"; then fail "the installed liblidar.so.$version keeps a build RPATH"; fi
}

check_tool() { # TESSVANE
  local dynamic out status=0
  dynamic=$(readelf -d "$1")
  if grep -q 'liblidar' <<<"$dynamic"; then fail "$1 links liblidar.so; it should carry the module itself"; fi
  out=$("$1") || status=$?
  [ "$status" -eq 255 ] || fail "$1 without arguments exited $status, not 255"
  grep -q "Usage:" <<<"$out" || fail "$1 without arguments printed no usage"
}

# --- 1. The manual page -------------------------------------------------------
warnings=$(MANWIDTH=80 man --warnings -l doc/Tessvane.1 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "doc/Tessvane.1 renders with warnings:
$warnings"
grep -q "^\.TH TESSVANE 1 .*\"Tessvane $version\"" doc/Tessvane.1 || fail "doc/Tessvane.1 does not name Tessvane $version on its .TH line"
# The arguments of the usage text, in order, are those of the SYNOPSIS.
usage_args=$(build/Tessvane | sed -n '/^Usage:/,$p' | sed 's/^Usage://' | tr -s ' \t' '\n' | grep -v '^Tessvane$' | grep -v '^$' || true)
synopsis_args=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH /p' doc/Tessvane.1 | sed -n 's/^\.I //p')
same_lists "the manual page's SYNOPSIS arguments and the usage text's" "$usage_args" "$synopsis_args"
[ "$(wc -l <<<"$usage_args")" -eq 8 ] || fail "the usage text names $(wc -l <<<"$usage_args") arguments, not 8"
echo "man page: renders without warnings; version $version; SYNOPSIS = usage ($(tr '\n' ' ' <<<"$usage_args"))"

# --- 2. Install into a temporary prefix -------------------------------------
prefix=$work/prefix
cmake --install build --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install build"; }
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' build/CMakeCache.txt)
[ -n "$libdir" ] || fail "build/ was configured without the install rules: configure it again"
same_lists "the files installed by cmake --install" "$(expected_files "$libdir")" "$(installed_files "$prefix")"
check_library "$prefix/$libdir"
check_tool "$prefix/bin/Tessvane"
sh tests/lidar/check_exports.sh "$prefix/$libdir/liblidar.so.$version" "$prefix/bin/Tessvane" || fail "installed modules do not export every routine"
grep -qx "prefix=$prefix" "$prefix/$libdir/pkgconfig/lidar.pc" || fail "lidar.pc does not name the install prefix $prefix"
echo "cmake --install: the $(installed_files "$prefix" | wc -l) expected files under a temporary prefix; SONAME liblidar.so.$major, no RPATH"

# --- 3. The example against the install, twice --------------------------------
# Two generator files of different versions and formats; their headers are
# exactly what a refresh writes. The copies get their counts (offset 107, 24
# bytes) and bounding box (offset 179, 48 bytes) zeroed.
build/mklas "$work/v12f3.las" 2000 3 2 0 7
build/mklas "$work/v10f1.las" 700 1 0 2 3
spoil() { # ORIGINAL COPY
  cp "$1" "$2"
  dd if=/dev/zero of="$2" bs=1 seek=107 count=24 conv=notrunc status=none
  dd if=/dev/zero of="$2" bs=1 seek=179 count=48 conv=notrunc status=none
  ! cmp -s "$1" "$2" || fail "spoiling $2 changed nothing"
}
point_count() { od -A n -t u4 -j 107 -N 4 "$1" | tr -d ' '; }

check_refresh() { # HOW PROGRAM
  local how=$1 program=$2 out
  spoil "$work/v12f3.las" "$work/v12f3-spoiled.las"
  spoil "$work/v10f1.las" "$work/v10f1-spoiled.las"
  out=$("$program" "$work/v12f3-spoiled.las" "$work/v10f1-spoiled.las") || fail "$how: refresh_headers exited non-zero: $out"
  [ "$(grep -c 'has been updated' <<<"$out")" -eq 2 ] || fail "$how: refresh_headers did not report two updates: $out"
  for name in v12f3 v10f1; do
    cmp "$work/$name.las" "$work/$name-spoiled.las" || fail "$how: the refreshed $name differs from the generator's file"
  done
  echo "$how: refresh_headers restored the headers (point counts $(point_count "$work/v12f3-spoiled.las") and $(point_count "$work/v10f1-spoiled.las"), return counts and box, byte for byte)"
}

resolves_into() { # PROGRAM FOLDER
  local libs loaded
  libs=$(ldd "$1")
  loaded=$(sed -n "s/^[[:space:]]*liblidar\.so\.$major => \([^ ]*\) .*/\1/p" <<<"$libs")
  [ -n "$loaded" ] && [ "$(realpath "$(dirname "$loaded")")" = "$(realpath "$2")" ] ||
    fail "$1 does not load liblidar from $2: $libs"
}

cmake -S examples -B "$work/example-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS=-Werror >"$work/example-cmake.log" ||
  { cat "$work/example-cmake.log"; fail "configuring the example with find_package(lidar)"; }
grep -qx "lidar_DIR:PATH=$prefix/$libdir/cmake/lidar" "$work/example-cmake/CMakeCache.txt" || fail "find_package(lidar) did not find the temporary prefix"
cmake --build "$work/example-cmake" >>"$work/example-cmake.log" || { cat "$work/example-cmake.log"; fail "building the example with find_package(lidar)"; }
resolves_into "$work/example-cmake/refresh_headers" "$prefix/$libdir"
check_refresh "find_package(lidar)" "$work/example-cmake/refresh_headers"

mkdir "$work/example-pc"
PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" make -s -C examples BUILDDIR="$work/example-pc" \
  CFLAGS="-O2 -Werror" LDFLAGS="-Wl,-rpath,$prefix/$libdir" >"$work/example-pc.log" ||
  { cat "$work/example-pc.log"; fail "building the example through pkg-config"; }
resolves_into "$work/example-pc/refresh_headers" "$prefix/$libdir"
check_refresh "pkg-config" "$work/example-pc/refresh_headers"

# --- 4. The Debian package ----------------------------------------------------
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
cmake -S . -B "$work/build-deb" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTESSVANE_BUILD_TESTS=OFF -DTESSVANE_WERROR=ON >"$work/build-deb.log" 2>&1 &&
  cmake --build "$work/build-deb" -j2 >>"$work/build-deb.log" 2>&1 &&
  (cd "$work/build-deb" && cpack -G DEB >>"$work/build-deb.log" 2>&1) ||
  { cat "$work/build-deb.log"; fail "building the Debian package"; }
deb=$work/build-deb/tessvane_${version}_${arch}.deb
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tessvane ] || fail "package name is '$(field Package)', not tessvane"
[ "$(field Version)" = "$version" ] || fail "package version is '$(field Version)', not $version"
[ -n "$(field Maintainer)" ] || fail "the package has no maintainer"
[ -n "$(field Description)" ] || fail "the package has no description"
depends=$(field Depends)
grep -q 'libc6' <<<"$depends" && grep -q 'libstdc++6' <<<"$depends" || fail "Depends lacks libc6 or libstdc++6: $depends"

# Exactly the expected files, under /usr.
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||; s|lidarTargets-[a-z]*\.cmake$|lidarTargets-CONFIG.cmake|' | LC_ALL=C sort)
same_lists "the files of $(basename "$deb")" "$(expected_files "lib/$multiarch")" "$listed"
dpkg-deb -x "$deb" "$work/deb-root"
check_library "$work/deb-root/usr/lib/$multiarch"
sh tests/lidar/check_exports.sh "$work/deb-root/usr/lib/$multiarch/liblidar.so.$version" "$work/deb-root/usr/bin/Tessvane" ||
  fail "the packaged (stripped) modules do not export every routine"
grep -qx "prefix=/usr" "$work/deb-root/usr/lib/$multiarch/pkgconfig/lidar.pc" || fail "the packaged lidar.pc does not name /usr"
warnings=$(MANWIDTH=80 man --warnings -l "$work/deb-root/usr/share/man/man1/Tessvane.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the packaged manual page renders with warnings: $warnings"
echo "$(basename "$deb"): Depends: $depends; the $(wc -l <<<"$listed") expected files under /usr"

# Install, use, remove.
if dpkg-query -W -f='${Status}' tessvane 2>/dev/null | grep -q "install ok installed"; then
  fail "a tessvane package is installed already; remove it first"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install $(basename "$deb")"; }
we_installed_the_package=yes
[ "$(command -v Tessvane)" = /usr/bin/Tessvane ] || fail "Tessvane is not /usr/bin/Tessvane after the install"
check_tool /usr/bin/Tessvane
moved=$(/usr/bin/Tessvane "$work/v12f3.las" "$work/moved.las" 10 20 1 30 500500 4000500) || fail "the installed Tessvane failed to move a file: $moved"
grep -q "Completed in" <<<"$moved" || fail "the installed Tessvane did not report completion"
[ "$(point_count "$work/moved.las")" = "$(point_count "$work/v12f3.las")" ] || fail "the moved file has not the input's point count"
ldconfig -p | grep -q "liblidar.so.$major " || fail "ldconfig does not know liblidar.so.$major after the install"
if [ -e /usr/share/man/man1/Tessvane.1.gz ]; then
  [ "$(man -w Tessvane)" = /usr/share/man/man1/Tessvane.1.gz ] || fail "man does not find the installed page"
else
  echo "note: dpkg's path filters left out the manual page on this machine"
fi
# The same example, built against the system install with no hints at all.
# shellcheck disable=SC2046 # pkg-config's flags are meant to split into words
cc -std=c11 -Wall -Wextra -Wpedantic -Werror examples/refresh_headers.c $(pkg-config --cflags --libs lidar) -o "$work/example-system-pc" ||
  fail "building the example with cc \$(pkg-config --cflags --libs lidar)"
resolves_into "$work/example-system-pc" "/usr/lib/$multiarch"
check_refresh "installed package, pkg-config" "$work/example-system-pc"
cmake -S examples -B "$work/example-system-cmake" -DCMAKE_C_FLAGS=-Werror >"$work/example-system-cmake.log" &&
  cmake --build "$work/example-system-cmake" >>"$work/example-system-cmake.log" ||
  { cat "$work/example-system-cmake.log"; fail "building the example with find_package(lidar) against the installed package"; }
check_refresh "installed package, find_package(lidar)" "$work/example-system-cmake/refresh_headers"

apt-get remove --purge -y -qq tessvane >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove --purge tessvane"; }
we_installed_the_package=no
[ ! -e /usr/bin/Tessvane ] && [ ! -e "/usr/lib/$multiarch/liblidar.so.$major" ] || fail "files of tessvane remain after its removal"
if ldconfig -p | grep -q "liblidar.so.$major "; then fail "ldconfig still lists liblidar.so.$major after the removal"; fi
if dpkg-query -W tessvane >/dev/null 2>&1; then fail "dpkg still records tessvane after its removal"; fi
echo "apt-get: installed, ran /usr/bin/Tessvane (usage, exit 255; a move, exit 0), linked the example both ways, removed and purged"
echo "50-package: $(($(date +%s) - start)) s"

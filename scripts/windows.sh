#!/usr/bin/env bash
# Cross-builds Dorvane for 64-bit Windows on Debian 12 and lays out a folder
# that runs on a Windows machine as it is, a zip of it, and its installer:
#   build-windows/dorvane-<version>-win64/      dorvane.exe, Qt and MinGW DLLs,
#                                               platforms/, translations/
#   build-windows/dorvane-<version>-win64.zip
#   build-windows/dorvane-<version>-win64-setup.exe
#                                               NSIS installer (dist/windows/dorvane.nsi)
# Qt 6 (Core, Gui, Widgets, Test) is built from Debian's own Qt source for
# x86_64-w64-mingw32 once and kept outside the clone in
#   ${XDG_CACHE_HOME:-$HOME/.cache}/dorvane/qt-<ver>-x86_64-w64-mingw32-<hash>
# (the hash covers the configure options), so a second run rebuilds only the
# tool. The cache folder appears only when Qt's install is complete.
#
# Usage: scripts/windows.sh [--qt-only] [--tests] [--test-version X.Y.Z]
#   --qt-only       build (or find) Qt and stop
#   --tests         also build the test suites that need no server (tests/*.exe)
#   --test-version  for the installer's upgrade test only: build dorvane.exe,
#                   the folder, zip and installer as version X.Y.Z instead of
#                   the project's
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/nsis.sh
. "$here/scripts/lib/nsis.sh"
qt_only=0
with_tests=0
test_version=
usage() { echo "usage: $0 [--qt-only] [--tests] [--test-version X.Y.Z]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --qt-only) qt_only=1 ;;
    --tests) with_tests=1 ;;
    --test-version)
      [ $# -ge 2 ] || usage
      test_version=$2
      shift
      [[ $test_version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || usage ;;
    *) usage ;;
  esac
  shift
done

triple=x86_64-w64-mingw32
qt_version=6.4.2
cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/dorvane
jobs=$(nproc)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

log() { printf '[windows] %s\n' "$*" >&2; }
die() { printf '[windows] error: %s\n' "$*" >&2; exit 1; }

# --- Debian packages -------------------------------------------------------
# The cross compiler (POSIX threads model: std::thread and friends), the
# host Qt whose moc/rcc/uic the cross build runs, Qt's translations, zip;
# rsvg-convert and icotool for the program's icon, NSIS for the installer.
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build dpkg-dev
          qt6-base-dev qt6-base-dev-tools qt6-translations-l10n zip xz-utils
          librsvg2-bin icoutils nsis)
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cc=$triple-gcc-posix
cxx=$triple-g++-posix
command -v "$cxx" >/dev/null || die "$cxx not found"

# --- toolchain file ---------------------------------------------------------
mkdir -p "$cache_root"
toolchain=$cache_root/mingw-w64-$triple.cmake
cat > "$toolchain.tmp" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_RC_COMPILER $triple-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
mv "$toolchain.tmp" "$toolchain"

# --- Qt for Windows ---------------------------------------------------------
# Only what the tool needs: no SQL, network, D-Bus, ICU, OpenGL (INPUT_opengl;
# FEATURE_opengl=OFF breaks the Windows platform plugin of 6.4.2), no tablet
# events (Debian's source lacks wintab). Every third-party library is Qt's
# bundled copy, as nothing of it exists for the target here.
qt_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DQT_BUILD_MANUAL_TESTS=OFF -DQT_GENERATE_SBOM=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF
  -DINPUT_opengl=no
  -DFEATURE_tabletevent=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
  -DFEATURE_zstd=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
)
qt_hash=$( { echo "$qt_version $cxx"; printf '%s\n' "${qt_options[@]}"; } | sha256sum | cut -c1-10)
qt_prefix=$cache_root/qt-$qt_version-$triple-$qt_hash

build_qt() {
  local work src
  work=$(mktemp -d "$cache_root/.qt-build.XXXXXX")
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" EXIT
  # Debian's qtbase source, through a private apt configuration with a
  # deb-src entry (the system's own apt configuration is left alone).
  local apt=$work/apt
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$work/src"
  cat > "$apt/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
  local aptopts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
                 -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt" -o APT::Sandbox::User=root)
  log "fetching Debian's qt6-base source"
  apt-get "${aptopts[@]}" update -qq
  (cd "$work/src" && apt-get "${aptopts[@]}" source -qq qt6-base >/dev/null)
  src=$(find "$work/src" -maxdepth 1 -mindepth 1 -type d -name "qt6-base-$qt_version*" -print -quit)
  [ -n "$src" ] || die "Debian's qt6-base $qt_version source was not unpacked"

  log "configuring Qt $qt_version for $triple"
  local t0=$SECONDS
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
    -DCMAKE_STAGING_PREFIX="$work/install" "${qt_options[@]}" > "$work/configure.log" 2>&1 \
    || { tail -40 "$work/configure.log" >&2; die "Qt configure failed (log: $work/configure.log)"; }
  log "building Qt (this takes half an hour on two cores)"
  cmake --build "$work/build" --parallel "$jobs" > "$work/build.log" 2>&1 \
    || { tail -40 "$work/build.log" >&2; die "Qt build failed (log: $work/build.log)"; }
  cmake --install "$work/build" > "$work/install.log" 2>&1 \
    || { tail -20 "$work/install.log" >&2; die "Qt install failed"; }
  log "Qt built in $((SECONDS - t0)) s"
  # Publish atomically: the folder named by the hash appears complete or not at all.
  rm -rf "$qt_prefix.partial"
  mv "$work/install" "$qt_prefix.partial"
  mv -T "$qt_prefix.partial" "$qt_prefix"
  rm -rf "$work"
}

if [ -f "$qt_prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  log "using cached Qt: $qt_prefix"
else
  build_qt
fi
[ "$qt_only" -eq 1 ] && exit 0

# --- the tool ----------------------------------------------------------------
version=$(sed -n 's/^project(Dorvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
[ -z "$test_version" ] || version=$test_version
out=$here/build-windows
build=$out/build
name=dorvane-$version-win64
dist=$out/$name
t0=$SECONDS
cmake_args=(-S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain"
            -DCMAKE_PREFIX_PATH="$qt_prefix" -DCMAKE_FIND_ROOT_PATH="$qt_prefix" -DQT_HOST_PATH=/usr
            -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
            -DCMAKE_BUILD_TYPE=Release -DDV_WERROR=ON -DDV_WITH_TESTSERVER=OFF
            -DDV_TEST_VERSION="$test_version")
if [ "$with_tests" -eq 1 ]; then cmake_args+=(-DBUILD_TESTING=ON); else cmake_args+=(-DBUILD_TESTING=OFF); fi
# shellcheck disable=SC2086 # DV_CMAKE_ARGS holds several arguments
cmake "${cmake_args[@]}" ${DV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$jobs"
log "tool built in $((SECONDS - t0)) s"

# --- the folder that runs on Windows as it is --------------------------------
gcc_dlls=$(dirname "$($cxx -print-libgcc-file-name)")
runtime=("$gcc_dlls/libstdc++-6.dll" "$gcc_dlls/libgcc_s_seh-1.dll" /usr/$triple/lib/libwinpthread-1.dll)
strip=$triple-strip
rm -rf "$dist" "$dist.zip"
mkdir -p "$dist/platforms" "$dist/translations"
cp "$build/src/app/dorvane.exe" "$dist/"
for m in Core Gui Widgets; do cp "$qt_prefix/bin/Qt6$m.dll" "$dist/"; done
cp "${runtime[@]}" "$dist/"
cp "$qt_prefix/plugins/platforms/qwindows.dll" "$dist/platforms/"
cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$dist/translations/"
# Qt's libraries sit beside the program: the prefix is the folder itself.
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n' > "$dist/qt.conf"
find "$dist" -name '*.exe' -o -name '*.dll' | while read -r f; do "$strip" --strip-unneeded "$f"; done
(cd "$out" && zip -qr9 "$name.zip" "$name")
log "folder: $dist ($(du -sh "$dist" | cut -f1)); zip: $dist.zip ($(du -h "$dist.zip" | cut -f1))"

# --- the installer -----------------------------------------------------------
setup=$out/$name-setup.exe
nsis_installer "$dist" "$version" "$build/src/app/dorvane.ico" "$setup" "$out/nsis" \
  || { tail -20 "$out/nsis/makensis.log" >&2; die "makensis failed (log: $out/nsis/makensis.log)"; }
log "installer: $setup ($(du -h "$setup" | cut -f1))"

# --- the suites that need no server, beside the libraries they need ---------
if [ "$with_tests" -eq 1 ]; then
  tests=$out/tests
  rm -rf "$tests"
  mkdir -p "$tests"
  cp "$build"/tests/tst_*.exe "$tests/"
  for m in Core Test; do cp "$qt_prefix/bin/Qt6$m.dll" "$tests/"; done
  cp "${runtime[@]}" "$tests/"
  log "test suites: $tests"
fi

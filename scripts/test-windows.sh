#!/usr/bin/env bash
# Cross-builds korvane.dll and the test runner for 32-bit and 64-bit Windows
# with MinGW-w64, checks each library's exports and imports, and runs the
# whole test suite against each library under Wine, in a fresh Wine prefix
# of its own width. The prefixes, and the socket folder that Wine's server
# makes in TMPDIR, are in one temporary folder that is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-windows-deps.sh"

# Quiet, no desktop integration, no offer to install the .NET or HTML
# runtimes, and no debugger: a crashing test fails at once instead of
# waiting in the debugger.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
work=""
prefixes=()
stop_wine() {
  local prefix
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
  done
  [ -z "$work" ] || rm -rf "$work"
}
trap stop_wine EXIT

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

build() {
  local width=$1 dir=$root/build/$1
  configure "$width" -DKORVANE_WERROR="${KORVANE_WERROR:-OFF}"
  cmake --build "$dir" -j2
  "$root/scripts/check-dll.sh" "$dir/korvane.dll"
  "$root/scripts/check-dll.sh" "$dir/korvane_probed.dll"
}

# A new prefix of the given width with a persistent server that already runs
# Wine's helper processes. Those helpers inherit the output of the Wine
# process that starts them, and CTest would wait for that pipe to close, so
# they are started here with every output silenced. The prefix is created
# before the server starts: a server started on an empty prefix makes it a
# 64-bit one.
start_wine() {
  local prefix=$1 arch=$2 loader=$3
  prefixes+=("$prefix")
  WINEPREFIX=$prefix WINEARCH=$arch "$loader" wineboot -i \
    </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w
  WINEPREFIX=$prefix wineserver -p
  WINEPREFIX=$prefix "$loader" wineboot </dev/null >/dev/null 2>&1
}

# The Wine loader that CMake chose for the build's tests.
loader_of() {
  sed -n 's/^KORVANE_WINE:FILEPATH=//p' "$1/CMakeCache.txt"
}

build win32
build win64

work=$(mktemp -d /tmp/korvane-wine.XXXXXX)
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
status=0
for width in win32 win64; do
  dir=$root/build/$width
  prefix=$work/$width
  start_wine "$prefix" "$width" "$(loader_of "$dir")"
  echo "== Windows ${width#win}-bit build under Wine"
  WINEPREFIX=$prefix ctest --test-dir "$dir" -j2 --timeout 600 \
    --output-on-failure || status=1
done
exit $status

#!/usr/bin/env bash
# Runs the build commands the README gives users, word for word, as a user
# would: the install recipe with GCC and with Clang (then ctest on that build
# and a check that the install put lib/vst/korvane.so and the LV2 bundle
# lib/lv2/korvane.lv2 into the prefix), the LV2 bundle used from ~/.lv2 by
# lv2apply, and the hand-made 32-bit Windows build. Only the build folders and the install
# prefix are moved into a temporary folder, and warnings count as errors
# (through CXXFLAGS, which the printed commands pick up unchanged).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first ```sh block after the line that matches $1.
readme_block() {
  awk -v start="$1" '
    index($0, start) { found = 1; next }
    found && /^```sh/ { inside = 1; next }
    inside && /^```/ { exit }
    inside { print }' README.md
}

recipe=$(readme_block "## Loading korvane in a host")
windows=$(readme_block "to build one by hand:")
[ -n "$recipe" ] && [ -n "$windows" ] || {
  echo "test-readme: README build commands not found" >&2
  exit 1
}

run_recipe() {
  local name=$1 cc=$2 cxx=$3 dir=$work/$1
  echo "== README install recipe with $name"
  local script=${recipe//build\/release/$dir/build}
  script=${script//--prefix \/usr\/local/--prefix $dir/prefix}
  CC=$cc CXX=$cxx CXXFLAGS=-Werror CFLAGS=-Werror bash -euxc "$script"
  local file
  for file in lib/vst/korvane.so lib/lv2/korvane.lv2/manifest.ttl \
    lib/lv2/korvane.lv2/korvane.ttl lib/lv2/korvane.lv2/korvane.so; do
    test -f "$dir/prefix/$file" || {
      echo "test-readme: $name install has no $file" >&2
      exit 1
    }
  done
  ctest --test-dir "$dir/build" -j"$(nproc)" --output-on-failure | tail -n 3
}

run_recipe gcc gcc g++

# The LV2 bundle copied into ~/.lv2 and applied to a file by lv2apply, as the
# README prints it, with HOME a folder of this run's own and the bundle from
# the GCC build above.
echo "== README LV2 commands"
lv2copy=$(grep -m 1 '^mkdir -p ~/.lv2' README.md)
lv2apply=$(grep -o -m 1 '`lv2apply [^`]*`' README.md | tr -d '`')
[ -n "$lv2copy" ] && [ -n "$lv2apply" ] || {
  echo "test-readme: README LV2 commands not found" >&2
  exit 1
}
mkdir -p "$work/lv2/build" "$work/lv2/home"
ln -s "$work/gcc/build" "$work/lv2/build/release"
(
  cd "$work/lv2"
  "$work/gcc/build/korvane" demo >/dev/null
  cp demo/drum-loop.wav song.wav
  HOME=$work/lv2/home bash -euxc "$lv2copy"
  # Only ~/.lv2, so that a bundle installed elsewhere cannot stand in.
  LV2_PATH=$work/lv2/home/.lv2 HOME=$work/lv2/home bash -euxc "$lv2apply"
  test -s song-korvane.wav
)

run_recipe clang clang clang++

echo "== README Windows build (32-bit)"
"$root/scripts/install-windows-deps.sh"
CXXFLAGS=-Werror CFLAGS=-Werror \
  bash -euxc "${windows//build\/win32/$work/win32}"
test -f "$work/win32/korvane.dll"
echo "test-readme: the README's build commands work as printed"

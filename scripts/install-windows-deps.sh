#!/usr/bin/env bash
# Installs what cross-building korvane for Windows and testing it under Wine
# needs, unless every tool is already there: the MinGW-w64 compilers of the
# posix thread flavour (the default win32 flavour has no std::mutex, which
# GoogleTest needs), GoogleTest's sources, and Wine for 32-bit and 64-bit
# programs. Needs root (or sudo) on a machine without them.
set -euo pipefail

have_everything() {
  command -v cmake && command -v objdump &&
    command -v i686-w64-mingw32-g++-posix &&
    command -v x86_64-w64-mingw32-g++-posix &&
    command -v wine && command -v wineserver &&
    [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] &&
    [ -f /usr/src/googletest/CMakeLists.txt ]
}
have_everything >/dev/null && exit 0

echo "installing the MinGW-w64 compilers and Wine" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# wine32, the loader of 32-bit programs, is a package of the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
apt=($sudo apt-get -o DPkg::Lock::Timeout=600)
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq --no-install-recommends cmake binutils googletest \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 wine32:i386 >/dev/null

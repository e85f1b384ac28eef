#!/usr/bin/env bash
# Builds the plug-in and the command-line host, then renders the built-in
# demo through korvane into demo/ (or the folder given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"
configure release
cmake --build "$root/build/release" -j"$(nproc)"
"$root/build/release/korvane" demo "${1:-$root/demo}"

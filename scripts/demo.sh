#!/usr/bin/env bash
# Builds the plug-in and the command-line host, then renders the built-in
# demo through korvane into demo/ (or the folder given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release \
  -DKORVANE_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j"$(nproc)"
"$root/build/release/korvane" demo "${1:-$root/demo}"

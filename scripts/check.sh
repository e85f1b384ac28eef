#!/usr/bin/env bash
# The contributor's quick loop: the 64-bit build (preset x64) and its whole
# suite, warnings as errors. With --asan, the sanitizer pass instead: the
# build under AddressSanitizer and UndefinedBehaviorSanitizer (preset
# sanitize) and its suite, which takes several times as long. Installs
# nothing and starts no Wine, Ardour or fuzzer; scripts/test.sh is the full
# run that CI makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

case "${1:-}" in
  "")
    echo "== 64-bit build"
    configure_and_build x64
    ctest --test-dir "$root/build/x64" -j"$jobs" --output-on-failure
    ;;
  --asan)
    echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
    configure_and_build sanitize
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build/sanitize" -j"$jobs" --output-on-failure
    ;;
  *)
    echo "usage: scripts/check.sh [--asan]" >&2
    exit 2
    ;;
esac

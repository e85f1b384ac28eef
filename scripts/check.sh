#!/usr/bin/env bash
# The contributor's quick loop: the 64-bit build and the sanitizer build, each
# with its whole suite, warnings as errors. Installs nothing and starts no
# Wine, Ardour or fuzzer; scripts/test.sh is the full run that CI makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

build_and_test() {
  local dir=$1
  configure_and_build "$@"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure
}

status=0
echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test "$root/build/sanitize" -DKORVANE_SANITIZE=ON || status=1
echo "== 64-bit build"
build_and_test "$root/build/x64" || status=1
exit $status

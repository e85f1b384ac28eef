#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it from the seed corpus for a
# bounded time (seconds, default 60). Fails on any finding: a sanitizer
# report, a crash, a hang or a broken invariant. Prints the executions and
# the coverage of the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build/fuzz"

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"
# A folder from when the fuzz target was a project of its own starts afresh.
if [ -f "$build/CMakeCache.txt" ] &&
  ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
configure fuzz -DKORVANE_WERROR="${KORVANE_WERROR:-OFF}"
cmake --build "$build" -j"$(nproc)" --target korvane_fuzzer >/dev/null

# The run grows its own copy of the corpus; the repository's stays small.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/fuzz/corpus/* "$work/"
mkdir -p "$build/findings"
log="$build/fuzz.log"

status=0
"$build/korvane_fuzzer" "$work" -max_total_time="$seconds" -timeout=10 \
  -max_len=1024 -print_final_stats=1 -artifact_prefix="$build/findings/" \
  >"$log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz: FINDING after ${executions:-?} executions (${coverage:-no coverage}); input kept in $build/findings/" >&2
  exit 1
fi
echo "fuzz: ${executions} executions in ${seconds} s, ${coverage}, no finding"

#!/usr/bin/env bash
# Builds the grain-engine benchmarks in Release mode (build/bench) and runs
# them on one core, three repetitions each, showing mean, median, standard
# deviation and coefficient of variation. Extra arguments go to the benchmark
# runner, e.g. --benchmark_filter=all32Grains or --benchmark_out=bench.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
"$root/scripts/install-deps.sh"

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"
configure bench
cmake --build "$build" -j2 --target korvane_bench

# One core: the targets are stated per core, and pinning keeps the process
# from migrating between cores mid-measurement.
pin=()
if command -v taskset >/dev/null 2>&1; then pin=(taskset -c "${KORVANE_BENCH_CPU:-0}"); fi
"${pin[@]}" "$build/bench/korvane_bench" \
  --benchmark_repetitions=3 --benchmark_display_aggregates_only=true "$@"

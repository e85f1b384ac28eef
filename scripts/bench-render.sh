#!/usr/bin/env bash
# What `korvane render` costs beyond the effect: the processor time (user +
# system) of a render of 60 s of 44.1 kHz stereo 16-bit bursts, divided by
# that of the bare render loop (bench/bareRender.cpp: the same file input
# and output and the same effect in blocks of 512, nothing else), at the
# effect's defaults (about three grains) and dense (32 grains). Builds
# Release in build/bench-render and runs everything pinned to one core,
# alternating, KORVANE_BENCH_ROUNDS times (default 5), and shows each
# round's ratios and their median and spread.
#
#   KORVANE_BENCH_BEFORE=DIR  also measures DIR/korvane (another build, e.g.
#                             of the commit before a change), in the same
#                             rounds
#   KORVANE_BENCH_CALLGRIND=1 instead counts instructions with callgrind
#                             (10 s of input, one run each): repeatable on a
#                             loaded machine
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench-render"

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"
configure bench -B "$build" -DKORVANE_HOST=ON
cmake --build "$build" -j2 --target korvane_cli korvane korvane_bare_render

pin=()
if command -v taskset >/dev/null 2>&1; then pin=(taskset -c "${KORVANE_BENCH_CPU:-0}"); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bare="$build/bench/korvane_bare_render"
tools=(after "$build/korvane")
if [ -n "${KORVANE_BENCH_BEFORE:-}" ]; then
  tools+=(before "$KORVANE_BENCH_BEFORE/korvane")
fi
dense=(--set "st rate=0" --set len=0.5 --set "pos jitter=1" --set "p jitter=0.25")

# Runs one workload with `$@` before the command; prints its processor
# seconds, or its instructions under callgrind.
measure() {
  local workload=$1 name=$2
  shift 2
  local args=(render "$work/in.wav" "$work/out.wav" -q --seed 1)
  local bareArgs=("$work/in.wav" "$work/bare.wav")
  if [ "$workload" = dense ]; then
    args+=("${dense[@]}")
    bareArgs+=(--dense)
  fi
  local command=("$name" "${args[@]}")
  [ "$name" = bare ] && command=("$bare" "${bareArgs[@]}")
  if [ -n "${KORVANE_BENCH_CALLGRIND:-}" ]; then
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
      "${command[@]}" >/dev/null 2>&1
    awk '/^summary:/ { print $2 }' "$work/cg.out"
  else
    local TIMEFORMAT='%3U %3S'
    { time "${pin[@]}" "${command[@]}" >/dev/null 2>&1; } 2>&1 |
      awk '{ printf "%.3f\n", $1 + $2 }'
  fi
}

seconds=60
rounds=${KORVANE_BENCH_ROUNDS:-5}
if [ -n "${KORVANE_BENCH_CALLGRIND:-}" ]; then
  seconds=10
  rounds=1
fi
"$bare" --make-input "$work/in.wav" "$seconds"

results="$work/results"
for round in $(seq "$rounds"); do
  for workload in defaults dense; do
    base=$(measure "$workload" bare)
    line="round $round $workload: bare $base"
    for ((i = 0; i < ${#tools[@]}; i += 2)); do
      cost=$(measure "$workload" "${tools[i + 1]}")
      ratio=$(awk -v a="$cost" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
      line+=", ${tools[i]} $cost ($ratio)"
      echo "${tools[i]} $workload $ratio" >>"$results"
    done
    echo "$line"
  done
done

echo "== render / bare loop: median (lowest to highest) of $rounds rounds"
sort -k1,1 -k2,2 -k3,3n "$results" | awk '
  { key = $1 " " $2; v[key, ++n[key]] = $3 }
  END {
    for (key in n) {
      m = n[key]
      median = m % 2 ? v[key, (m + 1) / 2] : (v[key, m / 2] + v[key, m / 2 + 1]) / 2
      printf "%-16s %.2f (%.2f to %.2f)\n", key, median, v[key, 1], v[key, m]
    }
  }' | sort

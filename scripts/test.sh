#!/usr/bin/env bash
# Builds korvane and runs the whole test suite three times: first the 64-bit
# build, so that a failure shows early, then the 32-bit build (where the
# record is 144 bytes) and the 64-bit build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each with the LV2 bundle's tests, and checks
# the bundle with lv2_validate and lv2info (scripts/check-lv2.sh); then
# fuzzes the plug-in record for a minute (scripts/fuzz.sh), has Ardour host the 64-bit library
# (scripts/test-ardour.sh) and Audacity apply it to audio files
# (scripts/test-audacity.sh), then the same with the LV2 bundle (--lv2);
# then cross-builds korvane.dll for 32-bit and 64-bit
# Windows and runs the suite against each under Wine (scripts/test-windows.sh);
# then has LMMS host the 32-bit korvane.dll under Wine (scripts/test-lmms.sh).
# Ends with the test runner's summary of the 64-bit suite, printed again.
# Each build is a preset of CMakePresets.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"
# Every build this run makes treats warnings as errors (the scripts it calls
# read this too); a user's own build never does.
export KORVANE_WERROR=ON

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

# Runs one stage under its heading; a stage that fails is named again just
# before the summary at the end, and the run then exits 1.
failed=()
stage() {
  local title=$1
  shift
  echo "== $title"
  "$@" || failed+=("$title")
}

# The 64-bit suite first; its summary is kept for the end of the run.
x64_log=$(mktemp)
trap 'rm -f "$x64_log"' EXIT
configure_and_build x64
echo "== 64-bit build"
ctest --test-dir "$root/build/x64" -j"$jobs" --output-on-failure |
  tee "$x64_log" || failed+=("64-bit build")

configure_and_build x86
configure_and_build sanitize

# Every C++ source is laid out as .clang-format says.
"$root/scripts/check-format.sh"

# The plug-in exports `main` and nothing else.
"$root/scripts/check-exports.sh" "$root/build/x64/korvane.so"
"$root/scripts/check-exports.sh" "$root/build/x86/korvane.so"
# The LV2 bundle passes lv2_validate, lv2info lists its ports, and its
# binary exports lv2_descriptor alone.
stage "The LV2 bundle" "$root/scripts/check-lv2.sh" "$root/build/x64/korvane.lv2"
stage "The 32-bit LV2 binary's exports" "$root/scripts/check-exports.sh" \
  "$root/build/x86/korvane.lv2/korvane.so" lv2_descriptor

stage "32-bit build" ctest --test-dir "$root/build/x86" -j"$jobs" --output-on-failure
stage "AddressSanitizer and UndefinedBehaviorSanitizer" \
  env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build/sanitize" -j"$jobs" --output-on-failure
stage "Fuzzing the plug-in record" "$root/scripts/fuzz.sh" 60
stage "The README's build commands, with GCC and Clang" "$root/scripts/test-readme.sh"
stage "Ardour hosting the 64-bit build" \
  "$root/scripts/test-ardour.sh" "$root/build/x64/korvane.so"
stage "Audacity applying the 64-bit build to audio files" \
  "$root/scripts/test-audacity.sh" "$root/build/x64/korvane.so"
stage "Ardour hosting the 64-bit LV2 bundle" \
  "$root/scripts/test-ardour.sh" --lv2 "$root/build/x64/korvane.lv2"
stage "Audacity applying the 64-bit LV2 bundle to audio files" \
  "$root/scripts/test-audacity.sh" --lv2 "$root/build/x64/korvane.lv2"
stage "Windows builds under Wine" "$root/scripts/test-windows.sh"
stage "LMMS hosting the 32-bit korvane.dll" \
  "$root/scripts/test-lmms.sh" "$root/build/win32/korvane.dll"
if ((${#failed[@]})); then
  printf '== FAILED: %s\n' "${failed[@]}"
fi
echo "== 64-bit build (its suite ran first; the summary again)"
sed -n '/tests passed, /,$p' "$x64_log"
((${#failed[@]} == 0))

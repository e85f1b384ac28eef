#!/usr/bin/env bash
# Runs korvane.dll, the shipped 32-bit Windows form, inside LMMS 1.2: LMMS
# renders a project headlessly in which its sample-playing instrument plays
# a known input through korvane in LMMS's plug-in effect slot, which hosts
# the DLL in LMMS's own remote host under Wine. The same project without
# the effect gives the dry render, which the command-line host then renders
# through the Linux library at the same tempo; tests/lmms/check_render.py
# checks LMMS's log and render and that both renders are the same sample
# for sample. All of it runs at 44100 Hz, then again at 48000 Hz, where the
# loops must keep their length in seconds. Prints what LMMS reported and the
# measurements; fails on any failed check.
# Usage: scripts/test-lmms.sh [path/to/korvane.dll]
# Without a path it builds build/win32/korvane.dll.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests="$root/tests/lmms"
tempo=90 # not 120, korvane's fallback when a host gives no tempo
# The rates LMMS renders at, each a run of its own; the first is the one
# the repeated renders use.
rates=(44100 48000)

# Seconds that each step may take before it is stopped.
install_limit=1200
wine_limit=180
render_limit=120
reference_limit=120
check_limit=120

# apt_install, installed, build_host, run_bounded, fail and show_log
# shellcheck source=host-test-common.sh
. "$root/scripts/host-test-common.sh"

# LMMS's plug-in effect and its remote host exist in Debian 12 for i386
# only; installing lmms:i386 replaces an amd64 lmms.
install_missing() {
  local packages=() package
  for package in lmms:i386 lmms-vst-server:i386 wine wine32:i386 xvfb \
    xauth python3 procps; do
    installed "$package" || packages+=("$package")
  done
  [ ${#packages[@]} -eq 0 ] && return 0
  apt_install --i386 "${packages[@]}"
}

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

build_dll() {
  local dir="$root/build/win32"
  "$root/scripts/install-windows-deps.sh" >&2
  configure win32 -DKORVANE_WERROR="${KORVANE_WERROR:-OFF}"
  cmake --build "$dir" -j2 --target korvane >&2
  echo "$dir/korvane.dll"
}

# LMMS with "Sync VST plugins" on keeps the tempo in a System V
# shared-memory segment that a killed LMMS leaves behind, and a later LMMS
# then reads a stale tempo. The LMMS processes of this test write their
# process ids to $work/lmms-pids; segments that they created and that
# nothing uses any more are removed.
remove_segments() {
  [ -f "$work/lmms-pids" ] || return 0
  local id creator attached
  while read -r id creator; do
    grep -qx "$creator" "$work/lmms-pids" || continue
    attached=$(ipcs -m -i "$id" 2>/dev/null | sed -n 's/.*nattch=\([0-9]*\).*/\1/p')
    [ "$attached" = 0 ] || continue
    echo "  removing shared-memory segment $id left by LMMS process $creator"
    ipcrm -m "$id" || true
  done < <(ipcs -m -p | awk '$1 ~ /^[0-9]+$/ {print $1, $3}')
}

# The key under which LMMS keeps its tempo segment: ftok("/dev/null", 'R').
warn_stale_segment() {
  local key
  key=$(printf '0x%08x' $(((0x52 << 24) | (($(stat -c %d /dev/null) & 0xff) << 16) |
    ($(stat -c %i /dev/null) & 0xffff))))
  ipcs -m | awk -v key="$key" '$1 == key {found = 1} END {exit !found}' ||
    return 0
  echo "warning: a shared-memory segment with LMMS's tempo key $key exists" \
    "already (another LMMS is running, or one was killed; if none runs," \
    "'ipcrm -M $key' removes it): LMMS may read a stale tempo from it"
}

work=""
# Wine's server outlives its last process by a few seconds and saves the
# prefix's registry as it ends, so it is waited for before the prefix is
# removed; stopped only when it does not end by itself. (It is not stopped
# first: a server told to stop may still be writing after `wineserver -w`.)
stop_wine() {
  [ -d "$work/wine" ] || return 0
  WINEPREFIX="$work/wine" timeout 30 wineserver -w >/dev/null 2>&1 ||
    { WINEPREFIX="$work/wine" wineserver -k >/dev/null 2>&1
      sleep 2; }
}
cleanup() {
  [ -n "$group" ] && kill -KILL -- "-$group" 2>/dev/null
  if [ -n "$work" ]; then
    stop_wine
    remove_segments
    rm -rf "$work" || { sleep 2; rm -rf "$work"; } || true
  fi
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Shows a log; of Wine's lines about the libraries it loaded only korvane's.
show_lmms_log() {
  awk '!/:loaddll:/ || tolower($0) ~ /korvane/' "$1" | show_log
}

# Renders a project in LMMS on a virtual display, 32-bit float WAV at the
# rate given, without oversampling: LMMS oversamples by 2 by default, so
# korvane would run at twice the rate and LMMS would resample its output,
# which the command-line host's render at the file's rate could not match.
lmms_render() {
  local project=$1 out=$2 log=$3 rate=$4
  rm -f "$out"
  # shellcheck disable=SC2016 # the inner shell expands $$, $0 and $@
  run_bounded "$render_limit" xvfb-run -a -s "-screen 0 800x600x24" \
    sh -c 'echo "$$" >>"$0"; exec "$@"' "$work/lmms-pids" \
    lmms --allowroot -c "$work/lmmsrc.xml" render "$project" \
    -a -x 1 -s "$rate" -f wav -o "$out" >"$log" 2>&1
}

# One render with its log shown. LMMS 1.2.2 has been seen to crash now and
# then at start-up, right after its remote host had loaded the plug-in
# (about 2 runs in 32); a render that ends by a signal is tried once more.
render() {
  local dir=$1 name=$2 rate=$3 status=0 attempt
  for attempt in 1 2; do
    status=0
    lmms_render "$dir/$name.mmp" "$dir/$name.wav" "$dir/$name.log" "$rate" ||
      status=$?
    show_lmms_log "$dir/$name.log"
    remove_segments
    if [ $status -gt 128 ] && [ $status -ne 137 ] && [ "$attempt" = 1 ]; then
      echo "  LMMS ended by signal $((status - 128)) (exit status $status):" \
        "the known occasional start-up crash of LMMS 1.2.2; trying once more"
      continue
    fi
    break
  done
  [ $status -eq 0 ] && [ -s "$dir/$name.wav" ] && return 0
  fail "$name render at $rate Hz: exit status $status"
  return 1
}

# Diagnostics for LMMS's occasional start-up crash: KORVANE_LMMS_TRACE=1
# puts a stand-in built from tests/lmms/callTrace.cpp in front of korvane.dll
# and shows every call that LMMS's remote host makes into the library;
# KORVANE_LMMS_REPEAT=N renders through korvane N more times at the end and
# counts the renders that fail or differ from the first.
trace=${KORVANE_LMMS_TRACE:-0}
repeat=${KORVANE_LMMS_REPEAT:-0}

# Builds the tracing stand-in as $work/trace/korvane.dll, loading the real
# library from $work/vst, and makes it the plug-in that the project loads.
# Wine sees the root of the file system as drive Z:.
build_trace() {
  "$root/scripts/install-windows-deps.sh" >&2
  mkdir -p "$work/trace"
  i686-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -shared -static \
    -I"$root/plugin-interface" -o "$work/trace/korvane.dll" \
    "$tests/callTrace.cpp" "$root/effect/korvane.def" \
    -Wl,--disable-stdcall-fixup
  local windows="Z:${work//\//\\}"
  export KORVANE_TRACE_LIBRARY="$windows\\vst\\korvane.dll"
  export KORVANE_TRACE_LOG="$windows\\trace.log"
  plugin="$work/trace/korvane.dll"
}

# Renders the project of the first rate through korvane $repeat more times.
render_again() {
  local i status crashes=0 differing=0 rate=${rates[0]}
  local dir="$work/$rate"
  echo "== $repeat more renders through korvane.dll at $rate Hz"
  for i in $(seq "$repeat"); do
    status=0
    lmms_render "$dir/wet.mmp" "$work/again.wav" "$work/again.log" "$rate" ||
      status=$?
    remove_segments
    if [ $status -ne 0 ]; then
      crashes=$((crashes + 1))
      echo "  render $i: exit status $status"
      show_lmms_log "$work/again.log"
    elif ! python3 -c 'import sys; sys.path.append(sys.argv[1]); import floatwav
sys.exit(floatwav.read(sys.argv[2]) != floatwav.read(sys.argv[3]))' \
      "$root/tests/ardour" "$dir/wet.wav" "$work/again.wav"; then
      differing=$((differing + 1))
      echo "  render $i differs from the first"
    fi
  done
  echo "  $repeat renders: $crashes failed, $differing differed from the first"
  if [ $crashes -ne 0 ] || [ $differing -ne 0 ]; then
    fail "repeated renders: $crashes failed, $differing differed"
  fi
}

started=$(date +%s)
install_missing
dll=${1:-$(build_dll)}
[ -f "$dll" ] || { echo "no library at $dll" >&2; exit 1; }
host_dir=$(build_host)

work=$(mktemp -d /tmp/korvane-lmms.XXXXXX)
mkdir -p "$work/home" "$work/config" "$work/cache" "$work/data" \
  "$work/runtime" "$work/tmp" "$work/vst" "$work/lmms"
chmod 700 "$work/runtime"
# What LMMS and Wine write stays in the test's folder; Wine's server makes
# its socket folder in TMPDIR.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
  XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
  XDG_RUNTIME_DIR="$work/runtime" WINEPREFIX="$work/wine" WINEARCH=win32 \
  TMPDIR="$work/tmp"
unset VST_PATH LADSPA_PATH
# No offer to install the .NET or HTML runtimes, no desktop integration.
# Wine reports errors, crashes and the libraries it loads (so the log shows
# that the remote host loaded korvane.dll); its crash dialog is switched off
# in the prefix, so that a crash cannot wait for a click on the virtual
# display. (A plug-in that crashes while loading makes LMMS print that it
# could not be loaded and render without it; the checks then fail.)
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
sed "s|@WORK@|$work|g" "$tests/lmmsrc.xml" >"$work/lmmsrc.xml"
cp "$dll" "$work/vst/korvane.dll"

echo "== LMMS $(dpkg-query -W -f='${Version}' lmms:i386) with Wine" \
  "$(dpkg-query -W -f='${Version}' wine32:i386) hosts $dll at $tempo bpm"
warn_stale_segment
WINEDEBUG=-all run_bounded "$wine_limit" sh -c \
  'wine wineboot -i && wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f && wineserver -w' \
  >"$work/wine.log" 2>&1 || { show_log "$work/wine.log"; fail "Wine prefix"; }
export WINEDEBUG="err+all,fixme-all,+loaddll"

plugin="$work/vst/korvane.dll"
if [ "$trace" = 1 ]; then build_trace; fi

# One run at one rate, in its own folder: the input at that rate, the dry
# and the wet render, korvane render of the dry one, and the checks.
run_at() {
  local rate=$1 dir="$work/$1" status=0
  local failed=${#failures[@]}
  mkdir -p "$dir"
  echo "==== LMMS at $rate Hz (-s $rate -x 1)"
  python3 "$tests/make_input.py" "$dir/input.wav" "$rate"
  python3 "$tests/make_project.py" "$dir/dry.mmp" "$dir/input.wav" "$tempo"
  python3 "$tests/make_project.py" "$dir/wet.mmp" "$dir/input.wav" "$tempo" \
    "$plugin"
  echo "== dry render (no effect)"
  render "$dir" dry "$rate" || return 0
  echo "== render through korvane.dll"
  render "$dir" wet "$rate" || true
  if [ "$trace" = 1 ]; then
    echo "== calls into korvane.dll, recorded by tests/lmms/callTrace.cpp"
    show_log "$work/trace.log"
    rm -f "$work/trace.log"
  fi
  [ ${#failures[@]} -eq "$failed" ] || return 0
  echo "== korvane render of the dry render at $tempo bpm, Linux library"
  run_bounded "$reference_limit" "$host_dir/korvane" render "$dir/dry.wav" \
    "$dir/reference.wav" --tempo "$tempo" --plugin "$host_dir/korvane.so" ||
    { fail "korvane render at $rate Hz: exit status $?"; return 0; }
  echo "== checks at $rate Hz"
  run_bounded "$check_limit" python3 "$tests/check_render.py" \
    "$dir/input.wav" "$dir/dry.wav" "$dir/wet.wav" "$dir/reference.wav" \
    "$tempo" "$dir/wet.log" >"$dir/check.log" 2>&1 || status=$?
  show_log "$dir/check.log"
  grep -qx "korvane-lmms: render PASS" "$dir/check.log" ||
    fail "checks at $rate Hz: exit status $status"
}

if [ ${#failures[@]} -eq 0 ]; then
  for rate in "${rates[@]}"; do run_at "$rate"; done
fi

[ ${#failures[@]} -eq 0 ] && [ "$repeat" -gt 0 ] && render_again

echo "== LMMS test took $(($(date +%s) - started)) s"
if [ ${#failures[@]} -ne 0 ]; then
  printf 'LMMS test FAILED:\n' >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "LMMS test passed at ${rates[*]} Hz: korvane.dll loaded, tempo received," \
  "loops of the tempo's length in seconds, renders equal to korvane render"

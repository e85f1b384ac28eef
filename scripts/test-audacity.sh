#!/usr/bin/env bash
# Runs korvane in Audacity 3.2, headless: Audacity, driven through its
# scripting pipe on a virtual display, applies korvane to audio files and
# exports the results, which tests/audacity/checks.py compares sample for
# sample with `korvane render` of the same input as Audacity ran korvane
# (tempo 120, Audacity's block size, the same settings): the defaults with
# nothing but Audacity's own write-back of the values it read; chosen
# settings (set by a stand-in plug-in, since Audacity ignores settings given
# by script); the effect applied twice; a mono track; a 48 kHz track and one
# application to two tracks of the same input, each at the defaults and with
# chosen settings; a project saved, closed and reopened. Fails on any failed
# check.
# With --lv2 Audacity applies the LV2 bundle instead: at its defaults and
# with chosen settings (an LV2 preset of the test's own), at 44.1 and 48 kHz,
# on a mono track, twice in a row, to two tracks at once and in a project
# saved and reopened, each equal to `korvane render`.
# Usage: scripts/test-audacity.sh [path/to/korvane.so]
#        scripts/test-audacity.sh --lv2 [path/to/korvane.lv2]
# Without a path it tests the library (or the bundle) of the build that
# gives the command-line host: build/x64 when it exists, else build/release.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests="$root/tests/audacity"

# Seconds that each step may take before it is stopped.
install_limit=1200
register_limit=60 # Audacity's start-up with its plug-in scan
answer_limit=60   # from start-up to the first answer on the pipe
session_limit=180 # one whole Audacity run
exit_limit=30     # from "Exit:" to the end of Audacity
reference_limit=300

form=()
if [ "${1:-}" = --lv2 ]; then
  form=(--lv2)
  shift
fi

# apt_install, installed, build_host, run_bounded, fail and show_log
# shellcheck source=host-test-common.sh
. "$root/scripts/host-test-common.sh"

install_missing() {
  local packages=() package
  for package in audacity xvfb xauth python3 g++ procps; do
    installed "$package" || packages+=("$package")
  done
  [ ${#packages[@]} -eq 0 ] && return 0
  apt_install "${packages[@]}"
}

# Audacity's scripting pipes are named after the user id, so two Audacity
# processes of one user would share them. As root, Audacity runs under a
# user id of its own that no account, process or pipe uses (no account is
# created); otherwise under the caller's, when no Audacity of the caller
# holds the pipes.
pipes() { echo "/tmp/audacity_script_pipe.to.$1" "/tmp/audacity_script_pipe.from.$1"; }
free_id() {
  local id=$1 pipe
  getent passwd "$id" >/dev/null && return 1
  getent group "$id" >/dev/null && return 1
  pgrep -U "$id" >/dev/null && return 1
  for pipe in $(pipes "$id"); do [ -e "$pipe" ] && return 1; done
  return 0
}
choose_user() {
  as_user=()
  if [ "$(id -u)" -ne 0 ]; then
    uid=$(id -u)
    local pipe
    for pipe in $(pipes "$uid"); do
      if [ -e "$pipe" ]; then
        echo "$pipe exists: an Audacity of this user runs, or one was killed;" \
          "close it (or remove the pipe) and run the test again" >&2
        exit 1
      fi
    done
    return 0
  fi
  local _
  for _ in $(seq 50); do
    uid=$((200000 + (RANDOM * 32768 + RANDOM) % 100000))
    free_id "$uid" && break
  done
  free_id "$uid" || { echo "no free user id for Audacity" >&2; exit 1; }
  as_user=(setpriv --reuid="$uid" --regid="$uid" --clear-groups)
}

# Makes files the test writes for Audacity its user's.
give() {
  [ ${#as_user[@]} -eq 0 ] || chown -R "$uid:$uid" "$@"
}

work=""
uid=""
audacity_group=""
x11_dir_existed=true
# Stops Audacity's process group (Audacity, its scanner, xvfb-run, Xvfb),
# waits until every process of it is gone (Xvfb's lock file is removed only
# when its process no longer exists), then removes what they left behind.
stop_audacity() {
  if [ -n "$audacity_group" ]; then
    kill -KILL -- "-$audacity_group" 2>/dev/null || true
    wait "$audacity_group" 2>/dev/null || true
    local waited=0
    while pgrep -g "$audacity_group" >/dev/null && [ $waited -lt 50 ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    audacity_group=""
  fi
  remove_leftovers
}
# Removes the pipes and the X server's lock and socket files that the test's
# processes left (a killed Xvfb leaves them), and /tmp/.X11-unix when the
# test's Xvfb created it.
remove_pipes() {
  local pipe
  for pipe in $(pipes "$uid"); do rm -f "$pipe"; done
}
remove_leftovers() {
  local display lock pid
  remove_pipes
  if [ -f "$work/displays" ]; then
    while read -r display; do
      display=${display#:}
      display=${display%%.*}
      lock="/tmp/.X$display-lock"
      [ -f "$lock" ] || continue
      [ "$(stat -c %u "$lock")" = "$uid" ] || continue
      pid=$(tr -dc 0-9 <"$lock")
      [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && continue
      rm -f "$lock" "/tmp/.X11-unix/X$display"
    done <"$work/displays"
  fi
  $x11_dir_existed || rmdir /tmp/.X11-unix 2>/dev/null || true
  remove_shared_memory
}
# Audacity's sound library registers with JACK even when no JACK server
# runs, which leaves a registry in /dev/shm and System V shared memory and
# semaphores behind. Under the test's own user id they are all the test's
# and are removed once its processes have ended; under the caller's they
# may belong to the caller's own JACK and are left alone.
ipc_of_user() { ipcs "$1" | awk -v id="$uid" '$3 == id {print $2}'; }
remove_shared_memory() {
  [ ${#as_user[@]} -gt 0 ] || return 0
  pgrep -U "$uid" >/dev/null && return 0
  find /dev/shm -maxdepth 1 -user "$uid" -exec rm -rf {} +
  local kind id
  for kind in -m -s -q; do
    for id in $(ipc_of_user "$kind"); do ipcrm "$kind" "$id" 2>/dev/null || true; done
  done
}
cleanup() {
  [ -n "$group" ] && kill -KILL -- "-$group" 2>/dev/null
  if [ -n "$work" ] && [ -n "${KORVANE_AUDACITY_KEEP:-}" ]; then
    stop_audacity
    echo "kept $work"
  elif [ -n "$work" ]; then
    stop_audacity
    rm -rf "$work"
  fi
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Audacity's settings: its temporary folder inside the test's folder; the
# scripting module on or off (it is loaded only when its path and time stamp
# match the module file); exports as 32-bit float WAV.
write_config() {
  local module=$1 file=/usr/lib/audacity/modules/mod-script-pipe.so
  cat >"$work/home/.config/audacity/audacity.cfg" <<EOF
[Directories]
TempDir=$work/tmp
[Module]
mod-script-pipe=$module
[ModulePath]
mod-script-pipe=$file
[ModuleDateTime]
mod-script-pipe=$(date -r "$file" +%Y-%m-%dT%H:%M:%S)
[FileFormats/ExportFormat_SF1_Type]
WAV_10000=65542
EOF
  give "$work/home/.config/audacity/audacity.cfg"
}

# Starts Audacity in the background on a virtual display, under the test's
# user and a time limit for the whole run, in the test's HOME: Audacity also
# looks for plug-ins in folders of the folder it starts in, and started in
# this repository's (which has a folder "lv2") with LV2_PATH set, its
# start-up stopped at an error report. Its log is $work/NAME.log, its X
# server's $work/NAME-xvfb.log. The display is one that no lock file or
# socket claims: xvfb-run's own choice skips only lock files, tries ten
# numbers, and then runs Audacity without a display.
start_audacity() {
  local name=$1 display
  remove_pipes
  display=$(free_display)
  echo "$display" >>"$work/displays"
  timeout -k 10 "$session_limit" "${as_user[@]}" env -i -C "$work/home" \
    PATH=/usr/bin:/bin \
    HOME="$work/home" TMPDIR="$work/tmp" LANG=C.UTF-8 \
    XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
    XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime" \
    VST_PATH="$work/vst" LV2_PATH="$work/lv2" KORVANE_STANDIN_LIBRARY="$work/real/korvane.so" \
    KORVANE_STANDIN_VALUES="$work/values" KORVANE_STANDIN_LOG="$work/standin.log" \
    xvfb-run -n "$display" -e "$work/$name-xvfb.log" \
    -f "$work/home/.Xauthority" -s "-screen 0 1280x1024x24" \
    audacity >"$work/$name.log" 2>&1 &
  audacity_group=$!
}

# Waits up to $1 seconds for Audacity to end by itself; stops it after that.
# Answers whether it ended by itself.
await_audacity() {
  local limit=$1 waited=0
  while kill -0 "$audacity_group" 2>/dev/null && [ $waited -lt "$limit" ]; do
    sleep 1
    waited=$((waited + 1))
  done
  local ended=true
  kill -0 "$audacity_group" 2>/dev/null && ended=false
  stop_audacity
  $ended
}

# The first start registers the two libraries (or the LV2 bundle, by its
# URI): Audacity scans new plug-ins
# in a child process, which would load the scripting module too and take
# over its pipes, so this start has the module off. It is stopped once both
# libraries are in the registry and the scan has ended; the unsaved empty
# project it leaves is removed, or the next start would offer to recover it.
register() {
  local registry="$work/home/.config/audacity/pluginregistry.cfg" waited=0
  rm -f "$registry"
  write_config 0
  start_audacity register
  while [ $waited -lt "$register_limit" ] && kill -0 "$audacity_group" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
    [ -f "$registry" ] && all_registered "$registry" &&
      ! pgrep -g "$audacity_group" -f -- "audacity --host" >/dev/null && break
  done
  sleep 2 # the registry may still be being written
  local alive=true
  kill -0 "$audacity_group" 2>/dev/null || alive=false
  stop_audacity
  rm -rf "${work:?}/tmp/"*
  show_log "$work/register.log"
  $alive || {
    echo "  Audacity ended during its plug-in scan; its X server said:"
    show_log "$work/register-xvfb.log"
  }
  [ -f "$registry" ] && python3 "$tests/checks.py" registered "$registry" \
    "${registered[@]}"
}
all_registered() {
  local path
  for path in "${registered[@]}"; do
    grep -q "^Path=$path\(;\|\$\)" "$1" || return 1
  done
}

# Starts Audacity with the scripting module and waits for its answer.
start_scripting() {
  local name=$1
  write_config 1
  start_audacity "$name"
  local status=0
  run_bounded "$answer_limit" python3 "$tests/checks.py" probe "$uid" \
    "$answer_limit" >"$work/$name-probe.log" 2>&1 || status=$?
  show_log "$work/$name-probe.log"
  if [ $status -ne 0 ]; then
    stop_audacity
    show_log "$work/$name.log"
    show_log "$work/$name-xvfb.log"
  fi
  return $status
}

# A start-up failure of Audacity itself (its plug-in scanner has been seen
# to crash as it ends) is tried once more, and the log says so.
twice() {
  local what=$1
  shift
  "$@" && return 0
  echo "  $what failed: Audacity did not start up as it should; trying once more"
  "$@"
}

# One Audacity run: start, the session's checks, save, exit.
session() {
  local name=$1
  echo "== Audacity session '$name'"
  twice "starting Audacity" start_scripting "$name" ||
    { fail "$name: Audacity did not answer on its scripting pipe"; return 1; }
  local status=0
  run_bounded "$session_limit" python3 "$tests/checks.py" "${form[@]}" run "$name" "$uid" \
    "$work" >"$work/$name-commands.log" 2>&1 || status=$?
  show_log "$work/$name-commands.log"
  if [ $status -ne 0 ]; then
    # A failed command leaves a dialog open; Audacity was not told to exit.
    stop_audacity
    show_log "$work/$name.log"
    fail "$name: a command failed (exit status $status)"
    return 1
  fi
  await_audacity "$exit_limit" || {
    echo "  Audacity did not exit; stopped"
    fail "$name: Audacity did not exit"
  }
}

# What the test leaves: nothing of its user's, no pipe, no X server files.
check_left_behind() {
  local left=() pipe
  if [ ${#as_user[@]} -gt 0 ] && pgrep -U "$uid" >/dev/null; then
    left+=("processes of user $uid: $(pgrep -U "$uid" | tr '\n' ' ')")
  fi
  for pipe in $(pipes "$uid"); do [ -e "$pipe" ] && left+=("$pipe"); done
  if [ ${#as_user[@]} -gt 0 ]; then
    local shared
    shared=$(find /dev/shm -maxdepth 1 -user "$uid")
    [ -z "$shared" ] || left+=("$shared")
    local kind
    for kind in -m -s -q; do
      [ -z "$(ipc_of_user "$kind")" ] || left+=("System V IPC ($kind) of user $uid")
    done
  fi
  if [ -f "$work/displays" ]; then
    while read -r display; do
      display=${display#:}
      display=${display%%.*}
      [ -e "/tmp/.X$display-lock" ] && [ "$(stat -c %u "/tmp/.X$display-lock")" = "$uid" ] &&
        left+=("/tmp/.X$display-lock")
    done <"$work/displays"
  fi
  if [ ${#left[@]} -eq 0 ]; then
    echo "  nothing left behind: no process, pipe, shared memory or X server file of the test"
  else
    fail "left behind: ${left[*]}"
  fi
}

started=$(date +%s)
install_missing
if [ ${#form[@]} -eq 0 ]; then
  host_dir=$(build_host)
  library=${1:-$host_dir/korvane.so}
  [ -f "$library" ] || { echo "no library at $library" >&2; exit 1; }
else
  host_dir=$(build_host korvane_lv2)
  library=${1:-$host_dir/korvane.lv2}
  [ -f "$library/manifest.ttl" ] || { echo "no bundle at $library" >&2; exit 1; }
fi
library=$(cd "$(dirname "$library")" && pwd)/$(basename "$library")
choose_user
[ -d /tmp/.X11-unix ] || x11_dir_existed=false

work=$(mktemp -d /tmp/korvane-audacity.XXXXXX)
mkdir -p "$work/home/.config/audacity" "$work/tmp" "$work/runtime" \
  "$work/vst" "$work/real" "$work/lv2"
chmod 755 "$work"
chmod 700 "$work/runtime"
if [ ${#form[@]} -eq 0 ]; then
  registered=("$work/vst/korvane.so" "$work/vst/korvane-stand-in.so")
  cp "$library" "$work/vst/korvane.so"
  cp "$library" "$work/real/korvane.so"
  werror=()
  [ "${KORVANE_WERROR:-OFF}" = ON ] && werror=(-Werror)
  g++ -std=c++17 -O2 -Wall -Wextra "${werror[@]}" -shared -fPIC \
    -fvisibility=hidden -I"$root/plugin-interface" \
    -o "$work/vst/korvane-stand-in.so" "$tests/settingStandIn.cpp" -ldl
else
  # The bundle, and the chosen settings as an LV2 preset in a bundle beside
  # it; korvane render compares with the VST 2 library of the same build.
  registered=(urn:zvk:korvane)
  cp -r "$library" "$work/lv2/korvane.lv2"
  python3 "$tests/checks.py" presets "$work/lv2/korvane-test-settings.lv2"
  echo "== Audacity applies $library"
  library=$host_dir/korvane.so
fi
python3 "$tests/checks.py" inputs "$work"
: >"$work/standin.log"
give "$work"

echo "== Audacity $(dpkg-query -W -f='${Version}' audacity) hosts $library" \
  "(user id $uid)"
echo "== registering ${registered[*]##*/}"
twice "the plug-in scan" register || fail "registering the libraries"

if [ ${#failures[@]} -eq 0 ] && session main; then
  session reopen || true
fi
check_left_behind

if compgen -G "$work/audacity-*.wav" >/dev/null; then
  echo "== comparing with korvane render ($host_dir/korvane)"
  status=0
  run_bounded "$reference_limit" python3 "$tests/checks.py" "${form[@]}" compare "$work" \
    "$host_dir/korvane" "$library" >"$work/compare.log" 2>&1 || status=$?
  show_log "$work/compare.log"
  failed=$(sed -n 's/^korvane-audacity: \(.*\) FAIL$/\1/p' "$work/compare.log")
  for name in $failed; do fail "check $name"; done
  if [ -z "$failed" ] && { [ $status -ne 0 ] ||
    ! grep -qx "korvane-audacity: PASS" "$work/compare.log"; }; then
    fail "compare: exit status $status, no verdict"
  fi
fi

if [ -n "${KORVANE_AUDACITY_TRACE:-}" ]; then
  echo "== calls into the stand-in, recorded by tests/audacity/settingStandIn.cpp"
  show_log "$work/standin.log"
fi

echo "== Audacity test took $(($(date +%s) - started)) s"
if [ ${#failures[@]} -ne 0 ]; then
  printf 'Audacity test FAILED:\n' >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "Audacity test passed: every render equal to korvane render"

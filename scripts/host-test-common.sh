# shellcheck shell=bash
# Sourced by the scripts that run korvane in other hosts (test-ardour.sh,
# test-audacity.sh, test-lmms.sh): installing the host, building the
# command-line host, steps under a time limit, the list of failed checks,
# and the display of a step's log.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs Debian packages (--no-install-recommends) as root or through sudo,
# each apt-get call stopped after $install_limit seconds. With --i386 first,
# adds the i386 architecture when it is missing.
apt_install() {
  local update=false
  if [ "$1" = --i386 ]; then
    shift
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
      update=true
    fi
  fi
  echo "installing: $*"
  local apt=(as_root env DEBIAN_FRONTEND=noninteractive
             timeout "$install_limit" apt-get -o DPkg::Lock::Timeout=600 -qq)
  # The package lists may be missing on a fresh machine, or lack a newly
  # added architecture.
  if $update; then "${apt[@]}" update; fi
  "${apt[@]}" install -y --no-install-recommends "$@" >/dev/null ||
    { "${apt[@]}" update &&
      "${apt[@]}" install -y --no-install-recommends "$@" >/dev/null; }
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# Builds the command-line host and the Linux library (and the targets named)
# and prints their folder: build/x64 when it exists (test.sh has just built
# it), or build/release, the preset's Release build without tests.
build_host() {
  local dir="$root/build/x64"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    dir="$root/build/release"
    "$root/scripts/install-deps.sh" >&2
    # shellcheck source=configure-and-build.sh
    . "$root/scripts/configure-and-build.sh"
    configure release
  fi
  cmake --build "$dir" -j2 --target korvane korvane_cli "$@" >&2
  echo "$dir"
}

# Runs a command in its own process group, stopped after $1 seconds; when it
# ends, anything it left behind in its group is stopped too, after up to
# five seconds to end by itself (xvfb-run only signals its Xvfb as it exits,
# and an Xvfb killed before it has ended leaves its lock file and socket in
# /tmp behind). `group` names the running group, for the caller's exit trap.
group=""
run_bounded() {
  local seconds=$1
  shift
  timeout -k 10 "$seconds" "$@" &
  group=$!
  local status=0 waited=0
  wait "$group" || status=$?
  while pgrep -g "$group" >/dev/null && [ $waited -lt 50 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -KILL -- "-$group" 2>/dev/null || true
  group=""
  return $status
}

# Prints the first X display number from 99 on that no lock file or socket
# in /tmp claims. xvfb-run's own choice (-a) skips only lock files, and an
# Xvfb of an unprivileged user cannot replace another user's stale socket.
free_display() {
  local n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
    n=$((n + 1))
  done
  echo "$n"
}

failures=()
fail() {
  echo "FAIL: $1"
  failures+=("$1")
}

# Shows a log (the file named, or standard input) indented, progress lines
# ending in carriage returns included.
show_log() {
  tr '\r' '\n' <"${1:-/dev/stdin}" | grep -v '^ *$' | sed 's/^/  /' || true
}

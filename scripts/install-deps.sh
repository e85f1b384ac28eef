#!/usr/bin/env bash
# Installs the Debian packages that building and testing korvane need, when
# any is missing. Needs root (or sudo) on a machine without them.
set -euo pipefail

packages=(cmake g++ g++-multilib googletest libgtest-dev libbenchmark-dev
          libsndfile1-dev libcli11-dev clang libclang-rt-14-dev clang-format-14
          lv2-dev lilv-utils sordi)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

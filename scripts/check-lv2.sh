#!/usr/bin/env bash
# Checks a built korvane.lv2 bundle as LV2 hosts will read it: its Turtle
# passes lv2_validate; lv2info finds the plug-in's URI with 2 audio inputs,
# 2 audio outputs, 11 control inputs and one atom input, which takes time
# positions; its binary exports lv2_descriptor alone.
# Usage: scripts/check-lv2.sh BUNDLE   (e.g. build/x64/korvane.lv2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bundle=$(cd "$1" && pwd)
uri=urn:zvk:korvane

lv2_validate "$bundle"/*.ttl

# lv2info reads only the bundles of LV2_PATH: this one alone.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/path"
ln -s "$bundle" "$scratch/path/korvane.lv2"
LV2_PATH=$scratch/path lv2info "$uri" >"$scratch/info"
# Each port's two types in alphabetical order ("AudioPort InputPort"),
# counted.
ports=$(awk '/^\t\tType:/ { a = $2; getline; b = $1
                              print (a < b ? a " " b : b " " a) }' \
  "$scratch/info" | sed 's|[^ ]*#||g' | sort | uniq -c | awk '{$1 = $1; print}' | sort)
expected=$(sort <<<"2 AudioPort InputPort
2 AudioPort OutputPort
1 AtomPort InputPort
11 ControlPort InputPort")
if [ "$ports" != "$expected" ]; then
  echo "check-lv2: $uri has these ports:" >&2
  echo "$ports" >&2
  exit 1
fi
if ! sordi "$bundle/korvane.ttl" |
   grep -q '<http://lv2plug.in/ns/ext/atom#supports> <http://lv2plug.in/ns/ext/time#Position>'; then
  echo "check-lv2: the atom input does not say it takes time positions" >&2
  exit 1
fi
"$root/scripts/check-exports.sh" "$bundle/korvane.so" lv2_descriptor
echo "check-lv2: $bundle is valid and lists $uri with its 16 ports"

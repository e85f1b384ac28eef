#!/usr/bin/env bash
# Builds the shipped plug-in in Release form into one folder: korvane.so and
# the LV2 bundle korvane.lv2 for 64-bit Linux, and korvane.dll for 32-bit and
# 64-bit Windows, each stripped and checked to export `main` alone (the LV2
# binary `lv2_descriptor`), with a note on where hosts look for plug-ins.
# Usage: scripts/release.sh [folder]   (default: out/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out/release}
"$root/scripts/install-deps.sh"
"$root/scripts/install-windows-deps.sh"

# shellcheck source=configure-and-build.sh
. "$root/scripts/configure-and-build.sh"

# Builds the plug-in alone (and the LV2 bundle where the platform has it) in
# build/release-<platform> (preset of that name) and installs it, stripped,
# as <out>/<platform>/<file>.
release() {
  local platform=$1 file=$2
  shift 2
  local dir=$root/build/release-$platform
  configure "release-$platform"
  cmake --build "$dir" -j2 --target korvane "$@"
  rm -rf "$dir/staging"
  cmake --install "$dir" --prefix "$dir/staging" --strip >/dev/null
  mkdir -p "$out/$platform"
  cp "$dir/staging/lib/vst/$file" "$out/$platform/$file"
}

release linux-x86_64 korvane.so korvane_lv2
rm -rf "$out/linux-x86_64/korvane.lv2"
cp -r "$root/build/release-linux-x86_64/staging/lib/lv2/korvane.lv2" \
  "$out/linux-x86_64/"
release windows-x86 korvane.dll
release windows-x64 korvane.dll

"$root/scripts/check-exports.sh" "$out/linux-x86_64/korvane.so"
"$root/scripts/check-lv2.sh" "$out/linux-x86_64/korvane.lv2"
"$root/scripts/check-dll.sh" "$out/windows-x86/korvane.dll"
"$root/scripts/check-dll.sh" "$out/windows-x64/korvane.dll"

cat >"$out/README.txt" <<'EOF'
korvane, a granular audio effect for hosts that load VST 2 plug-ins.

linux-x86_64/korvane.so    64-bit Linux hosts
linux-x86_64/korvane.lv2/  64-bit Linux LV2 hosts (the whole folder)
windows-x86/korvane.dll    32-bit Windows hosts (also on 64-bit Windows)
windows-x64/korvane.dll    64-bit Windows hosts

A host loads only a plug-in of its own width. Copy the file into a folder
that the host scans for plug-ins, or add the file's folder in the host's
plug-in settings, and let the host rescan:

Linux:   ~/.vst, /usr/local/lib/vst or /usr/lib/vst; many hosts also read
         the folders listed in the VST_PATH environment variable.
LV2:     copy the folder korvane.lv2 whole into ~/.lv2, /usr/local/lib/lv2
         or /usr/lib/lv2, or into a folder named in LV2_PATH. Its URI is
         urn:zvk:korvane.
Windows: the shared plug-in folder, commonly C:\Program Files\VSTPlugins or
         C:\Program Files\Common Files\VST2 for 64-bit hosts, and the same
         under C:\Program Files (x86) for 32-bit hosts. Many hosts read it
         from the registry value VSTPluginsPath under
         HKEY_LOCAL_MACHINE\SOFTWARE\VST (32-bit hosts on 64-bit Windows:
         HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\VST).

Each library needs nothing beside it: the Windows libraries use only
KERNEL32.dll and msvcrt.dll, which every Windows has.
EOF
echo "release in $out:"
(cd "$out" && ls -l linux-x86_64 linux-x86_64/korvane.lv2 windows-x86 windows-x64)

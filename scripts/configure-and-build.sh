# shellcheck shell=bash
# Sourced by the scripts, after they set $root. Every build is a configure
# preset of CMakePresets.json, in build/<preset>:
#   configure PRESET [CMAKE OPTIONS...]           configures it, quietly;
#   configure_and_build PRESET [CMAKE OPTIONS...] configures it with warnings
#                                                 as errors and builds all.
configure() {
  local preset=$1
  shift
  (cd "$root" && cmake --preset "$preset" "$@" >/dev/null)
}

configure_and_build() {
  local preset=$1
  shift
  configure "$preset" -DKORVANE_WERROR=ON "$@"
  cmake --build "$root/build/$preset" -j"$(nproc)"
}

# Sourced by the test scripts: configure_and_build DIR [CMAKE OPTIONS...]
# makes a RelWithDebInfo build of the tree in DIR with warnings as errors.
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

#!/usr/bin/env bash
# Checks that every C++ source in the repository is laid out as the
# repository's .clang-format says, with the pinned clang-format 14 (Debian's
# clang-format package). `scripts/check-format.sh --fix` reformats instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ] || ! "$formatter" --version | grep -q 'version 14\.'; then
  echo "check-format: clang-format 14 is needed (Debian package clang-format)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
if ! "$formatter" --dry-run --Werror "${files[@]}"; then
  echo "check-format: the files above differ from .clang-format;" \
    "run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted as .clang-format says"

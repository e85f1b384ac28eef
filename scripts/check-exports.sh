#!/usr/bin/env bash
# Fails unless the given plug-in library exports exactly one symbol, `main`.
set -euo pipefail
library=$1
exports=$(nm -D --defined-only "$library" | awk '{print $NF}')
if [ "$exports" != "main" ]; then
  echo "$library exports more than main:" >&2
  echo "$exports" >&2
  exit 1
fi
echo "$library exports only main"

#!/usr/bin/env bash
# Fails unless the given plug-in library exports exactly one symbol: `main`,
# or the symbol named second (lv2_descriptor for the LV2 binary).
set -euo pipefail
library=$1
symbol=${2:-main}
exports=$(nm -D --defined-only "$library" | awk '{print $NF}')
if [ "$exports" != "$symbol" ]; then
  echo "$library exports more than $symbol:" >&2
  echo "$exports" >&2
  exit 1
fi
echo "$library exports only $symbol"

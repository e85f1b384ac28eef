#!/usr/bin/env bash
# Fails unless the given Windows plug-in library exports exactly one symbol,
# `main`, and imports from no library but KERNEL32.dll and msvcrt.dll, which
# every Windows has: the runtime is linked in.
set -euo pipefail
library=$1
dump=$(objdump -p "$library")

# Lines of the table that follows the heading given, up to the blank line.
table() {
  awk -v heading="$1" 'index($0, heading) == 1 {on = 1; next}
                       on && NF == 0 {exit}
                       on {print}' <<<"$dump"
}
names=$(table "[Ordinal/Name Pointer] Table" | awk '{print $NF}' | paste -sd ' ')
addresses=$(table "Export Address Table -- " | grep -c . || true)
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | LC_ALL=C sort | paste -sd ' ')

status=0
if [ "$names" != "main" ] || [ "$addresses" != 1 ]; then
  echo "$library exports more than main: ${names:-nothing} ($addresses entries)" >&2
  status=1
fi
if [ "$imports" != "KERNEL32.dll msvcrt.dll" ]; then
  echo "$library imports from more than KERNEL32.dll and msvcrt.dll: $imports" >&2
  status=1
fi
[ $status -eq 0 ] && echo "$library exports only main and imports only $imports"
exit $status

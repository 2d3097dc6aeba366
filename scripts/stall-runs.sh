#!/usr/bin/env bash
# stall-runs.sh [RUNS] [WIDTH...]
# Runs stall-bench RUNS times (5 unless given) for each width (those this machine runs unless
# given) against the stand-in, under the display in $DISPLAY, and prints one table per width: a
# row per scenario, a column per run, in ms. Take the figures on an otherwise idle machine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${SONAVIRE_BUILD:-$root/build}
runs=${1:-5}
shift || true
widths=("$@")
if [ ${#widths[@]} -eq 0 ]; then
  widths=(win64)
  [ -x "$build/win32/tools/stall-bench/stall-bench.exe" ] && "$here/probe-win32.sh" >/dev/null 2>&1 && widths+=(win32)
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for ((run = 1; run <= runs; run++)); do
  for width in "${widths[@]}"; do
    tree=$build/win
    [ "$width" = win32 ] && tree=$build/win32
    "$here/with-standin.sh" "$build/native/tools/standin-service/sonavire-server" -- \
      "$here/wine-run.sh" --arch "$width" "$tree/tools/stall-bench/stall-bench.exe" 2>/dev/null |
      tr -d '\r' | grep '^stall ' >"$out/$width.$run" || true
  done
done
for width in "${widths[@]}"; do
  echo "$width, longest gap per run (ms):"
  cat "$out/$width".* | awk '
    { name = $2; sub(/:$/, "", name)
      if ($0 ~ /\(first in the process/) name = name "-first"
      if ($0 ~ /\(again/) name = name "-again"
      if (!(name in seen)) { seen[name] = 1; order[++count] = name }
      row[name] = row[name] sprintf(" %7.1f", $4) }
    END { for (i = 1; i <= count; i++) printf "  %-13s%s\n", order[i], row[order[i]] }'
done

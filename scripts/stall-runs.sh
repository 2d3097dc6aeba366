#!/usr/bin/env bash
# stall-runs.sh [--split] [RUNS] [WIDTH...]
# Runs stall-bench RUNS times (5 unless given) for each width (those this machine runs unless
# given) against the stand-in, under the display in $DISPLAY, and prints one table per width: a
# row per scenario, a column per run, in ms. Take the figures on an otherwise idle machine. With
# no display set it starts Xvfb for the runs.
#
# --split: the player (Wine, with its own Wine server) on CPU 0, the stand-in service on CPU 1.
# On Windows the player's calls into the window system are system calls; under Wine each is a
# round trip to the Wine server, another process, and on a virtual machine waking an idle CPU for
# it can take milliseconds. On one CPU the round trip is a plain switch, as on Windows, and the
# service, which in use runs on another computer, keeps its own CPU.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
. "$here/wine-env.sh"
build=${SONAVIRE_BUILD:-$root/build}
split=
if [ "${1:-}" = --split ]; then
  split=1; shift
  [ "$(nproc)" -ge 2 ] || { echo "--split needs two CPUs" >&2; exit 2; }
fi
runs=${1:-5}
shift || true
. "$here/xvfb.sh"
start_xvfb 240 280 || exit 1
widths=("$@")
if [ ${#widths[@]} -eq 0 ]; then
  widths=(win64)
  [ -x "$build/win32/tools/stall-bench/stall-bench.exe" ] && "$here/probe-win32.sh" >/dev/null 2>&1 && widths+=(win32)
fi
out=$(mktemp -d)
trap 'rm -rf "$out"; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null' EXIT
for ((run = 1; run <= runs; run++)); do
  for width in "${widths[@]}"; do
    tree=$build/win
    [ "$width" = win32 ] && tree=$build/win32
    service_cpu=() player_cpu=()
    [ -n "$split" ] && service_cpu=(taskset -c 1) player_cpu=(taskset -c 0)
    # Each run starts the prefix's Wine server afresh (on the player's CPU with --split).
    wine_server_afresh "$width" stall-runs
    "${service_cpu[@]}" "$here/with-standin.sh" "$build/native/tools/standin-service/sonavire-server" -- \
      "${player_cpu[@]}" "$here/wine-run.sh" --arch "$width" "$tree/tools/stall-bench/stall-bench.exe" 2>/dev/null |
      tr -d '\r' | grep '^stall \|^stall-bench: a call' >"$out/$width.$run" || true
  done
done
# A row per scenario, a column per run: the longest gap (and first, in microseconds, what one call
# into the window system cost in that run), or with "machine" what the bench's sleeping thread
# saw in that gap (its longest 1 ms sleep; "-" when every one took under 4 ms).
table() {
  cat "$out/$1".* | awk -v what="$2" '
    $1 == "stall-bench:" { if (what == "gap") calls = calls sprintf(" %7.1f", $(NF - 2)); next }
    { name = $2; sub(/:$/, "", name)
      if ($0 ~ /\(first in the process/) name = name "-first"
      if ($0 ~ /\(again/) name = name "-again"
      if (!(name in seen)) { seen[name] = 1; order[++count] = name }
      figure = sprintf(" %7.1f", $4)
      if (what == "machine") {
        figure = sprintf(" %7s", "?")
        if (match($0, /sleep took up to [0-9.]+/)) figure = sprintf(" %7.1f", substr($0, RSTART + 17, RLENGTH - 17))
        else if ($0 ~ /sleep took under/) figure = sprintf(" %7s", "-")
      }
      row[name] = row[name] figure }
    END {
      if (calls != "") printf "  %-13s%s\n", "call (us)", calls
      for (i = 1; i <= count; i++) printf "  %-13s%s\n", order[i], row[order[i]] }'
}
for width in "${widths[@]}"; do
  echo "$width${split:+, player on CPU 0 and service on CPU 1}, longest gap per run (ms):"
  table "$width" gap
  echo "  in that gap, the longest 1 ms sleep of a thread that does nothing else (ms):"
  table "$width" machine
done

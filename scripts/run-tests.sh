#!/usr/bin/env bash
# Configures, builds and runs every test: the native build (sanitizers), the 64-bit Windows build
# and, where this machine runs 32-bit programs, the 32-bit Windows build (under Wine, inside Xvfb
# when there is no display). Ends with the widths that ran and one summary line over every run.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
jobs=${SONAVIRE_JOBS:-$(nproc)}
export SONAVIRE_BUILD="$build"
export SONAVIRE_WINEPREFIX="$build/wineprefix" SONAVIRE_WINEPREFIX32="$build/wineprefix32"

"$root/scripts/build.sh" || exit 1

# The display first: a Wine session started without one cannot make windows for its later programs.
. "$root/scripts/xvfb.sh"
start_xvfb 90 130 || exit 1

"$root/scripts/ensure-wine-prefix.sh" win64
ran="native, win64"
if skipped=$("$root/scripts/probe-win32.sh"); then
  ran="$ran, win32"
  win32=1
else
  ran="$ran (win32 skipped: $skipped)"
  win32=
fi

cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  WINEPREFIX="$SONAVIRE_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null
  WINEPREFIX="$SONAVIRE_WINEPREFIX32" /usr/lib/wine/wineserver -k 2>/dev/null
}
trap cleanup EXIT

# One wineserver per prefix for the whole run, started with the prefix's own services before the
# tests: test processes that start together then never race each other to start them. A server
# still ending from an earlier run (a bench just before) is waited for: a second one is refused.
warm_wine() {
  ( . "$root/scripts/wine-env.sh" && wine_server_afresh "$1" run-tests && wine_env "$1" && "$wine_server" -p &&
    timeout 120 "$wine_loader" cmd.exe /c exit 0 >/dev/null 2>&1 ) || echo "wine ($1): warm-up failed" >&2
}
warm_wine win64
[ -n "$win32" ] && warm_wine win32

passed=0; failed=0
run_ctest() {
  local dir=$1 log
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure -j "$jobs" ${SONAVIRE_CTEST_ARGS:-}) 2>&1 | tee "$log"
  local p f
  p=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | tail -1)
  if [ -n "$p" ]; then
    set -- $p
    f=$2; passed=$((passed + $1 - $2)); failed=$((failed + f))
  elif grep -q 'No tests were found' "$log"; then :
  else failed=$((failed + 1)); fi
  rm -f "$log"
}
run_ctest "$build/native"
run_ctest "$build/win"
[ -n "$win32" ] && run_ctest "$build/win32"
echo
echo "ran: $ran"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]

#!/usr/bin/env bash
# Configures, builds and runs every test: the native build (sanitizers) and the cross build (under
# Wine, inside Xvfb when there is no display). Ends with one summary line over both runs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
jobs=${SONAVIRE_JOBS:-$(nproc)}
export SONAVIRE_WINEPREFIX="$build/wineprefix"

"$root/scripts/build.sh" || exit 1

"$root/scripts/ensure-wine-prefix.sh"

. "$root/scripts/xvfb.sh"
start_xvfb 90 130 || exit 1
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  WINEPREFIX="$SONAVIRE_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null
}
trap cleanup EXIT

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
echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]

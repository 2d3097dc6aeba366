#!/usr/bin/env bash
# make reliability: Sonavire.dll in the stand-in player against the stand-in service while the
# service, the network and the player misbehave, for each width this machine runs; then the
# portable code and the server's request parser fed generated input under AddressSanitizer and
# UndefinedBehaviorSanitizer. Prints one table and writes it to $SONAVIRE_BUILD/reliability/table.md
# with each run's raw figures beside it.
#
# Every row is a process of its own: a crash ends its row only and is counted there.
# SONAVIRE_RELIABILITY_ROUNDS (200), SONAVIRE_RELIABILITY_UNLOAD_ROUNDS (100),
# SONAVIRE_RELIABILITY_STORM_SECONDS (30), SONAVIRE_RELIABILITY_FUZZ_SECONDS (60 a target) and
# SONAVIRE_RELIABILITY_ONLY (a regular expression over row names, e.g. "faults-(500|nul)") make
# shorter runs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
export SONAVIRE_BUILD="$build"
rounds=${SONAVIRE_RELIABILITY_ROUNDS:-200}
unload_rounds=${SONAVIRE_RELIABILITY_UNLOAD_ROUNDS:-100}
storm_seconds=${SONAVIRE_RELIABILITY_STORM_SECONDS:-30}
fuzz_seconds=${SONAVIRE_RELIABILITY_FUZZ_SECONDS:-60}
only=${SONAVIRE_RELIABILITY_ONLY:-.}
out=$build/reliability
clsid='{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}'

"$root/scripts/build.sh" || exit 1

. "$root/scripts/xvfb.sh"
start_xvfb 190 230 || exit 1
# Prefixes of their own: the tests' and the demo's are left alone.
export SONAVIRE_WINEPREFIX="$build/reliability-prefix" SONAVIRE_WINEPREFIX32="$build/reliability-prefix32"
arches=(win64)
if why=$("$root/scripts/probe-win32.sh"); then arches+=(win32); else echo "reliability: 32-bit skipped: $why" >&2; fi

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d /tmp/sonavire-reliability.XXXXXX)
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; server_pid=; fi
}
cleanup() {
  stop_server
  for prefix in "$SONAVIRE_WINEPREFIX" "$SONAVIRE_WINEPREFIX32"; do WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh stand-in for each width, with the sample library and an empty store.
start_server() {
  rm -f "$work/port" "$work/store.sqlite"
  "$build/native/tools/standin-service/sonavire-server" --test-control --port 0 --port-file "$work/port" --db "$work/store.sqlite" \
    --library "$root/tools/standin-service/library" >"$out/service-$1.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
  [ -s "$work/port" ] || { echo "reliability: the stand-in did not start" >&2; exit 1; }
  export SONAVIRE_STANDIN="127.0.0.1:$(cat "$work/port")"
}

# One row: NAME ARGS...; its figures go to $out/ARCH/NAME.txt, with the exit status and time.
run_row() {
  local name=$1; shift
  [[ $name =~ $only ]] || return 0
  local file=$out/$arch/$name.txt start status
  start=$(date +%s%N)
  echo "reliability: $arch $name" >&2
  timeout 1200 "$wine_loader" "$tool" "$@" >"$file" 2>"$out/$arch/$name.err"
  status=$?
  printf 'figure\texit\t%s\nfigure\tseconds\t%s\n' "$status" $(( ($(date +%s%N) - start) / 1000000000 )) >>"$file"
}

faults=(down refusing never-answering slow 500 404 truncated malformed doctype-bomb 50mb nul invalid-utf8 10000-lines)
for arch in "${arches[@]}"; do
  "$root/scripts/ensure-wine-prefix.sh" "$arch"
  . "$root/scripts/wine-env.sh"
  wine_env "$arch"
  export WINEDEBUG=-all
  "$wine_server" -p
  tree=$build/$([ "$arch" = win32 ] && echo win32 || echo win)
  tool=$tree/tools/reliability/sonavire-reliability.exe
  mkdir -p "$out/$arch"
  # A crash ends the process at once: no dialog that nobody would click under Xvfb.
  "$wine_loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$wine_loader" regsvr32 /s "$("$wine_loader" winepath -w "$tree/src/dll/Sonavire.dll" 2>/dev/null)"
  start_server "$arch"
  for fault in "${faults[@]}"; do run_row "faults-$fault" faults "$fault" "$rounds"; done
  run_row unload unload "$unload_rounds"
  run_row storm storm "$storm_seconds" 50
  for what in fetch save sign-in; do run_row "teardown-$what" teardown "$what" 10; done
  stop_server
  "$wine_server" -k 2>/dev/null
done

# Generated input for the portable code and the server's request parser, natively.
if [[ fuzz =~ $only ]]; then
  "$root/scripts/generated-inputs.sh" "$fuzz_seconds" >"$out/generated-inputs.txt" 2>"$out/generated-inputs.err"
  echo "figure	exit	$?" >>"$out/generated-inputs.txt"
fi

"$root/scripts/reliability-table.sh" "$out" | tee "$out/table.md"

#!/usr/bin/env bash
# make reliability: Sonavire.dll in the stand-in player against the stand-in service while the
# service, the network and the player misbehave, for each width this machine runs; then the
# portable code and the server's request parser fed generated input under AddressSanitizer and
# UndefinedBehaviorSanitizer. Prints one table and writes it to $SONAVIRE_BUILD/reliability/table.md
# with each run's raw figures beside it.
#
# Every row is a process of its own: a crash ends its row only and is counted there.
# SONAVIRE_RELIABILITY_ROUNDS (200; the 50 MB reply SONAVIRE_RELIABILITY_50MB_ROUNDS, 60),
# SONAVIRE_RELIABILITY_UNLOAD_ROUNDS (100),
# SONAVIRE_RELIABILITY_STORM_SECONDS (30), SONAVIRE_RELIABILITY_FUZZ_SECONDS (30 a target) and
# SONAVIRE_RELIABILITY_ONLY (a regular expression over row names, e.g. "faults-(500|nul)") make
# shorter runs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
export SONAVIRE_BUILD="$build"
rounds=${SONAVIRE_RELIABILITY_ROUNDS:-200}
large_rounds=${SONAVIRE_RELIABILITY_50MB_ROUNDS:-$(( rounds < 60 ? rounds : 60 ))}
unload_rounds=${SONAVIRE_RELIABILITY_UNLOAD_ROUNDS:-100}
storm_seconds=${SONAVIRE_RELIABILITY_STORM_SECONDS:-30}
fuzz_seconds=${SONAVIRE_RELIABILITY_FUZZ_SECONDS:-30}
only=${SONAVIRE_RELIABILITY_ONLY:-.}
out=$build/reliability
clsid='{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}'
plugin_key="HKLM\\Software\\Microsoft\\MediaPlayer\\UIPlugins\\$clsid"
server=$build/native/tools/standin-service/sonavire-server

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
  "$server" --test-control --test-control-token-file "$work/control-token" --write-limit 0 --sign-in-limit 0 --port 0 --port-file "$work/port" \
    --db "$work/store.sqlite" \
    --library "$root/tools/standin-service/library" >"$out/service-$1.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
  [ -s "$work/port" ] || { echo "reliability: the stand-in did not start" >&2; exit 1; }
  export SONAVIRE_STANDIN="127.0.0.1:$(cat "$work/port")"
  SONAVIRE_STANDIN_TOKEN=$(cat "$work/control-token")
  export SONAVIRE_STANDIN_TOKEN
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

# A server as the README sets one up (import, a member, no test flag): its control API is refused,
# and the plug-in in the stand-in player shows a song's lyrics from it.
own_server_row() {
  [[ own-server =~ $only ]] || return 0
  local file=$out/$arch/own-server.txt db=$work/own.sqlite start status=0 port answer lines
  echo "reliability: $arch own-server" >&2
  start=$(date +%s%N)
  rm -f "$db" "$work/own-port"
  {
    "$server" import --db "$db" "$root/tools/standin-service/library" >/dev/null
    printf 'secret\nsecret\n' | "$server" user add --db "$db" anna >/dev/null
  } 2>>"$out/$arch/own-server.err" || status=1
  "$server" --db "$db" --listen 127.0.0.1 --port 0 --port-file "$work/own-port" >"$out/service-own-$arch.log" 2>&1 &
  local own_pid=$!
  for _ in $(seq 1 200); do [ -s "$work/own-port" ] && break; sleep 0.05; done
  port=$(cat "$work/own-port" 2>/dev/null)
  if [ -n "$port" ]; then
    exec 4<>"/dev/tcp/127.0.0.1/$port"
    printf 'POST /_control/behaviour?path=/x&mode=close HTTP/1.0\r\nContent-Length: 0\r\n\r\n' >&4
    IFS= read -r answer <&4
    exec 4<&-
    echo "figure	control_api	${answer%$'\r'}" >"$file"
    "$wine_loader" reg add "$plugin_key" /v "Lyrics Host" /t REG_SZ /d "127.0.0.1:$port" /f >/dev/null 2>&1
    "$wine_loader" reg add "$plugin_key" /v "Community Host" /t REG_SZ /d "127.0.0.1:$port" /f >/dev/null 2>&1
    printf 'Blue Harbour\tNight Train\tFirst Light\taudio\t20\n' >"$work/own-playlist.txt"
    timeout 120 "$wine_loader" "$tree/tools/standin-player/standin-player.exe" \
      --playlist "$("$wine_loader" winepath -w "$work/own-playlist.txt" 2>/dev/null)" --play --read-lyrics --log - \
      --quit-after 20 >"$out/$arch/own-server.player.txt" 2>>"$out/$arch/own-server.err" || status=1
    lines=$(grep -c 'player[.]reads(' "$out/$arch/own-server.player.txt")
    echo "figure	lines_shown	$lines" >>"$file"
    echo "figure	first_line	$(grep -m1 'player[.]reads(' "$out/$arch/own-server.player.txt" | sed 's/.*reads([^)]*) //' | tr -d '\r')" >>"$file"
    [[ $answer == *" 404 "* ]] && [ "$lines" -gt 0 ] && [ $status = 0 ] && echo "figure	completed	yes" >>"$file"
  else
    status=1
  fi
  kill "$own_pid" 2>/dev/null; wait "$own_pid" 2>/dev/null
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
  for fault in "${faults[@]}"; do
    # A 50 MB round takes about 2 s here: Wine's WinINet reads the rest of a reply it was told to
    # close (on a pool thread, after the plug-in has its answer), so every round moves 50 MB.
    n=$rounds; [ "$fault" = 50mb ] && n=$large_rounds
    run_row "faults-$fault" faults "$fault" "$n"
  done
  run_row unload unload "$unload_rounds"
  run_row storm storm "$storm_seconds" 50
  for what in fetch save sign-in page; do run_row "teardown-$what" teardown "$what" 10; done
  stop_server
  own_server_row
  "$wine_server" -k 2>/dev/null
done

# Generated input for the portable code and the server's request parser, natively.
if [[ fuzz =~ $only ]]; then
  "$root/scripts/generated-inputs.sh" "$fuzz_seconds" >"$out/generated-inputs.txt" 2>"$out/generated-inputs.err"
  echo "figure	exit	$?" >>"$out/generated-inputs.txt"
fi

"$root/scripts/reliability-table.sh" "$out" | tee "$out/table.md"

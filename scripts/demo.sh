#!/usr/bin/env bash
# The main job: Sonavire.dll registered in a Wine prefix of its own and loaded by the stand-in
# player, which plays a short playlist (tools/demo/playlist.txt) against the stand-in lyrics
# service and its sample library. Prints, as they happen, the player's record of its calls and
# events and the plug-in window's status texts, then what the service was asked.
# Runs inside Xvfb when no display is set; cleans up after itself and exits 0 when the run worked.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
playlist=${SONAVIRE_DEMO_PLAYLIST:-$root/tools/demo/playlist.txt}
clsid='{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}'
plugin_key="HKLM\\Software\\Microsoft\\MediaPlayer\\UIPlugins\\$clsid"

"$root/scripts/build.sh"

# The demo's own prefix: the tests' prefix is left alone.
export SONAVIRE_WINEPREFIX="$build/demo-prefix"
"$root/scripts/ensure-wine-prefix.sh"
export WINEPREFIX="$SONAVIRE_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine=/usr/lib/wine/wine64
server=$build/native/tools/standin-service/sonavire-standin
player=$build/win/tools/standin-player/standin-player.exe
watcher=$build/win/tools/demo/sonavire-watch.exe
dll=$build/win/src/module/Sonavire.dll

work=$(mktemp -d /tmp/sonavire-demo.XXXXXX)
server_pid= xvfb_pid= watcher_pid=
cleanup() {
  [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
  return 0
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 140 180); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
fi

# The stand-in lyrics service and community site with the sample library and an empty store.
"$server" --port 0 --port-file "$work/port" --db "$work/store.sqlite" \
  --library "$root/tools/standin-service/library" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { cat "$work/server.log" >&2; echo "demo: the stand-in service did not start" >&2; exit 1; }
service="127.0.0.1:$(cat "$work/port")"

# Registered as an installer registers it, then pointed at the stand-in (registration replaces
# the key, so the hosts are written after it). Cached lyrics of earlier runs go.
"$wine" regsvr32 /s "$("$wine" winepath -w "$dll" 2>/dev/null)"
"$wine" reg add "$plugin_key" /v "Lyrics Host" /t REG_SZ /d "$service" /f >/dev/null
"$wine" reg add "$plugin_key" /v "Community Host" /t REG_SZ /d "$service" /f >/dev/null
rm -f "$WINEPREFIX/drive_c/Program Files/Sonavire/"*.xml

length=$(awk -F'\t' '!/^#/ && NF >= 5 { total += $5 } END { printf "%d", total }' "$playlist")
quit_after=$((length + 4))
echo "demo: Sonavire in the stand-in player, service at $service, ${length} s of music"
echo "demo: the player's record (call, event, host, player) and the plug-in window (status, page):"

"$wine" "$watcher" --timeout $((quit_after + 60)) &
watcher_pid=$!
"$wine" "$player" --playlist "$("$wine" winepath -w "$playlist" 2>/dev/null)" --play --log - \
  --quit-after "$quit_after"
wait "$watcher_pid" || true
watcher_pid=

# What the service was asked, from its own record.
echo "demo: the service's record:"
decode() { local s=${1//+/ }; printf '%b' "${s//%/\\x}"; }
exec 3<>"/dev/tcp/127.0.0.1/${service#*:}"
printf 'GET /_control/requests HTTP/1.0\r\nHost: %s\r\nConnection: close\r\n\r\n' "$service" >&3
# Fields are TAB-separated and may be empty; a separator that is not white space keeps them apart.
sed '1,/^\r$/d' <&3 | tr '\t' '\037' | while IFS=$'\037' read -r seq method path _ body query; do
  [ -n "${path:-}" ] || continue
  line="$(printf '%4s %-4s %s' "$seq" "$(decode "$method")" "$(decode "$path")")"
  for field in ${query//$'\037'/ }; do
    case "$field" in artist=*|title=*|lang=*) line+=" $(decode "${field%%=*}")=$(decode "${field#*=}")" ;; esac
  done
  [ -n "$body" ] && line+=" body: $(decode "$body" | cut -c1-60)..."
  echo "$line"
done
exec 3<&-
echo "demo: done"

#!/usr/bin/env bash
# The main job: Sonavire.dll registered in a Wine prefix of its own and loaded by the stand-in
# player, which plays a short playlist (tools/demo/playlist.txt) against the stand-in lyrics
# service and its sample library. Prints, as they happen, the player's record of its calls and
# events and the plug-in window's status texts, then what the service was asked. A user acts on
# the plug-in at the times of tools/demo/actions.txt: the action buttons, the Translate menu, the
# plug-in's menu, the sign-in dialog, clicks that re-time untimed lyrics, the timing nudged earlier
# and reset, a click on a line that plays from it. Writes pictures of the player window at the
# moments of tools/demo/moments.txt and a timeline of the lyrics pane's line changes with its
# figures into $SONAVIRE_BUILD/demo-output (build/demo-output by default).
# Runs inside Xvfb when no display is set; cleans up after itself and exits 0 when the run worked
# and every timeline figure held.
# SONAVIRE_DEMO_KEEP_OPEN=1 with a real display: the player stays open after the playlist until
# its window is closed, for a person to watch and click.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${SONAVIRE_BUILD:-$root/build}
playlist=${SONAVIRE_DEMO_PLAYLIST:-$root/tools/demo/playlist.txt}
moments=${SONAVIRE_DEMO_MOMENTS:-$root/tools/demo/moments.txt}
actions=${SONAVIRE_DEMO_ACTIONS:-$root/tools/demo/actions.txt}
keep_open=${SONAVIRE_DEMO_KEEP_OPEN:-0}
# How long the service takes to answer the first track's lookup: long enough to photograph the
# loading message.
slow_ms=${SONAVIRE_DEMO_SLOW_MS:-3000}
output=$build/demo-output
clsid='{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}'
plugin_key="HKLM\\Software\\Microsoft\\MediaPlayer\\UIPlugins\\$clsid"

"$root/scripts/build.sh"

work=$(mktemp -d /tmp/sonavire-demo.XXXXXX)
server_pid= xvfb_pid= watcher_pid= slow_pid= wine_server=
cleanup() {
  # A process may have ended by itself already (the wineserver does, a few seconds after its last
  # program): nothing here decides whether the run worked.
  set +e
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
  [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$wine_server" ] && "$wine_server" -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
  return 0
}
trap cleanup EXIT

if [ "$keep_open" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo: SONAVIRE_DEMO_KEEP_OPEN needs a display to watch; running to the end instead" >&2
  keep_open=0
fi
# The display first: a Wine session started without one cannot make windows for its later programs.
. "$root/scripts/xvfb.sh"
start_xvfb 140 180

# The demo's own prefixes: the tests' prefixes are left alone. Users run the 32-bit plug-in in the
# 32-bit player, so that pair runs wherever this machine runs 32-bit programs; the 64-bit pair
# elsewhere.
export SONAVIRE_WINEPREFIX="$build/demo-prefix" SONAVIRE_WINEPREFIX32="$build/demo-prefix32"
if why=$("$root/scripts/probe-win32.sh"); then
  arch=win32 tree=$build/win32
  echo "demo: the 32-bit plug-in in the 32-bit stand-in player"
else
  arch=win64 tree=$build/win
  echo "demo: the 64-bit plug-in in the 64-bit stand-in player (32-bit skipped: $why)"
fi
"$root/scripts/ensure-wine-prefix.sh" "$arch"
. "$root/scripts/wine-env.sh"
wine_env "$arch"
export WINEDEBUG=-all
wine=$wine_loader
server=$build/native/tools/standin-service/sonavire-server
player=$tree/tools/standin-player/standin-player.exe
watcher=$tree/tools/demo/sonavire-watch.exe
dll=$tree/src/dll/Sonavire.dll


# The stand-in lyrics service and community site with the sample library and an empty store.
"$server" --test-control --test-control-token-file "$work/control-token" --write-limit 0 --sign-in-limit 0 --port 0 --port-file "$work/port" \
  --db "$work/store.sqlite" --library "$root/tools/standin-service/library" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { cat "$work/server.log" >&2; echo "demo: the stand-in service did not start" >&2; exit 1; }
service="127.0.0.1:$(cat "$work/port")"
port=${service#*:}
control_token=$(cat "$work/control-token")

# One request to the stand-in's control API; prints the body, fails unless the answer is 200.
control() {
  local method=$1 target=$2 status body
  exec 4<>"/dev/tcp/127.0.0.1/$port"
  printf '%s %s HTTP/1.0\r\nHost: %s\r\nX-Sonavire-Control-Token: %s\r\nContent-Length: 0\r\nConnection: close\r\n\r\n' \
    "$method" "$target" "$service" "$control_token" >&4
  IFS= read -r status <&4 || status=
  body=$(sed '1,/^\r$/d' <&4)
  exec 4<&-
  case "$status" in "HTTP/1."?" 200"*) printf '%s' "$body" ;; *) echo "demo: $method $target: $status" >&2; return 1 ;; esac
}
lookup_path=/sonavire/services/getLyricXML_2

# Registered as an installer registers it, then pointed at the stand-in (registration replaces
# the key, so the hosts are written after it). Cached lyrics of earlier runs go.
# Wine's Tahoma has no Hebrew letters (Windows' has): Hebrew comes from DejaVu Sans, linked to
# Tahoma as Windows links fonts for scripts a face lacks.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'DejaVuSans.ttf,DejaVu Sans' /f >/dev/null
"$wine" regsvr32 /s "$("$wine" winepath -w "$dll" 2>/dev/null)"
"$wine" reg add "$plugin_key" /v "Lyrics Host" /t REG_SZ /d "$service" /f >/dev/null
"$wine" reg add "$plugin_key" /v "Community Host" /t REG_SZ /d "$service" /f >/dev/null
# Each run starts as a user new to Sonavire: signed out (the user signs in on the first song; a
# sign-in kept from an earlier run would turn that menu item into Sign-out), with no settings of
# their own, an empty lyrics cache (under their local application data) and no timing nudges.
"$wine" reg delete 'HKCU\Software\Sonavire' /f >/dev/null 2>&1 || true
rm -f "$WINEPREFIX/drive_c/users/"*/AppData/Local/Sonavire/Cache/*.xml \
  "$WINEPREFIX/drive_c/users/"*/AppData/Local/Sonavire/Cache/*.offset
# The listener's own files: a song the service does not know, with its lyrics in an .lrc file
# beside it (the playlist names the song's file; the player answers it as the item's source).
own_song="$WINEPREFIX/drive_c/Music/Kitchen Radio.mp3"
mkdir -p "${own_song%/*}"
: >"$own_song"
cp "$root/tools/demo/kitchen-radio.lrc" "${own_song%.mp3}.lrc"
# The offline pages, where the installer puts them.
mkdir -p "$WINEPREFIX/drive_c/Program Files/Sonavire/Offline"
cp "$tree/src/dll/Offline/"*.htm "$WINEPREFIX/drive_c/Program Files/Sonavire/Offline/"

length=$(awk -F'\t' '!/^#/ && NF >= 5 { total += $5 } END { printf "%d", total }' "$playlist")
quit_after=$((length + 4))

# The pictures and the user's actions: each is a time after its track's start, and a track starts
# when the ones before it have played their lengths.
rm -rf "$output"
mkdir -p "$output"
at_track() {  # TRACK OFFSET: seconds after the start of the playlist, or "none"
  awk -F'\t' -v want="$1" -v offset="$2" '!/^#/ && NF >= 5 { if (++n == want) { printf "%.3f", total + offset; found = 1; exit }
                                        total += $5 } END { if (!found) printf "none" }' "$playlist"
}
timed=()
while IFS=$'\t' read -r track offset name; do
  [ -n "$name" ] || continue
  at=$(at_track "$track" "$offset")
  if [ "$at" = none ]; then echo "demo: no track $track for picture $name" >&2; continue; fi
  timed+=(--at "$at" "snapshot=$("$wine" winepath -w "$work/$name.bmp" 2>/dev/null)")
done < <(grep -v '^#' "$moments")
while IFS=$'\t' read -r track offset action; do
  [ -n "$action" ] || continue
  at=$(at_track "$track" "$offset")
  if [ "$at" = none ]; then echo "demo: no track $track for action $action" >&2; continue; fi
  timed+=(--at "$at" "$action")
done < <(grep -v '^#' "$actions")

# The community's user the demo signs in as.
control POST "/_control/user?name=anna&password=secret" >/dev/null

# The first track's lookup is answered slowly; once it has arrived, the service answers at once.
control POST "/_control/behaviour?path=$lookup_path&mode=delay&ms=$slow_ms" >/dev/null
( control GET "/_control/requests?path=$lookup_path&min=1&timeout-ms=60000" >/dev/null
  control POST "/_control/behaviour?path=$lookup_path&mode=none" >/dev/null ) &
slow_pid=$!

quit=(--quit-after "$quit_after")
watch_timeout=$((quit_after + 60))
if [ "$keep_open" = 1 ]; then
  quit=()
  watch_timeout=86400
  echo "demo: the player stays open after the playlist; close its window to end the demo"
fi
echo "demo: Sonavire in the stand-in player, service at $service, ${length} s of music"
echo "demo: the player's record (call, event, host, player) and the plug-in window (status, page):"

"$wine" "$watcher" --timeout "$watch_timeout" &
watcher_pid=$!
# The player also records each line the lyrics pane shows bright, with the playback position at
# that moment, as a screen reader reads it (kept for the timeline, not printed).
"$wine" "$player" --playlist "$("$wine" winepath -w "$playlist" 2>/dev/null)" --play --log - --read-lyrics \
  "${timed[@]}" "${quit[@]}" | tee "$output/player-record.txt" | grep --line-buffered -v 'player[.]reads('
wait "$watcher_pid" || true
watcher_pid=
wait "$slow_pid" 2>/dev/null || true
slow_pid=

# One song from the video theatre (scripts/demo-theatre.sh).
. "$root/scripts/demo-theatre.sh"
demo_theatre
. "$root/scripts/demo-dpi.sh" && demo_dpi  # the first song at 150% and 200%, and a move to a 200% screen

# What the service was asked, from its own record.
echo "demo: the service's record:"
decode() { local s=${1//+/ }; printf '%b' "${s//%/\\x}"; }
exec 3<>"/dev/tcp/127.0.0.1/${service#*:}"
printf 'GET /_control/requests HTTP/1.0\r\nHost: %s\r\nX-Sonavire-Control-Token: %s\r\nConnection: close\r\n\r\n' \
  "$service" "$control_token" >&3
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

# Pictures as PNG.
pictures=0
for bmp in "$work"/*.bmp; do
  [ -e "$bmp" ] || continue
  name=$(basename "$bmp" .bmp)
  convert "$bmp" "$output/$name.png"
  pictures=$((pictures + 1))
done

# The timeline: one row per line the pane showed bright, and the figures of the nudge, the click
# on a line and the own file (tools/demo/timeline.awk). Its figures are required of the demo's
# own playlist and actions; others may leave them unmeasured.
cp "$work/server.log" "$output/service-log.txt"
required=0
[ "$playlist" = "$root/tools/demo/playlist.txt" ] && [ "$actions" = "$root/tools/demo/actions.txt" ] && required=1
awk -v playlist="$playlist" -v own="$root/tools/demo/kitchen-radio.lrc" -v service_log="$output/service-log.txt" \
  -v lookup="$lookup_path" -v required="$required" -f "$root/tools/demo/timeline.awk" "$playlist" \
  "$root"/tools/standin-service/library/*.lrc "$root/tools/demo/kitchen-radio.lrc" "$output/service-log.txt" \
  "$output/player-record.txt" >"$output/timeline.txt"
figures=$(awk -F'\t' '!/^#/ && $6 == "" { print $5 }' "$output/timeline.txt" | sort -n | awk '
  { d[NR] = $1; if ($1 < 0) early++ }
  END {
    if (NR == 0) { print "no line changes"; exit }
    median = NR % 2 ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2
    printf "%d line changes in step with playback: median difference %s ms, max %s ms, %d early\n",
      NR, median, d[NR], early
  }')
echo "# $figures" >>"$output/timeline.txt"

echo "demo: $pictures pictures and timeline.txt in $output"
ls "$output"
echo "demo: timeline: $figures"
sed -n 's/^# figure: /demo: figure: /p' "$output/timeline.txt"
if grep -q '^# figure: .*FAILED$' "$output/timeline.txt"; then
  echo "demo: a timeline figure FAILED" >&2
  exit 1
fi
echo "demo: done"

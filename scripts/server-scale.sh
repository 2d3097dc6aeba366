#!/bin/bash
# sonavire-server with a large generated library: N songs (20 timed lines each, one in 20 with a
# Spanish translation) written as LRC files, imported with the import command into one store, then
# served: import time, store size, lookup latency for hits and misses under wrk, and the server's
# memory. Not part of the tests (the default million songs take long and several GB of disk).
# IMPORTED below SONGS: only that many go through the import command (timed); the rest are written
# into the store directly with the same rows, so that lookups and size are measured at full scale.
# IMPORTED 0: measure the store left in WORK_FOLDER by an earlier run again.
#   scripts/server-scale.sh [SONGS] [IMPORTED] [WORK_FOLDER]     (SONAVIRE_BUILD: build folder)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SONAVIRE_BUILD:-$root/build}"
songs="${1:-1000000}"
imported="${2:-$songs}"
work="${3:-$(mktemp -d /tmp/sonavire-scale.XXXXXX)}"
mkdir -p "$work"
if [ ! -f "$build/server/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/server" -DCMAKE_BUILD_TYPE=Release -DSONAVIRE_TESTS=OFF -DSONAVIRE_SANITIZE=OFF >/dev/null
fi
cmake --build "$build/server" --target sonavire-server -j2 >/dev/null
server="$build/server/tools/standin-service/sonavire-server"

# Folders of 10,000 files; song i is "Artist <i/10>" - "Song <i>".
if [ "$imported" = 0 ]; then
  [ -f "$work/store.db" ] || { echo "server-scale: no store in $work to measure again" >&2; exit 1; }
elif [ ! -f "$work/library/done-$imported" ]; then
  rm -rf "$work/library"
  python3 - "$work/library" "$imported" <<'PY'
import os, sys
base, count = sys.argv[1], int(sys.argv[2])
words = "light river night train harbour morning road home fire stone rain silver heart open sky".split()
for i in range(count):
    folder = os.path.join(base, "%04d" % (i // 10000))
    if i % 10000 == 0:
        os.makedirs(folder, exist_ok=True)
    head = "[ar:Artist %d]\n[ti:Song %d]\n" % (i // 10, i)
    def lines(tag):
        return "".join("[%02d:%02d.%02d]%s %s %s %d\n" % (n * 9 // 60, n * 9 % 60, n * 7 % 100, tag,
                       words[(i + n) % len(words)], words[(i * 7 + n) % len(words)], n) for n in range(20))
    with open(os.path.join(folder, "song-%d.lrc" % i), "w") as f:
        f.write(head + lines("la"))
    if i % 20 == 0:
        with open(os.path.join(folder, "song-%d.es.lrc" % i), "w") as f:
            f.write(head + "[la:es]\n[ln:Español]\n" + lines("es"))
open(os.path.join(base, "done-%d" % count), "w").close()
PY
fi

if [ "$imported" != 0 ]; then
rm -f "$work/store.db" "$work/store.db-wal" "$work/store.db-shm"
start=$(date +%s.%N)
"$server" import --db "$work/store.db" "$work"/library/*/ 2>"$work/import.log"
end=$(date +%s.%N)
files=$(find "$work/library" -name '*.lrc' | wc -l)
echo "imported: $imported songs ($files LRC files)"
awk -v s="$start" -v e="$end" -v n="$files" -v all="$songs" -v imp="$imported" 'BEGIN {
  printf "import: %.1f s (%.0f files/s)", e - s, n / (e - s)
  if (all > imp) printf "; %d songs at that rate: about %.0f min (extrapolated)", all, (e - s) * all / imp / 60
  printf "\n" }'
if [ "$songs" -gt "$imported" ]; then
  python3 - "$work/store.db" "$imported" "$songs" <<'PY'
import sqlite3, sys
db, first, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
words = "light river night train harbour morning road home fire stone rain silver heart open sky".split()
c = sqlite3.connect(db)
song_id = c.execute("SELECT MAX(id) FROM songs").fetchone()[0]
version_id = c.execute("SELECT MAX(id) FROM versions").fetchone()[0]
songs, versions, lines = [], [], []
def flush():
    c.executemany("INSERT INTO songs VALUES (?, ?, ?, '', ?, ?, ?, ?)", songs)
    c.executemany("INSERT INTO versions VALUES (?, ?, 1, ?, '2026-01-01 00:00:00', '0', 'library', '')", versions)
    c.executemany("INSERT INTO lines VALUES (?, ?, ?, ?)", lines)
    del songs[:], versions[:], lines[:]
for i in range(first, count):
    for language, name, tag in ([("", "", "la")] + ([("es", "Español", "es")] if i % 20 == 0 else [])):
        song_id += 1
        version_id += 1
        songs.append((song_id, "Artist %d" % (i // 10), "Song %d" % i, language, name, "artist %d" % (i // 10), "song %d" % i))
        versions.append((version_id, song_id, "1.%08x" % (hash((i, language)) & 0xffffffff)))
        lines.extend((version_id, n, (n * 9 // 60) * 60000 + (n * 9 % 60) * 1000 + (n * 7 % 100) * 10,
                      "%s %s %s %d" % (tag, words[(i + n) % len(words)], words[(i * 7 + n) % len(words)], n)) for n in range(20))
    if len(songs) >= 50000:
        flush()
flush()
c.commit()
PY
  echo "songs in the store: $songs (the rest written directly, same rows as the import writes)"
fi
fi
echo "store: $(du -sh "$work"/store.db* | awk '{print $1}' | paste -sd+) ($(stat -c %s "$work/store.db") bytes in store.db)"

rm -f "$work/port"
"$server" --db "$work/store.db" --port 0 --port-file "$work/port" --max-per-peer 1024 2>"$work/server.log" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 600); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")"
echo "server memory at start: $(awk '/VmRSS/ {print $2, $3}' /proc/$pid/status)"
# Each request names another song: hits anywhere in the library, or misses (unknown titles).
for run in hit:1 hit:16 miss:1 miss:16; do
  kind=${run%:*} connections=${run#*:}
  cat >"$work/$kind.lua" <<LUA
math.randomseed(42)
request = function()
  local i = math.random(0, $songs - 1)
  local title = "$kind" == "hit" and ("Song%20" .. i) or ("Unknown%20" .. i)
  return wrk.format("GET", "/sonavire/services/getLyricXML_2?artist=Artist%20" .. math.floor(i / 10) .. "&title=" .. title)
end
LUA
  out="$(wrk -t1 -c"$connections" -d10s --latency -s "$work/$kind.lua" "$url")"
  echo "$out" >>"$work/wrk.log"
  echo "lookups ($kind, $connections connections): $(awk '/^Requests\/sec/ {print $2}' <<<"$out")/s," \
       "p50 $(awk '$1 == "50%" {print $2}' <<<"$out"), p99 $(awk '$1 == "99%" {print $2}' <<<"$out")," \
       "non-2xx $(awk '/Non-2xx/ {print $5}' <<<"$out")"
done
echo "server memory after the lookups: $(awk '/VmRSS/ {print $2, $3}' /proc/$pid/status) (peak $(awk '/VmHWM/ {print $2, $3}' /proc/$pid/status))"

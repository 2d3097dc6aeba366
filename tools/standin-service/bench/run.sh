#!/bin/bash
# Throw-away measurement, not shipped or tested: the server's own HTTP layer beside libmicrohttpd
# (Debian's libmicrohttpd-dev, installed by hand for this only), both answering every request with
# the same lyrics reply bytes, under wrk at 16 and 128 connections (docs/server.md, "The HTTP layer").
#   tools/standin-service/bench/run.sh [SECONDS]     (SONAVIRE_BUILD: build folder, default ./build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="${SONAVIRE_BUILD:-$root/build}"
seconds="${1:-10}"
work="$(mktemp -d /tmp/sonavire-mhd.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

gcc -O2 -o "$work/mhd_reply" "$here/mhd_reply.c" -lmicrohttpd
g++ -O2 -std=c++20 -I"$here/.." -o "$work/layer_reply" "$here/layer_reply.cpp" "$here/../http_server.cpp" \
  "$here/../request_parser.cpp" "$here/../text.cpp" -pthread
# The reply: the one server-bench asks for, as the release server sends it.
server="$build/server/tools/standin-service/sonavire-server"
[ -x "$server" ] || { echo "build the release server first (make server-bench)" >&2; exit 1; }
"$server" --db "$work/store.db" --library "$root/tools/standin-service/library" --port 0 --port-file "$work/port" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
curl -sf "http://127.0.0.1:$(cat "$work/port")/sonavire/services/getLyricXML_2?artist=Blue%20Harbour&title=Night%20Train" -o "$work/reply"
kill "${pids[0]}"

base=$((20000 + RANDOM % 20000))
"$work/layer_reply" "$work/reply" "$base" 2>/dev/null & pids+=($!)
"$work/mhd_reply" "$work/reply" $((base + 1)) epoll & pids+=($!)
"$work/mhd_reply" "$work/reply" $((base + 2)) threads & pids+=($!)
for port in "$base" $((base + 1)) $((base + 2)); do
  for _ in $(seq 100); do curl -sf "http://127.0.0.1:$port/x" -o /dev/null && break; sleep 0.05; done
  cmp -s <(curl -sf "http://127.0.0.1:$port/x") "$work/reply" || { echo "port $port does not serve the reply" >&2; exit 1; }
done
echo "the same $(stat -c %s "$work/reply")-byte reply, wrk -t2, ${seconds} s per run, $(nproc) cores: answers/s, errors, p99"
for connections in 16 128; do
  for entry in "server's HTTP layer:$base" "libmicrohttpd epoll:$((base + 1))" "libmicrohttpd threads:$((base + 2))"; do
    out="$(wrk -t2 -c"$connections" -d"${seconds}s" --latency "http://127.0.0.1:${entry##*:}/x")"
    rate="$(awk '/^Requests\/sec:/ {printf "%d", $2}' <<<"$out")"
    errors="$(awk '/Non-2xx|Socket errors/ {n++} END {print n + 0}' <<<"$out")"
    p99="$(awk '$1 == "99%" {print $2}' <<<"$out")"
    printf '%-4s %-24s %8s %3s %10s\n' "$connections" "${entry%%:*}" "$rate" "$errors" "$p99"
  done
done

#!/bin/bash
# Throughput of sonavire-server beside nginx on the same machine: wrk asks both for the same lyrics
# reply (the server looks it up in its store; nginx sends the same bytes from a file), with 16 and
# 128 connections, 10 s each, and prints lookups/s, errors and p99 latency side by side.
# Not part of the tests: the figures depend on the machine and on what else runs on it.
#   scripts/server-bench.sh [SECONDS]     (SONAVIRE_BUILD: build folder, default ./build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SONAVIRE_BUILD:-$root/build}"
seconds="${1:-10}"
for tool in wrk nginx curl; do
  command -v "$tool" >/dev/null || { echo "server-bench: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

# The release server, as people build it (README, "Running your own lyrics server").
if [ ! -f "$build/server/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build/server" -DCMAKE_BUILD_TYPE=Release -DSONAVIRE_TESTS=OFF -DSONAVIRE_SANITIZE=OFF >/dev/null
fi
cmake --build "$build/server" --target sonavire-server -j2 >/dev/null
server="$build/server/tools/standin-service/sonavire-server"

work="$(mktemp -d /tmp/sonavire-bench.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# wrk runs from one address, so the per-peer cap is lifted above its connection count.
"$server" --db "$work/store.db" --library "$root/tools/standin-service/library" --port 0 \
  --port-file "$work/port" --max-per-peer 1024 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "server-bench: the server did not start" >&2; cat "$work/server.log" >&2; exit 1; }
lookup="/sonavire/services/getLyricXML_2?artist=Blue%20Harbour&title=Night%20Train"
server_url="http://127.0.0.1:$(cat "$work/port")$lookup"
mkdir -p "$work/www/sonavire/services"
chmod 755 "$work"  # nginx workers run as another user
curl -sf "$server_url" -o "$work/www/sonavire/services/getLyricXML_2"

# nginx: one worker, the reply as a static file, no access log (the server's log goes to a file).
nginx_port=$((20000 + RANDOM % 20000))
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
    default_type text/xml;
  }
}
CONF
mkdir -p "$work/tmp"
nginx -c "$work/nginx.conf" &
pids+=($!)
nginx_url="http://127.0.0.1:$nginx_port$lookup"
for _ in $(seq 100); do curl -sf "$nginx_url" -o /dev/null && break; sleep 0.05; done
cmp -s <(curl -sf "$nginx_url") "$work/www/sonavire/services/getLyricXML_2" || { echo "server-bench: nginx does not serve the reply" >&2; exit 1; }

# One wrk run: "rate errors p99" (errors: non-2xx answers plus socket errors).
measure() {
  local out
  out="$(wrk -t2 -c"$2" -d"${seconds}s" --latency "$1")"
  echo "$out" >>"$work/wrk.log"
  local rate non2xx sockets p99
  rate="$(awk '/^Requests\/sec:/ {printf "%d", $2}' <<<"$out")"
  non2xx="$(awk '/Non-2xx or 3xx responses:/ {print $5}' <<<"$out")"
  sockets="$(awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8 + $10}' <<<"$out")"
  p99="$(awk '$1 == "99%" {print $2}' <<<"$out")"
  echo "$rate $(( ${non2xx:-0} + ${sockets:-0} )) ${p99:-?}"
}

bytes=$(stat -c %s "$work/www/sonavire/services/getLyricXML_2")
echo "sonavire-server beside nginx (1 worker), the same ${bytes}-byte lyrics reply, wrk -t2, ${seconds} s per run, $(nproc) cores"
printf '%-12s | %-34s | %-34s | %s\n' "connections" "sonavire-server: lookups/s errors p99" "nginx: lookups/s errors p99" "server/nginx"
failed=0
for connections in 16 128; do
  read -r srate serr sp99 <<<"$(measure "$server_url" "$connections")"
  read -r nrate nerr np99 <<<"$(measure "$nginx_url" "$connections")"
  ratio="$(awk -v s="$srate" -v n="$nrate" 'BEGIN {printf "%.2f", (n > 0 ? s / n : 0)}')"
  printf '%-12s | %10s %8s %14s | %10s %8s %14s | %s\n' "$connections" "$srate" "$serr" "$sp99" "$nrate" "$nerr" "$np99" "$ratio"
  awk -v r="$ratio" 'BEGIN {exit !(r < 0.5)}' && failed=1
  [ "$connections" = 128 ] && [ "$serr" != 0 ] && failed=1
done
# The HTTP layer alone: the server's own page for an unknown address, no store involved.
read -r hrate herr hp99 <<<"$(measure "http://127.0.0.1:$(cat "$work/port")/sonavire/services/none" 128)"
echo "the server's HTTP layer alone (its 404 page, no lookup), 128 connections: $hrate answers/s, p99 $hp99"
if [ "$failed" = 0 ]; then
  echo "goal met: at least half of nginx's rate at both loads, no errors at 128 connections"
else
  echo "goal NOT met: the server wants at least half of nginx's rate and no errors at 128 connections"
fi
exit "$failed"

#!/usr/bin/env bash
# with-standin.sh SERVER [server options] -- COMMAND...
# Starts a fresh sonavire-server (the lyrics service and community site) with its test control API
# (--test-control), without per-client rate limits (every test comes from one address), on a free
# loopback port with the sample library and an empty store, runs COMMAND
# with SONAVIRE_STANDIN=127.0.0.1:PORT and SONAVIRE_STANDIN_TOKEN set to the control token the
# server wrote, stops the server and returns COMMAND's exit status.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
server=$1; shift
server_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift

work=$(mktemp -d /tmp/sonavire-standin.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$server" --test-control --test-control-token-file "$work/control-token" --port 0 --port-file "$work/port" --db "$work/store.sqlite" \
  --library "${SONAVIRE_STANDIN_LIBRARY:-$here/../tools/standin-service/library}" \
  --write-limit 0 --sign-in-limit 0 "${server_args[@]}" >"$work/server.log" 2>&1 &
server_pid=$!

# The server writes its port once it listens; wait for that with a deadline.
for _ in $(seq 1 200); do
  [ -s "$work/port" ] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then cat "$work/server.log" >&2; echo "stand-in did not start" >&2; exit 1; fi
  sleep 0.05
done
[ -s "$work/port" ] || { echo "stand-in did not report its port" >&2; exit 1; }
export SONAVIRE_STANDIN="127.0.0.1:$(cat "$work/port")"
# Written before the port file.
SONAVIRE_STANDIN_TOKEN=$(cat "$work/control-token")
export SONAVIRE_STANDIN_TOKEN
set +e
"$@"
status=$?
set -e
exit $status

#!/usr/bin/env bash
# with-tls-front.sh -- COMMAND...
# Puts nginx as a TLS front before the stand-in service named by SONAVIRE_STANDIN (host:port), with
# a throw-away certificate for "localhost" made here, runs COMMAND with
#   SONAVIRE_TLS_FRONT=localhost:PORT  the front's address (https)
#   SONAVIRE_TLS_CERT=FILE             the certificate (DER), for the test to trust in its own prefix
# then stops nginx and removes the certificate. Returns COMMAND's exit status.
set -euo pipefail
[ "${1:-}" = "--" ] && shift
: "${SONAVIRE_STANDIN:?with-tls-front.sh runs inside with-standin.sh}"

work=$(mktemp -d /tmp/sonavire-tls.XXXXXX)
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" -addext "basicConstraints=critical,CA:TRUE" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
mkdir -p "$work/tmp"

# nginx cannot report a port it chose, so try free-looking ones until one binds.
for attempt in $(seq 1 20); do
  port=$((20000 + (RANDOM % 30000)))
  # A port that answers already is someone else's (nginx would keep retrying the bind meanwhile).
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
  cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    location / {
      proxy_pass http://$SONAVIRE_STANDIN;
      proxy_set_header Host \$http_host;
      # The client's address, for a server started with --trusted-proxy 127.0.0.1 to count its
      # limits by (ignored by a server that does not trust this front).
      proxy_set_header X-Forwarded-For \$proxy_add_x_forwarded_for;
    }
  }
}
CONF
  "${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}" -p "$work" -c "$work/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 1 100); do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then break; fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break 2; fi
    sleep 0.05
  done
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
done
[ -n "$nginx_pid" ] || { cat "$work/error.log" >&2 2>/dev/null; echo "the TLS front did not start" >&2; exit 1; }

export SONAVIRE_TLS_FRONT="localhost:$port" SONAVIRE_TLS_CERT="$work/cert.der"
set +e
"$@"
status=$?
set -e
exit $status

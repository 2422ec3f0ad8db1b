#!/usr/bin/env bash
# run_with_http_server.sh - runs one test program with the test web server
# of http_server.py beside it on 127.0.0.1, and stops the server afterwards.
# The program finds the server's port in QUILLARO_HTTP_PORT and a port
# without a listener in QUILLARO_CLOSED_PORT.
# Usage: run_with_http_server.sh <python> <http_server.py> <command>...
set -euo pipefail
python=$1
server_script=$2
shift 2

port_file=$(mktemp)
rm -f "$port_file"
"$python" "$server_script" --port-file "$port_file" &
server=$!
stop_server() {
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  rm -f "$port_file"
}
trap stop_server EXIT

for _ in $(seq 100); do
  [ -s "$port_file" ] && break
  kill -0 "$server" 2>/dev/null || { echo "the test web server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$port_file" ] || { echo "the test web server gave no port" >&2; exit 1; }
read -r port closed_port <"$port_file"

QUILLARO_HTTP_PORT=$port QUILLARO_CLOSED_PORT=$closed_port "$@"

#!/usr/bin/env bash
# Runs the OPC UA endpoint's tests (endpoint.test.mjs, node's test runner):
# starts the sample historian under Wine with an OPC UA endpoint on a free
# loopback port and two UA users, registered so that zqhda.exe reaches the
# same process over DCOM, runs the tests, and ends the historian through its
# stop event (waiting for it, with a time-out), whatever happened.
#   run-endpoint-tests.sh WINE_LOADER BIN_DIR
# The environment carries WINEPREFIX (the build's prefix).
set -euo pipefail
wine=${1:?wine loader}; bin=${2:?bin folder}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
event="ZqHDA.UaTest.$$"
pid=""
stop_historian() {
  [ -n "$pid" ] || return 0
  (cd "$bin" && "$wine" set_event.exe "$event" </dev/null >/dev/null 2>&1) || true
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "the historian did not stop within 20 s: killed" >&2
    kill -9 "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
  pid=""
}
trap 'stop_historian; rm -rf "$work"' EXIT

[ -d "$here/node_modules/node-opcua-client" ] ||
  { echo "node-opcua is not installed in $here (tools/install-deps.sh installs it)" >&2; exit 1; }
journal="Z:$(echo "$work/journal" | tr / '\\')"
plant=(--days 2 --step 10 --journal "$journal")
cd "$bin"
"$wine" ZqHistorian.exe /RegServer "${plant[@]}" </dev/null >"$work/register.log" 2>&1 ||
  { cat "$work/register.log"; exit 1; }

# A start that fails (a port taken meanwhile; once, under emulation and a
# full machine, the stack's start failed five times in a row) is tried again
# on another port after a pause; the historian's trace says why it failed.
started=""
for try in 1 2 3 4 5 6 7 8; do
  port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
  url="opc.tcp://127.0.0.1:$port"
  "$wine" ZqHistorian.exe "${plant[@]}" --trace --stop-event "$event" --ua-endpoint "$url" \
    --ua-user operator:secret --ua-user auditor:readonly </dev/null >"$work/historian.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 600); do
    if grep -q "^OPC UA endpoint" "$work/historian.log"; then started=yes; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$started" ] && break
  tr -d '\r' < "$work/historian.log" | grep -v "^trace: [^U]" >&2
  stop_historian
  sleep 3
done
[ -n "$started" ] || { echo "the historian's OPC UA endpoint did not start" >&2; exit 1; }

status=0
ZQ_UA_URL="$url" ZQ_WINE="$wine" ZQ_BIN="$bin" \
  node --test "$here/endpoint.test.mjs" || status=$?
stop_historian
exit $status

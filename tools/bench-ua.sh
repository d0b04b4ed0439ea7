#!/usr/bin/env bash
# The OPC UA benchmark (benchmark 9 of BENCHMARKS.md): a raw HistoryRead of
# 100,000 values through the sample historian's OPC UA endpoint and through a
# plain open62541 server with the stack's own in-memory history
# (ua_reference_server.exe), both read by the same node-opcua client
# (tests/ua/bench_history_read.mjs), their reads interleaved, and the same read
# over classic DCOM with the command-line client (zqhda.exe read raw).
#   tools/bench-ua.sh [--arch i686|x86_64] [build-dir] [-- options]
# Options: --values N (default 100000), --per-read P (numValuesPerNode, 10000),
# --rounds R (3), --repeat K (timed reads per round and server, 3).
# Installs what is missing, builds what it runs (like tools/bench.sh), runs
# everything in the build folder's Wine prefix on free loopback ports, and
# writes the rows to <build>/bench-ua-results.md. Every process it starts and
# the prefix's wineserver are stopped at the end, whatever happens (the two
# servers through their stop events, set by tests/ua's set_event.exe).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
arch=i686
if [ "${1:-}" = "--arch" ]; then arch=${2:?architecture}; shift 2; fi
build=$here/build
[ "$arch" = x86_64 ] && build=$here/build64
if [ $# -gt 0 ] && [ "$1" != "--" ]; then build=$1; shift; fi
build=$("$here/tools/build-folder.sh" "$build")
[ "${1:-}" = "--" ] && shift
values=100000 per_read=10000 rounds=3 repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
  --values) values=${2:?}; shift 2 ;;
  --per-read) per_read=${2:?}; shift 2 ;;
  --rounds) rounds=${2:?}; shift 2 ;;
  --repeat) repeat=${2:?}; shift 2 ;;
  *) sed -n '2,17p' "$0" >&2; exit 2 ;;
  esac
done
for n in "$values" "$per_read" "$rounds" "$repeat"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "options take whole numbers of at least 1" >&2; exit 2; }
done
# The historian's plant spans two days at one sample a second.
[ "$values" -le 170000 ] || { echo "--values: at most 170000 (the historian holds two days)" >&2; exit 2; }

"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-$arch.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ua_reference_server ZqHistorian zqhda ZqOpcHda_ps set_event
wine=$("$here/tools/wine32.sh" loader "$arch") || { echo "this machine cannot run $arch programs" >&2; exit 1; }
emulated=""
[ $arch = i686 ] && [ "$("$here/tools/wine32.sh" mode)" = emulated ] && emulated=", 32-bit half emulated (qemu-i386): not a Windows figure"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bin=$build/bin
work=$(mktemp -d "$build/bench-ua.XXXXXX")
journal=$work/historian.journal
ref_event=ZqBenchUa.Reference.$$ hist_event=ZqBenchUa.Historian.$$
ref_pid="" hist_pid="" registered=""

# Sets the named event of a server and waits up to 30 s for its process.
stop_server() {   # stop_server PID EVENT
  local pid=$1 event=$2 i
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  (cd "$bin" && "$wine" set_event.exe "$event" </dev/null >/dev/null 2>&1) || true
  for ((i = 0; i < 300; i++)); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  echo "note: the server of $event did not stop within 30 s; the wineserver's end stops it" >&2
}
cleanup() {
  set +e
  stop_server "$ref_pid" "$ref_event"
  stop_server "$hist_pid" "$hist_event"
  [ -n "$registered" ] && (cd "$bin" && "$wine" ZqHistorian.exe /UnregServer </dev/null >/dev/null 2>&1)
  "$here/tools/wine-prefix.sh" stop "$WINEPREFIX"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
"$here/tools/wine-prefix.sh" setup "$WINEPREFIX" "$bin"

# Two distinct free loopback ports (the servers fail to start if one is taken
# meanwhile, and the run ends with that message).
read -r ref_port hist_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
[ -n "${hist_port:-}" ] || { echo "no free loopback ports found" >&2; exit 1; }
ref_url=opc.tcp://127.0.0.1:$ref_port hist_url=opc.tcp://127.0.0.1:$hist_port

# wait_for PID LOG TEXT SECONDS: until LOG holds TEXT; fails when the process
# ended or the time ran out.
wait_for() {
  local pid=$1 log=$2 text=$3 i
  for ((i = 0; i < $4 * 10; i++)); do
    grep -q -- "$text" "$log" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

cd "$bin"
"$wine" ua_reference_server.exe --url "$ref_url" --values "$values" --stop-event "$ref_event" \
    </dev/null >"$work/reference.log" 2>&1 &
ref_pid=$!
wait_for "$ref_pid" "$work/reference.log" "listening on" 120 ||
  { echo "the reference server did not start:" >&2; cat "$work/reference.log" >&2; exit 1; }

winjournal=$("$wine" winepath -w "$journal" 2>/dev/null | tr -d '\r')
"$wine" ZqHistorian.exe /RegServer --days 2 --step 1 --journal "$winjournal" </dev/null >"$work/register.log" 2>&1 ||
  { echo "ZqHistorian.exe /RegServer failed:" >&2; cat "$work/register.log" >&2; exit 1; }
registered=yes
# The values of the historian's reads: the N whole seconds before the second
# it was started in (its plant ends at its start), the range's ends half a
# second off any value.
launched=$(date +%s)
# (It says "serving" once its endpoint is open.)
"$wine" ZqHistorian.exe --days 2 --step 1 --stay --ua-endpoint "$hist_url" --stop-event "$hist_event" \
    --journal "$winjournal" </dev/null >"$work/historian.log" 2>&1 &
hist_pid=$!
wait_for "$hist_pid" "$work/historian.log" "^serving " 300 ||
  { echo "the historian did not start:" >&2; cat "$work/historian.log" >&2; exit 1; }
hist_end=$(date -u -d "@$((launched - 1))" +%Y-%m-%dT%H:%M:%S.500Z)
hist_start=$(date -u -d "@$((launched - 1 - values))" +%Y-%m-%dT%H:%M:%S.500Z)

tag=Plant.Area1.Boiler.Temperature
# ua FIRST SECOND (each hist or ref): one client run holding a session to
# both servers, their reads alternating; appends each server's median and best
# seconds to its arrays.
ua_medians_ref=() ua_best_ref=() ua_medians_hist=() ua_best_hist=()
declare -A target=([hist]="$hist_url --start $hist_start --end $hist_end" [ref]="$ref_url")
declare -A url_of=([hist]="$hist_url" [ref]="$ref_url")
ua() {
  # shellcheck disable=SC2086 # the targets are words
  node "$here/tests/ua/bench_history_read.mjs" ${target[$1]} ${target[$2]} --node "ns=1;s=$tag" \
      --expect "$values" --per-read "$per_read" --repeat "$repeat" >"$work/client.out" 2>"$work/client.err" ||
    { echo "the client failed:" >&2; cat "$work/client.out" "$work/client.err" >&2; exit 1; }
  local which line
  for which in "$1" "$2"; do
    line=$(grep "^url=${url_of[$which]} " "$work/client.out" | tail -1)
    [ -n "$line" ] || { echo "the client printed nothing for ${url_of[$which]}" >&2; exit 1; }
    echo "  $which: $line" >&2
    eval "ua_medians_$which+=($(sed -n 's/.*median_seconds=\([0-9.]*\).*/\1/p' <<<"$line"))"
    eval "ua_best_$which+=($(sed -n 's/.*best_seconds=\([0-9.]*\).*/\1/p' <<<"$line"))"
    eval "ua_requests_$which=$(sed -n 's/.*requests=\([0-9]*\).*/\1/p' <<<"$line")"
  done
}
dcom_seconds=() status_seconds=()
now_s() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now_s)" 'BEGIN {printf "%.3f", b - a}'; }
dcom() {
  local t0 count
  t0=$(now_s)
  "$wine" zqhda.exe --server ZqHDA.Historian.1 --format csv read raw "$tag" \
      --start "$hist_start" --end "$hist_end" </dev/null >"$work/dcom.csv" 2>"$work/dcom.err" ||
    { echo "zqhda read raw failed:" >&2; cat "$work/dcom.err" >&2; exit 1; }
  local seconds; seconds=$(since "$t0")
  count=$(($(tr -d '\r' <"$work/dcom.csv" | grep -c .) - 1))   # less the header line
  [ "$count" -eq "$values" ] || { echo "zqhda read $count values, expected $values" >&2; exit 1; }
  dcom_seconds+=("$seconds")
  t0=$(now_s)
  "$wine" zqhda.exe --server ZqHDA.Historian.1 status </dev/null >/dev/null 2>"$work/dcom.err" ||
    { echo "zqhda status failed:" >&2; cat "$work/dcom.err" >&2; exit 1; }
  status_seconds+=("$(since "$t0")")
  echo "  dcom: read ${dcom_seconds[-1]} s, status ${status_seconds[-1]} s" >&2
}

echo "rounds: $rounds, each: $repeat timed reads of the endpoint and of the reference server in turn (after one untimed), then zqhda" >&2
for ((r = 1; r <= rounds; r++)); do
  # Which server a round starts with alternates too.
  if [ $((r % 2)) -eq 1 ]; then ua hist ref; else ua ref hist; fi
  dcom
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
least() { printf '%s\n' "$@" | sort -g | head -1; }
rate() { awk -v n="$values" -v s="$1" 'BEGIN {printf "%.0f", n / s}'; }
commas() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }

ref_rate=$(rate "$(median "${ua_medians_ref[@]}")")
ref_best=$(rate "$(least "${ua_best_ref[@]}")")
dcom_med=$(median "${dcom_seconds[@]}")
status_med=$(median "${status_seconds[@]}")
shape="$(commas "$values") values, $(commas "$per_read") per request"
out="$build/bench-ua-results.md"
{
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$wine" --version), $arch$emulated, node $(node --version)"
  echo "Command: tools/bench-ua.sh --arch $arch -- --values $values --per-read $per_read --rounds $rounds --repeat $repeat"
  echo
  echo "| benchmark | figure | value | goal | met |"
  echo "| --- | --- | --- | --- | --- |"
  hist_rate=$(rate "$(median "${ua_medians_hist[@]}")")
  hist_best=$(rate "$(least "${ua_best_hist[@]}")")
  ratio=$(awk -v a="$hist_rate" -v b="$ref_rate" 'BEGIN {printf "%.2f", a / b}')
  met=$(awk -v r="$ratio" 'BEGIN {print (r >= 1.0) ? "yes" : "no"}')
  echo "| ua_history_read | historian endpoint, raw HistoryRead of $shape, in $ua_requests_hist requests: values per second (median; best) | $(commas "$hist_rate"); $(commas "$hist_best") | | |"
  echo "| ua_history_read | open62541 reference server (default in-memory history), the same read, in $ua_requests_ref requests: values per second (median; best) | $(commas "$ref_rate"); $(commas "$ref_best") | | |"
  echo "| ua_history_read | endpoint / reference server | **$ratio** | at least 1.0 | $met |"
  echo "| ua_history_read | DCOM, \`zqhda read raw\` of the same $(commas "$values") values in one call, the whole command (start, connect, read, print): values per second | $(commas "$(rate "$dcom_med")") ($(printf '%.2f' "$dcom_med") s) | (figure only) | - |"
  echo "| ua_history_read | DCOM, \`zqhda status\` (the command's start and connection alone) | $(printf '%.2f' "$status_med") s | (figure only) | - |"
} | tee "$out"

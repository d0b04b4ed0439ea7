#!/usr/bin/env bash
# The main job: installs what is missing, builds what it runs (the library,
# the proxy/stub DLL, the sample historian and the command-line client) for
# each architecture this machine can run (i686 in <build>, x86_64 in
# <build>64; 32-bit programs natively or under emulation, tools/wine32.sh),
# and for each of them: registers the proxy/stub DLL and the sample historian
# (ZqHistorian.exe, built on the library) in the build folder's own Wine
# prefix, and runs a short session of the command-line OPC HDA client
# (zqhda.exe) against it, in another process, ending with a plot of the last
# hour in <build>/main-plot.svg. COM starts the historian for the client; it
# ends when its last client leaves. Then the historian is started by hand
# with an OPC UA endpoint on a loopback port, and node-opcua
# (tests/ua/main_job.mjs) reads the boiler temperature over OPC UA (raw
# values and a processed average) and compares them with the same reads of
# zqhda over DCOM. Everything started here is stopped at the end. The tests and benchmarks are the test command's and bench command's.
#   tools/run-main.sh [build-dir]      (default: build; x86_64 in build64)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
base=$("$here/tools/build-folder.sh" "${1:-$here/build}")

"$here/tools/install-deps.sh"
built=()
for arch in i686 x86_64; do
  if ! "$here/tools/wine32.sh" loader "$arch" >/dev/null; then
    printf '\n== %s: this machine cannot run %s programs; not built, no session\n' "$arch" "$arch"
    continue
  fi
  dir=$base; [ $arch = x86_64 ] && dir=${base%/}64
  cmake -S "$here" -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-$arch.cmake" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target ZqHDAsvr ZqOpcHda_ps ZqHistorian zqhda set_event >/dev/null
  built+=("$arch")
done

session() {   # session ARCH BUILD-DIR
arch=$1; build=$2
wine=$("$here/tools/wine32.sh" loader "$arch")
printf '\n==== %s: %s\n' "$arch" "$build/bin"
prefix="$build/wineprefix"
"$here/tools/wine-prefix.sh" setup "$prefix" "$build/bin"   # also registers ZqOpcHda_ps.dll
trap '"$here/tools/wine-prefix.sh" stop "$prefix"' EXIT

export WINEPREFIX="$prefix" WINEDEBUG=-all
cd "$build/bin"
# Wine may note on stderr that a thread of an ending process lost its server
# connection ("wine client error: ... write"); that teardown note is dropped.
run() { "$wine" "$@" 2> >(grep -v '^wine client error' >&2); }
step() { printf '\n== %s\n' "$*"; }

journal="$build/main-job.journal"
rm -f "$journal"
step "Register the sample historian (a generated plant covering the last two days)"
run ZqHistorian.exe /RegServer --journal "$("$wine" winepath -w "$journal" 2>/dev/null)"

hda() { run zqhda.exe --server ZqHDA.Historian.1 "$@"; }
tag=Plant.Area1.Boiler.Temperature
step "Historian status";                     hda status
step "Address space (flat)";                 hda browse --flat
step "Raw values of the last 5 minutes, with bounds"
hda read raw "$tag" --start NOW-5M --end NOW --bounds
step "Average over the last hour in 10-minute intervals"
hda read processed "$tag" --start NOW-1H --end NOW --interval 10M --aggregate Average
step "Attributes";                           hda read attributes "$tag" --attr Description --attr "Eng Units"
when=$(date -u -d '+1 hour' +%Y-%m-%dT%H:%M:00Z)
step "Insert 123.5 at $when, then read it back"
hda insert "$tag" --time "$when" --value 123.5
hda read attime "$tag" --at "$when"
step "Replace it with 124.5, then read the value it replaced (with edit type and user)"
hda replace "$tag" --time "$when" --value 124.5
hda read modified "$tag" --start "$when" --end NOW+2H
step "Annotate it, then read the annotation back"
hda annotations insert "$tag" --time "$when" --text "entered by hand"
hda annotations read "$tag" --start "$when" --end NOW+2H
step "Three raw advise windows of 10 minutes, from 30 minutes ago"
hda advise "$tag" --start NOW-30M --interval 10M --count 3
plot="$build/main-plot.svg"
step "A plot of the last hour: the raw values and their 10-minute averages"
hda plot "$tag" --start NOW-1H --end NOW --raw --aggregate Average --interval 10M \
    --output "$("$wine" winepath -w "$plot" 2>/dev/null)"
echo "The plot is in $plot"

sleep 2   # the historian ends a moment after its last client left
step "OPC UA: the historian started by hand with an endpoint; the boiler temperature over OPC UA and over DCOM"
port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
event="ZqHDA.MainJob.$$"
uajob="$build/main-job-ua.log"
"$wine" ZqHistorian.exe --journal "$("$wine" winepath -w "$journal" 2>/dev/null)" --stop-event "$event" \
    --ua-endpoint "opc.tcp://127.0.0.1:$port" </dev/null >"$uajob" 2>&1 &
historian=$!
for _ in $(seq 1 300); do
  grep -q "^OPC UA endpoint" "$uajob" && break
  kill -0 $historian 2>/dev/null || break
  sleep 0.2
done
tr -d '\r' < "$uajob"
ua_status=0
ZQ_WINE="$wine" ZQ_BIN="$build/bin" node "$here/tests/ua/main_job.mjs" "opc.tcp://127.0.0.1:$port" \
    2> >(grep -v 'NODE-OPCUA-W\|verify_pcks1\|default certificate' >&2) || ua_status=$?
run set_event.exe "$event" || true
for _ in $(seq 1 100); do kill -0 $historian 2>/dev/null || break; sleep 0.2; done
kill $historian 2>/dev/null || true
wait $historian 2>/dev/null || true

step "Unregister the historian"
run ZqHistorian.exe /UnregServer
"$here/tools/wine-prefix.sh" stop "$prefix"
trap - EXIT
[ $ua_status = 0 ] || { echo "the OPC UA reads did not agree with DCOM ($arch)" >&2; exit 1; }
}

for arch in ${built[@]+"${built[@]}"}; do
  if [ $arch = i686 ]; then session i686 "$base"; else session x86_64 "${base%/}64"; fi
done

#!/usr/bin/env bash
# The benchmark command: installs what is missing, configures and builds like
# tools/test.sh, then runs every benchmark under Wine in the build folder's
# own prefix and stops its wineserver. Results go to stdout as Markdown
# table rows and to <build>/bench-results.md.
#   tools/bench.sh [--arch i686|x86_64] [--only PROGRAMS] [build-dir] [-- benchmark arguments, e.g. --quick or --max N]
# (default i686 in build; x86_64 in build64). --only: the benchmark programs
# to run, separated by commas (default: all but the memory soak; the soak is
# --only soak_client, see BENCHMARKS.md).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
arch=i686
programs="engine_bench addrspace_bench xproc_bench async_bench aggregate_bench"
if [ "${1:-}" = "--arch" ]; then arch=${2:?architecture}; shift 2; fi
if [ "${1:-}" = "--only" ]; then programs=${2:?benchmark programs}; programs=${programs//,/ }; shift 2; fi
build=$here/build
[ "$arch" = x86_64 ] && build=$here/build64
if [ $# -gt 0 ] && [ "$1" != "--" ]; then build=$1; shift; fi
build=$("$here/tools/build-folder.sh" "$build")
[ "${1:-}" = "--" ] && shift
args=("$@")

"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-$arch.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
wine=$("$here/tools/wine32.sh" loader "$arch") || { echo "this machine cannot run $arch programs" >&2; exit 1; }
emulated=""
[ $arch = i686 ] && [ "$("$here/tools/wine32.sh" mode)" = emulated ] && emulated=", 32-bit half emulated (qemu-i386): not a Windows figure"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" OANOCACHE=1
trap '"$here/tools/wine-prefix.sh" stop "$WINEPREFIX" || true' EXIT
"$here/tools/wine-prefix.sh" setup "$WINEPREFIX" "$build/bin"

out="$build/bench-results.md"
{
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$wine" --version), $arch$emulated"
  echo "Command: tools/bench.sh --arch $arch --only ${programs// /,} ${args[*]:-}"
  echo
  echo "| benchmark | figure | value | goal | met |"
  echo "| --- | --- | --- | --- | --- |"
} | tee "$out"
status=0
cd "$build/bin"
for b in $programs; do
  [ -f "$b.exe" ] || { echo "no benchmark $b" >&2; status=1; continue; }
  "$wine" "$b.exe" "${args[@]}" </dev/null | tr -d '\r' | tee -a "$out" || status=1
done
exit $status

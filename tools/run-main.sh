#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and the sample
# host, and runs the host under Wine in the build folder's own prefix.
#   tools/run-main.sh [build-dir]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
"$here/tools/wine-prefix.sh" setup "$build/wineprefix" "$build/bin"
status=0
# Wine may note on stderr that a thread of the ending process lost its server
# connection ("wine client error: ... write"); that teardown note is dropped.
(cd "$build/bin" && WINEPREFIX="$build/wineprefix" WINEDEBUG=-all wine mini_host.exe) \
  2> >(grep -v '^wine client error' >&2) || status=$?
"$here/tools/wine-prefix.sh" stop "$build/wineprefix"
exit $status

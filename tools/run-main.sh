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
(cd "$build/bin" && WINEPREFIX="$build/wineprefix" WINEDEBUG=-all wine mini_host.exe) || status=$?
"$here/tools/wine-prefix.sh" stop "$build/wineprefix"
exit $status

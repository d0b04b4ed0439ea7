#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds everything
# and runs every test under Wine in the build folder's own prefix.
#   tools/test.sh [build-dir]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$("$here/tools/build-folder.sh" "${1:-$here/build}")

"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
status=0
ctest --output-on-failure --timeout 600 || status=$?
# Whatever happened, nothing of Wine stays behind.
"$here/tools/wine-prefix.sh" stop "$build/wineprefix" || true
exit $status

#!/usr/bin/env bash
# The test command: installs what is missing, configures and builds everything
# for both architectures (i686 in <build>, x86_64 in <build>64) and runs every
# test under Wine, each architecture in its own build folder's prefix.
#   tools/test.sh [build-dir]      (default: build; the x86_64 build goes to build64)
# The i686 tests run while the x86_64 build compiles. A machine that cannot
# execute 32-bit programs (Wine's 32-bit loader fails to start) builds the
# i686 products but cannot run their tests: the command says so and runs the
# x86_64 tests only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$("$here/tools/build-folder.sh" "${1:-$here/build}")
build64=${build%/}64
jobs=$(nproc)

# The library's layers run one way (see the README's layout); checked first,
# it needs no build.
"$here/tools/check-layers.sh"

"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake -S "$here" -B "$build64" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-x86_64.cmake" >/dev/null

status=0
stop_all() {
  "$here/tools/wine-prefix.sh" stop "$build/wineprefix" || true
  "$here/tools/wine-prefix.sh" stop "$build64/wineprefix" || true
}
trap stop_all EXIT

cmake --build "$build" -j "$jobs"

run32=yes
if ! "$here/tools/wine-prefix.sh" loader i686 - >/dev/null; then
  run32=no
  echo "NOTE: this machine cannot start Wine's 32-bit loader ('wine --version' fails);" \
       "the i686 products are built but their tests do not run here." >&2
fi

i686_log="$build/ctest-i686.log"
if [ "$run32" = yes ]; then
  # The i686 tests mostly wait on Wine; they run while x86_64 compiles.
  (cd "$build" && ctest --output-on-failure --timeout 600 >"$i686_log" 2>&1) &
  i686_pid=$!
fi
build64_status=0
cmake --build "$build64" -j "$jobs" || build64_status=$?

if [ "$run32" = yes ]; then
  i686_status=0
  wait "$i686_pid" || i686_status=$?
  echo "== i686 tests"
  cat "$i686_log"
  [ "$i686_status" -eq 0 ] || status=$i686_status
fi
if [ "$build64_status" -ne 0 ]; then
  exit "$build64_status"
fi
echo "== x86_64 tests"
(cd "$build64" && ctest --output-on-failure --timeout 600) || status=$?
exit $status

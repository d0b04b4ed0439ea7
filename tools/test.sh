#!/usr/bin/env bash
# The test command: installs what is missing, configures and builds everything
# for both architectures (i686 in <build>, x86_64 in <build>64) and runs every
# test under Wine, each architecture in its own build folder's prefix, then
# the cross-architecture tests (a 64-bit client against the 32-bit historian
# and a 32-bit client against the 64-bit one).
#   tools/test.sh [--arch i686|x86_64] [-R REGEX] [build-dir]
#     --arch   build and test one architecture only (no cross-architecture tests)
#     -R       run only the test programs whose ctest name matches REGEX
#              (one case of a program: run it by hand, see the README)
#     build-dir  default: build; the x86_64 build goes to build64
# The i686 tests run while the x86_64 build compiles. 32-bit programs run
# natively or under emulation (tools/wine32.sh); on a machine where they
# cannot run at all, the i686 products are built but their tests do not run:
# the command says so and runs the x86_64 tests only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
archs="i686 x86_64"
filter=()
requested=""
while [ $# -gt 0 ]; do
  case "$1" in
  --arch) archs=${2:?architecture}; shift 2
          case "$archs" in i686|x86_64) ;; *) echo "unknown architecture $archs" >&2; exit 2;; esac ;;
  -R) filter=(-R "${2:?regular expression}"); shift 2 ;;
  -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
  *) requested=$1; shift ;;
  esac
done
build=$("$here/tools/build-folder.sh" "${requested:-$here/build}")
build64=${build%/}64
jobs=$(nproc)
dir_of() { if [ "$1" = i686 ]; then echo "$build"; else echo "$build64"; fi; }
want() { case " $archs " in *" $1 "*) return 0;; esac; return 1; }

# The library's layers run one way (see the README's layout); checked first,
# it needs no build.
"$here/tools/check-layers.sh"

"$here/tools/install-deps.sh"
run32=yes
if ! "$here/tools/wine32.sh" loader i686 >/dev/null; then
  run32=no
  want i686 && echo "NOTE: 32-bit Windows programs cannot run on this machine (tools/wine32.sh found no way);" \
       "the i686 products are built but their tests do not run here." >&2
fi
cross=no
want i686 && want x86_64 && [ $run32 = yes ] && cross=yes

for arch in i686 x86_64; do
  want $arch || continue
  other=""
  [ $cross = yes ] && { if [ $arch = i686 ]; then other=$build64/bin; else other=$build/bin; fi; }
  cmake -S "$here" -B "$(dir_of $arch)" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-$arch.cmake" \
        -DZQ_OTHER_ARCH_BIN="$other" >/dev/null
done

status=0
summary=$(mktemp)
stop_all() {
  "$here/tools/wine-prefix.sh" stop "$build/wineprefix" || true
  "$here/tools/wine-prefix.sh" stop "$build64/wineprefix" || true
}
trap 'stop_all; rm -f "$summary"' EXIT

# ctest_of ARCH [ctest options]: one architecture's tests, with the filter
# (its output is kept for the closing count)
ctest_of() {
  local dir; dir=$(dir_of "$1"); shift
  set -o pipefail
  (cd "$dir" && ctest --output-on-failure --timeout 900 ${filter[@]+"${filter[@]}"} "$@") 2>&1 |
    tee -a "$summary"
}

i686_pid=""
if want i686; then
  cmake --build "$build" -j "$jobs"
  if [ $run32 = yes ]; then
    # The i686 tests mostly wait on Wine; they run while x86_64 compiles.
    i686_log="$build/ctest-i686.log"
    start=$(date +%s)
    (rc=0; ctest_of i686 -LE cross >"$i686_log" 2>&1 || rc=$?
     echo "(i686 suite: $(( $(date +%s) - start )) s)" >>"$i686_log"; exit $rc) &
    i686_pid=$!
  fi
fi
build64_status=0
if want x86_64; then
  cmake --build "$build64" -j "$jobs" || build64_status=$?
fi
if [ -n "$i686_pid" ]; then
  i686_status=0
  wait "$i686_pid" || i686_status=$?
  echo "== i686 tests"
  cat "$i686_log"
  [ "$i686_status" -eq 0 ] || status=$i686_status
fi
[ "$build64_status" -eq 0 ] || exit "$build64_status"
if want x86_64; then
  echo "== x86_64 tests"
  start=$(date +%s)
  ctest_of x86_64 -LE cross || status=$?
  echo "(x86_64 suite: $(( $(date +%s) - start )) s)"
fi
if [ $cross = yes ]; then
  # Both historians and both proxy/stub DLLs are registered in one prefix;
  # each build's client reaches the other build's historian.
  for arch in x86_64 i686; do
    echo "== cross-architecture tests: $arch client"
    ctest_of $arch -L cross || status=$?
  done
fi
# One closing count over every run above (the fixtures included).
grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$summary" |
  awk '{ f += $4; t += $NF } END { printf "tests: %d passed, %d failed\n", t - f, f }'
[ $run32 = yes ] || ! want i686 || echo "(the i686 tests did not run: no way to run 32-bit programs here)"
exit $status

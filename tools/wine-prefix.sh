#!/usr/bin/env bash
# Manages the private Wine prefix of a build folder.
#   wine-prefix.sh setup PREFIX [BINDIR]  create the prefix if needed, start one
#                                          persistent, pre-warmed wineserver and
#                                          register the proxy/stub DLLs in BINDIR
#   wine-prefix.sh stop PREFIX             end that prefix's wineserver and wait
#   wine-prefix.sh loader ARCH -           print the Wine loader for i686 or x86_64
#                                          programs; exit 1 if this machine cannot
#                                          start it
# Every Wine process started here has its standard streams on /dev/null, so that
# background Wine processes never hold the caller's output pipe open.
# ZQ_WINE names the Wine loader of the build's architecture (default `wine`;
# the x86_64 build passes Wine's 64-bit loader): the prefix is a 64-bit one
# either way, and regsvr32 runs with the bitness of that loader, so each
# proxy/stub DLL lands in the registry view of its own bitness.
set -u
cmd=${1:?command}; prefix=${2:?prefix}
# Wine wants an absolute prefix; a relative one is taken from here (for
# `loader` the second word is an architecture).
[ "$cmd" = loader ] || prefix=$(realpath -m -- "$prefix")
wine=${ZQ_WINE:-wine}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "$cmd" in
loader)
  # Debian's `wine` starts the 32-bit loader, which needs a machine that can
  # execute 32-bit programs; 64-bit programs can go to the 64-bit loader directly.
  case "$prefix" in
  i686) candidates="wine" ;;
  x86_64) candidates="/usr/lib/wine/wine64 /usr/lib64/wine/wine64 wine64 wine" ;;
  *) echo "unknown architecture $prefix" >&2; exit 2 ;;
  esac
  for c in $candidates; do
    if command -v "$c" >/dev/null 2>&1 && env -u WINEPREFIX "$c" --version </dev/null >/dev/null 2>&1; then
      command -v "$c"; exit 0
    fi
  done
  exit 1
  ;;
setup)
  bindir=${3:-}
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    # No display here: let top-level windows be created by the null driver.
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # A crashing test program ends at once instead of starting the debugger,
    # which would hold the test's output pipe until ctest's time-out.
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
      </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  if [ -n "$bindir" ]; then
    for ps in "$bindir"/*_ps.dll; do
      [ -e "$ps" ] || continue
      "$wine" regsvr32 /s "$ps" </dev/null >/dev/null 2>&1 || { echo "regsvr32 $ps failed"; exit 1; }
    done
  fi
  exit 0
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  exit 0
  ;;
*)
  echo "unknown command $cmd" >&2; exit 2;;
esac

#!/usr/bin/env bash
# Manages the private Wine prefix of a build folder.
#   wine-prefix.sh setup PREFIX [BINDIR...] create the prefix if needed, start one
#                                          persistent, pre-warmed wineserver and
#                                          register the proxy/stub DLLs in each BINDIR,
#                                          each with the regsvr32 of its own bitness
#   wine-prefix.sh stop PREFIX             end that prefix's wineserver and wait
#   wine-prefix.sh loader ARCH -           print the Wine loader for i686 or x86_64
#                                          programs; exit 1 if this machine cannot
#                                          run them (tools/wine32.sh)
# Every Wine process started here has its standard streams on /dev/null, so that
# background Wine processes never hold the caller's output pipe open.
# Every prefix is a 64-bit one, made by the 64-bit loader of tools/wine32.sh,
# so that its 32-bit half is there wherever 32-bit programs can run (natively
# or emulated). ZQ_WINE, the loader of the build's architecture, is accepted
# for compatibility and no longer needed.
set -u
cmd=${1:?command}; prefix=${2:?prefix}
# Wine wants an absolute prefix; a relative one is taken from here (for
# `loader` the second word is an architecture).
[ "$cmd" = loader ] || prefix=$(realpath -m -- "$prefix")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

here=$(cd "$(dirname "$0")/.." && pwd)
# pe_machine FILE: 014c (i386), 8664 (x86_64), nothing for anything else
pe_machine() {
  local f=$1
  set -- $(od -An -tu1 -N64 "$f" 2>/dev/null)
  [ $# -eq 64 ] && [ "$1" = 77 ] && [ "$2" = 90 ] || return 0
  shift 60
  od -An -tx2 -j$(($1 + $2 * 256 + $3 * 65536 + $4 * 16777216 + 4)) -N2 "$f" 2>/dev/null | tr -d ' '
}

case "$cmd" in
loader)
  exec "$here/tools/wine32.sh" loader "$prefix"
  ;;
setup)
  shift 2
  wine64=$("$here/tools/wine32.sh" loader x86_64) || { echo "no 64-bit Wine loader" >&2; exit 1; }
  wine32=$("$here/tools/wine32.sh" loader i686) || wine32=""
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    "$wine64" wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    # No display here: let top-level windows be created by the null driver.
    "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # A crashing test program ends at once instead of starting the debugger,
    # which would hold the test's output pipe until ctest's time-out.
    for view in /reg:64 /reg:32; do
      "$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f $view \
        </dev/null >/dev/null 2>&1
    done
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  "$wine64" cmd /c exit </dev/null >/dev/null 2>&1
  # Wine's desktop process starts with the first window of any program and
  # inherits that program's output streams, holding a test's output pipe
  # open until the wineserver ends: start it here, on /dev/null.
  "$wine64" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
  for bindir in "$@"; do
    for ps in "$bindir"/*_ps.dll; do
      [ -e "$ps" ] || continue
      case $(pe_machine "$ps") in
      014c|14c) loader=$wine32 ;;
      8664) loader=$wine64 ;;
      *) echo "$ps is no Windows DLL" >&2; exit 1 ;;
      esac
      [ -n "$loader" ] || { echo "note: $ps not registered: 32-bit programs cannot run here" >&2; continue; }
      "$loader" regsvr32 /s "$ps" </dev/null >/dev/null 2>&1 || { echo "regsvr32 $ps failed"; exit 1; }
    done
  done
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

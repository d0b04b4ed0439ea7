#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine: the mingw-w64
# i686 and x86_64 cross compilers and IDL compilers, 64-bit Wine, the
# GoogleTest sources, CMake, Ninja and rsvg-convert (the tests render the
# client's SVG plots with it), then makes sure 32-bit Windows programs run
# (tools/wine32.sh: natively with Debian's wine32:i386, or emulated), makes
# the OPC UA stack's amalgamation (tools/open62541.sh) and installs the
# OPC UA test client, node-opcua, into tests/ua from its lock file.
# Idempotent and non-interactive; waits for another package installation to
# finish.
# It fails only when a package it needs cannot be installed, and names it
# (tools/apt-lib.sh).
#   install-deps.sh [--no-wine32]   (--no-wine32: leave 32-bit execution alone)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
wine32=yes
[ "${1:-}" = --no-wine32 ] && wine32=no

. "$here/tools/apt-lib.sh"

apt_install g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686 \
            g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
            libwine-dev googletest cmake ninja-build wine wine64 python3 librsvg2-bin nodejs
export ZQ_APT_UPDATED=${ZQ_APT_UPDATED:-}

if [ $wine32 = yes ]; then
  "$here/tools/wine32.sh" ensure
fi
"$here/tools/open62541.sh" ensure
# node-opcua, as the lock file has it (npm ci); done again only when the lock
# file changed.
ua=$here/tests/ua
if ! cmp -s "$ua/package-lock.json" "$ua/node_modules/.package-lock.json.installed" 2>/dev/null; then
  (cd "$ua" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$ua/package-lock.json" "$ua/node_modules/.package-lock.json.installed"
fi

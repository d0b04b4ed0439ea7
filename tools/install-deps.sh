#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine: the mingw-w64
# i686 and x86_64 cross compilers and IDL compilers, Wine (64-bit with its
# 32-bit half), the GoogleTest sources, CMake, Ninja and rsvg-convert (the
# tests render the client's SVG plots with it). Idempotent and
# non-interactive; waits for another package installation to finish.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
         libwine-dev googletest cmake ninja-build wine wine64 python3 librsvg2-bin; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386")

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
apt=(apt-get -o DPkg::Lock::Timeout=600)
$SUDO "${apt[@]}" update -qq
$SUDO "${apt[@]}" install -y -qq --no-install-recommends "${need[@]}"

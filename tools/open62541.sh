#!/usr/bin/env bash
# The OPC UA stack of the library's OPC UA endpoint: open62541 1.4, as
# Debian's source package, turned into one amalgamated file (open62541.c and
# open62541.h) that the build compiles for both architectures. Its sources
# are never part of the repository.
#   tools/open62541.sh ensure   fetch and generate unless already there
#   tools/open62541.sh dir      print the folder (ZQ_OPEN62541_DIR, default
#                               /var/cache/zqhda/open62541)
# The package comes through a deb-src list of its own (the machine's apt
# sources are left alone), trying several suites until one serves a 1.4
# release. The amalgamation is made for Windows without PubSub, encryption,
# discovery and the nodeset loader, with the history services, then
# patched (tools/open62541/patch_amalgamation.py).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${ZQ_OPEN62541_DIR:-/var/cache/zqhda/open62541}
suites="sid forky trixie"
# What the generated files depend on: a change here regenerates them.
stamp_of() {
  cat "$here/tools/open62541.sh" "$here/tools/open62541/patch_amalgamation.py" | sha256sum | cut -c1-16
}

case "${1:-}" in
dir) echo "$dir"; exit 0 ;;
ensure) ;;
*) sed -n '2,13p' "$0"; exit 2 ;;
esac

stamp=$(stamp_of)
if [ -f "$dir/open62541.c" ] && [ -f "$dir/open62541.h" ] && [ "$(cat "$dir/STAMP" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

. "$here/tools/apt-lib.sh"
apt_install cmake ninja-build python3 gcc-mingw-w64-x86-64-posix

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/src"
found=""
for suite in $suites; do
  echo "deb-src http://deb.debian.org/debian $suite main" > "$work/sources.list"
  opts=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o Dir::State::Lists="$work/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" -qq update >/dev/null 2>&1 || { echo "open62541: no source index from $suite" >&2; continue; }
  rm -f "$work"/src/*
  if ! (cd "$work/src" && apt-get "${opts[@]}" -qq source --download-only open62541 >/dev/null 2>&1); then
    echo "open62541: $suite did not serve the source package" >&2
    continue
  fi
  dsc=$(ls "$work"/src/open62541_*.dsc 2>/dev/null | head -1 || true)
  version=$(sed -n 's/^Version: //p' "$dsc" 2>/dev/null | head -1)
  case "$version" in
  1.4.*) found=$suite; break ;;
  *) echo "open62541: $suite has version '${version:-none}', not 1.4" >&2 ;;
  esac
done
[ -n "$found" ] || { echo "open62541: no suite of $suites served a 1.4 source package" >&2; exit 1; }
upstream=${version%-*}
echo "open62541: $version from $found"

tar -xzf "$work/src/open62541_${upstream}.orig.tar.gz" -C "$work"
srcdir=$(ls -d "$work"/open62541-*/ | head -1)
cat > "$work/toolchain.cmake" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
TC
# One amalgamation serves both architectures (the stack's Windows code
# decides on _WIN64 where it matters).
cmake -S "$srcdir" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DOPEN62541_VERSION="v$upstream" -DCMAKE_BUILD_TYPE=Release \
  -DUA_ENABLE_AMALGAMATION=ON -DUA_ENABLE_HISTORIZING=ON \
  -DUA_ENABLE_PUBSUB=OFF -DUA_ENABLE_PUBSUB_INFORMATIONMODEL=OFF -DUA_ENABLE_ENCRYPTION=OFF \
  -DUA_ENABLE_DISCOVERY=OFF -DUA_ENABLE_NODESETLOADER=OFF -DUA_ENABLE_MQTT=OFF \
  -DUA_BUILD_EXAMPLES=OFF -DUA_LOGLEVEL=400 >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }
ninja -C "$work/build" open62541-amalgamation-source open62541-amalgamation-header >"$work/generate.log" 2>&1 ||
  { cat "$work/generate.log" >&2; exit 1; }
python3 "$here/tools/open62541/patch_amalgamation.py" "$work/build"
mkdir -p "$dir"
cp "$work/build/open62541.c" "$work/build/open62541.h" "$dir/"
cp "$srcdir/LICENSE" "$dir/LICENSE"
echo "$version" > "$dir/VERSION"
echo "$stamp" > "$dir/STAMP"
echo "open62541: amalgamation in $dir"

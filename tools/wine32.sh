#!/usr/bin/env bash
# 32-bit (i686) Windows programs under Wine: finds out whether they run on this
# machine and, where they cannot natively, arranges user-mode emulation of
# Wine's 32-bit half.
#   wine32.sh ensure        find or arrange 32-bit execution (idempotent; says what it found)
#   wine32.sh loader ARCH   print the Wine loader for i686 or x86_64 programs; exit 1 if
#                           this machine cannot run ARCH programs
#   wine32.sh mode          print native, emulated or none (what ensure found last)
#
# The test is a tiny i686 Windows program that must print a line and exit; a
# loader that merely answers `--version` proves nothing. In order:
#  1. native: Debian's wine32:i386 (installed when this machine executes 32-bit
#     code, which a hand-made 32-bit ELF program tells; never installed where
#     it cannot run);
#  2. emulated: the whole 32-bit half of Wine runs under qemu-i386 while 64-bit
#     Wine stays native, with one prefix and one wineserver for both:
#     - qemu-i386 10.x, the static binary of Debian 13's qemu-user package,
#       unpacked with a private apt configuration (Debian 12's 7.2 spends about
#       a minute on every process start: its mmap bookkeeping is linear in the
#       address space, and Wine's start-up maps a great deal);
#     - binfmt_misc sends i386 ELF programs to it (registered again on every
#       run: it does not survive a reboot);
#     - an i386 Debian 12 tree (debootstrap, main only) holding wine32 at
#       exactly the version of the host's wine64 (the wineserver protocol must
#       match), used without chroot through QEMU_LD_PREFIX;
#     - a view of the host's 64-bit Wine made of hard links, whose 32-bit
#       loader is a shim that hands 32-bit images to the emulated loader:
#       64-bit Wine looks for the 32-bit loader beside itself, so 64-bit
#       programs of that view can start 32-bit ones (and COM can start a
#       32-bit server for a 64-bit client).
#     All of it lives in a machine-level cache folder, $ZQ_WINE32_DIR (default
#     /var/cache/zqhda/wine32), never in a checkout or build folder: about
#     1 GB and 6 minutes from nothing, a second or so afterwards.
#  3. none: 32-bit programs cannot run; the x86_64 ones still do.
# Prefixes used with the emulation must be created with it in place (a
# prefix made without it has no 32-bit half: "could not load kernel32.dll").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
C=${ZQ_WINE32_DIR:-/var/cache/zqhda/wine32}
E=$C/emu
ROOT=$E/root              # the i386 tree with wine32
VIEW=$E/host64/usr        # hard-linked view of the host's 64-bit Wine
QEMU=$E/qemu/usr/bin/qemu-i386
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=zqhda-i386
say() { echo "wine32: $*" >&2; }

wine_version() { dpkg-query -W -f='${Version}' wine64 2>/dev/null || true; }

# -- what ensure decided, for `loader` ------------------------------------------
mode_now() {
  local m v
  [ -f "$C/mode" ] || { echo none; return; }
  read -r m v <"$C/mode" || true
  if [ "$v" != "$(wine_version)" ]; then echo none; else echo "${m:-none}"; fi
}
print_loader() {  # print_loader ARCH
  local m; m=$(mode_now)
  case "$1" in
  i686)
    case "$m" in
    native) command -v wine ;;
    emulated) echo "$VIEW/bin/wine" ;;
    *) return 1 ;;
    esac ;;
  x86_64)
    if [ "$m" = emulated ]; then echo "$VIEW/lib/wine/wine64"; return; fi
    local c
    for c in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 "$(command -v wine64 || true)"; do
      [ -n "$c" ] && [ -x "$c" ] && { echo "$c"; return; }
    done
    return 1 ;;
  *) echo "unknown architecture $1" >&2; return 2 ;;
  esac
}

case "${1:-}" in
loader) print_loader "${2:?architecture}"; exit ;;
mode) mode_now; exit 0 ;;
ensure) ;;
*) echo "usage: wine32.sh ensure | loader ARCH | mode" >&2; exit 2 ;;
esac

if [ "$(id -u)" != 0 ]; then exec sudo -E "$0" "$@"; fi
. "$here/tools/apt-lib.sh"
mkdir -p "$C"
V=$(wine_version)
[ -n "$V" ] || { say "wine64 is not installed"; exit 1; }

# -- the probe: an i686 Windows program that prints a line and exits -----------
probe_exe=$C/probe32.exe
if [ ! -s "$probe_exe" ]; then
  printf '#include <stdio.h>\nint main(void) { puts("zqhda 32-bit probe"); return 0; }\n' >"$C/probe32.c"
  i686-w64-mingw32-gcc -O1 -s -o "$probe_exe.tmp" "$C/probe32.c"
  mv -f "$probe_exe.tmp" "$probe_exe"
fi

# probe LOADER64 LOADER32 NAME: runs the probe in a prefix of its own (made
# with LOADER64, kept for the next run) and ends that prefix's wineserver.
probe() {
  local prefix=$C/prefix-$3 out status=0
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    timeout 600 "$1" wineboot -i </dev/null >/dev/null 2>&1 || true
    timeout 300 wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
  out=$(timeout 300 "$2" "$probe_exe" </dev/null 2>/dev/null | tr -d '\r') || status=$?
  timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
  timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
  unset WINEPREFIX
  [ $status = 0 ] && [ "$out" = "zqhda 32-bit probe" ]
}
decide() { echo "$1 $V" >"$C/mode"; say "$2"; exit 0; }

# -- 1. native ---------------------------------------------------------------
real_wine32() { [ -x /usr/lib/wine/wine ] && ! grep -q 'zqhda wine32 shim' /usr/lib/wine/wine 2>/dev/null; }
if real_wine32 && probe /usr/lib/wine/wine64 "$(command -v wine)" native; then
  decide native "32-bit Windows programs run natively (wine32:i386)"
fi

# Does this machine execute 32-bit x86 code? A 32-bit ELF program of 96 bytes
# that exits with 42 through int 0x80 tells (with the emulation's binfmt
# entry, if any, switched off meanwhile).
elf32_runs() {
  local f=$C/exit42-i386 rc=0 was=""
  python3 - "$f" <<'EOF'
import struct, sys
code = bytes([0xb8, 1, 0, 0, 0, 0xbb, 42, 0, 0, 0, 0xcd, 0x80])  # exit(42)
base, size = 0x08048000, 52 + 32 + 12
ehdr = struct.pack('<4sBBBBB7sHHIIIIIHHHHHH', b'\x7fELF', 1, 1, 1, 0, 0, b'\0' * 7, 2, 3, 1,
                   base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
phdr = struct.pack('<IIIIIIII', 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], 'wb').write(ehdr + phdr + code)
EOF
  chmod 755 "$f"
  if [ -f "$BINFMT/$ENTRY" ] && grep -qx enabled "$BINFMT/$ENTRY"; then was=yes; echo 0 >"$BINFMT/$ENTRY"; fi
  "$f" 2>/dev/null || rc=$?
  [ -n "$was" ] && echo 1 >"$BINFMT/$ENTRY"
  [ $rc = 42 ]
}

if ! real_wine32 && elf32_runs; then
  say "this machine executes 32-bit code: installing wine32:i386"
  dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; ZQ_APT_UPDATED=; }
  if apt_install "wine32:i386" && probe /usr/lib/wine/wine64 "$(command -v wine)" native; then
    decide native "32-bit Windows programs run natively (wine32:i386)"
  fi
  say "wine32:i386 did not come or does not run; trying the emulation"
fi

# -- 2. emulated ---------------------------------------------------------------
arrange_emulation() {
  local mirror
  mirror=$( { sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
              awk '$1 == "deb" {print $2}' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
            } | tr ' ' '\n' | grep -v -- '-security' | grep . | head -1 || true)
  [ -n "$mirror" ] || { say "no Debian mirror in the apt sources"; return 1; }
  apt_install debootstrap python3 || return 1
  mkdir -p "$E"

  # qemu-i386 10.x, static: unpacked from Debian 13's qemu-user, nothing installed
  if ! "$QEMU" --version 2>/dev/null | grep -q 'version 1[0-9]\.'; then
    say "fetching qemu-i386 from Debian 13's qemu-user"
    local a=$E/apt
    rm -rf "$a"; mkdir -p "$a/lists/partial" "$a/cache/archives/partial" "$a/deb"
    echo "deb $mirror trixie main" >"$a/sources.list"
    local o=(-o Dir::Etc::sourcelist="$a/sources.list" -o Dir::Etc::sourceparts=- -o Dir::State::Lists="$a/lists"
             -o Dir::Cache="$a/cache" -o APT::Architectures::=amd64 -o Acquire::Languages=none
             -o APT::Sandbox::User=root -o Acquire::Retries=2)
    apt-get "${o[@]}" update -qq || { say "the trixie package list did not come"; return 1; }
    (cd "$a/deb" && apt-get "${o[@]}" download qemu-user/trixie) || { say "qemu-user did not come"; return 1; }
    mkdir -p "$E/qemu"
    dpkg-deb --fsys-tarfile "$a/deb"/qemu-user_*.deb | tar -x -C "$E/qemu" ./usr/bin/qemu-i386
    rm -rf "$a"
    "$QEMU" --version | head -1 >&2
  fi

  # binfmt_misc: i386 ELF programs (executables and shared objects) go to qemu.
  # O: the program is handed over open, P: argv[0] is kept (qemu recognises
  # it by the -binfmt-P ending of its own name), F: qemu is opened now.
  mountpoint -q "$BINFMT" || mount -t binfmt_misc binfmt_misc "$BINFMT"
  echo 1 >"$BINFMT/status"
  ln -sfn "$QEMU" "$E/i386-binfmt-P"
  [ -e "$BINFMT/$ENTRY" ] && echo -1 >"$BINFMT/$ENTRY"
  printf '%s' ":$ENTRY:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$E/i386-binfmt-P:OPF" \
    >"$BINFMT/register"

  # the i386 tree (main only, so that its versions match the host's)
  if [ ! -e "$ROOT/.zqhda-debootstrap-done" ]; then
    say "making an i386 Debian 12 tree under emulation (about 5 minutes)"
    mountpoint -q "$ROOT/proc" 2>/dev/null && umount "$ROOT/proc"
    rm -rf "$ROOT"
    debootstrap --variant=minbase --arch=i386 bookworm "$ROOT" "$mirror" >"$E/debootstrap.log" 2>&1 \
      || { say "debootstrap failed (see $E/debootstrap.log)"; return 1; }
    touch "$ROOT/.zqhda-debootstrap-done"
  fi
  local have
  have=$(chroot "$ROOT" dpkg-query -W -f='${Version}' wine32 2>/dev/null || true)
  if [ "$have" != "$V" ]; then
    say "installing wine32=$V in the i386 tree (about 4 minutes)"
    mountpoint -q "$ROOT/proc" || mount -t proc proc "$ROOT/proc"
    local ok=yes
    { chroot "$ROOT" apt-get -o Acquire::Retries=2 update -qq || true
      chroot "$ROOT" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "wine32=$V"
      chroot "$ROOT" apt-get clean; } >"$E/wine32-install.log" 2>&1 || ok=no
    umount "$ROOT/proc" || true
    [ $ok = yes ] || { say "wine32=$V cannot be installed in the i386 tree (see $E/wine32-install.log)"; return 1; }
  fi

  # the view of the host's 64-bit Wine, made again when the host's Wine changed
  if [ "$(cat "$E/host64.version" 2>/dev/null)" != "$V" ] || [ ! -x "$VIEW/lib/wine/wine64" ]; then
    rm -rf "$E/host64"
    mkdir -p "$VIEW/lib/wine" "$VIEW/lib/x86_64-linux-gnu" "$VIEW/share" "$VIEW/bin"
    cp -al /usr/lib/x86_64-linux-gnu/wine "$VIEW/lib/x86_64-linux-gnu/" 2>/dev/null \
      || cp -a /usr/lib/x86_64-linux-gnu/wine "$VIEW/lib/x86_64-linux-gnu/"
    cp -al /usr/share/wine "$VIEW/share/" 2>/dev/null || cp -a /usr/share/wine "$VIEW/share/"
    cp -a /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$VIEW/lib/wine/"
    echo "$V" >"$E/host64.version"
  fi
  # The shim in the place of the 32-bit loader: a 64-bit program goes
  # straight to the native 64-bit loader (what the 32-bit one would do
  # anyway, minus an emulated start); everything else, and every start by
  # 64-bit Wine itself (WINESERVERSOCKET set), to the emulated 32-bit loader,
  # which always uses the native wineserver.
  sed -e "s|@ROOT@|$ROOT|g" -e "s|@WINE64@|$VIEW/lib/wine/wine64|g" >"$VIEW/lib/wine/wine.tmp" <<'EOF'
#!/bin/sh
# zqhda wine32 shim (written by tools/wine32.sh): Wine's 32-bit loader, emulated.
machine() {  # the PE machine field of a file: 014c (i386), 8664 (x86_64); nothing otherwise
  [ -f "$1" ] && [ -r "$1" ] || return 0
  f=$1
  set -- $(od -An -tu1 -N64 "$f" 2>/dev/null)
  [ $# -eq 64 ] && [ "$1" = 77 ] && [ "$2" = 90 ] || return 0
  shift 60
  od -An -tx2 -j$(($1 + $2 * 256 + $3 * 65536 + $4 * 16777216 + 4)) -N2 "$f" 2>/dev/null | tr -d ' '
}
if [ -z "$WINESERVERSOCKET" ] && [ "$(machine "$1")" = 8664 ]; then
  export WINELOADER=@WINE64@
  exec @WINE64@ "$@"
fi
export QEMU_LD_PREFIX=@ROOT@
export WINESERVER="${WINESERVER:-/usr/lib/wine/wineserver64}"
exec @ROOT@/usr/lib/wine/wine "$@"
EOF
  chmod 755 "$VIEW/lib/wine/wine.tmp"; mv -f "$VIEW/lib/wine/wine.tmp" "$VIEW/lib/wine/wine"
  printf '#!/bin/sh\n# like /usr/bin/wine with wine32 installed\nexec %s "$@"\n' "$VIEW/lib/wine/wine" >"$VIEW/bin/wine"
  chmod 755 "$VIEW/bin/wine"
  ln -sfn "$VIEW/lib/wine/wine64" "$VIEW/bin/wine64"
  ln -sfn /usr/lib/wine/wineserver "$VIEW/bin/wineserver"
  # inside the tree, the 64-bit loader and the wineserver are the host's
  ln -sfn "$VIEW/lib/wine/wine64" "$ROOT/usr/lib/wine/wine64"
  ln -sfn /usr/lib/wine/wineserver64 "$ROOT/usr/lib/wine/wineserver64"
}

if arrange_emulation && probe "$VIEW/lib/wine/wine64" "$VIEW/bin/wine" emulated; then
  decide emulated "32-bit Windows programs run under emulation (qemu-i386, cached in $C)"
fi
echo "none $V" >"$C/mode"
say "32-bit Windows programs cannot run on this machine; only the x86_64 programs will run"
exit 0

#!/usr/bin/env bash
# Package installation shared by the set-up scripts (sourced, not run).
#   apt_install PKG...   installs what is missing; names what cannot be installed
#   have_pkg PKG         true when the package is installed
# The package lists are refreshed once per run, and a mirror that is partly out
# of step (an index failing "File has unexpected size ... Mirror sync in
# progress?") does not stop it: `apt-get update` is tried twice and the
# installation goes on with the lists that did come.
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=2)

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# apt_update: refreshes the package lists; a failed index is reported and
# tolerated (what is still missing afterwards is named by apt_install).
apt_update() {
  local try
  for try in 1 2; do
    if $SUDO "${apt[@]}" update -qq; then return 0; fi
    echo "install-deps: apt-get update reported failed indexes (try $try of 2)" >&2
    [ $try = 2 ] || sleep 5
  done
  echo "install-deps: going on with the package lists that did come" >&2
}

# apt_install PKG...: installs the packages that are missing. When the whole
# set cannot be installed, each package is tried on its own so that the
# message names the ones that cannot.
apt_install() {
  local need=() p failed=()
  for p in "$@"; do have_pkg "$p" || need+=("$p"); done
  [ ${#need[@]} -eq 0 ] && return 0
  [ -n "${ZQ_APT_UPDATED:-}" ] || { apt_update; ZQ_APT_UPDATED=1; }
  if $SUDO "${apt[@]}" install -y -qq --no-install-recommends "${need[@]}"; then return 0; fi
  for p in "${need[@]}"; do
    have_pkg "$p" && continue
    $SUDO "${apt[@]}" install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || failed+=("$p")
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "install-deps: cannot install: ${failed[*]}" >&2
    return 1
  fi
}


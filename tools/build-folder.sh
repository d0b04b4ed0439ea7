#!/usr/bin/env bash
# Prints the build folder to use for the requested one.
#   build-folder.sh REQUESTED
# The tests and the main job run Windows programs from the build folder under
# Wine, which sees it as Z:\<path>. COM starts a registered server only when
# its quoted program path fits in MAX_PATH characters, and the programs keep
# their file paths below MAX_PATH too. A requested folder deeper than 200
# characters would fail the tests for its path alone: then a short folder
# under /tmp is used instead, named by a hash of the requested path so that a
# later run finds the same build again, and a note says so on stderr.
set -euo pipefail
requested=${1:?build folder}
case "$requested" in
/*) ;;
*) requested="$(pwd)/$requested" ;;
esac
if [ ${#requested} -le 200 ]; then
  printf '%s\n' "$requested"
  exit 0
fi
short=/tmp/zqhda-build-$(printf '%s' "$requested" | sha1sum | cut -c1-16)
echo "note: the build folder $requested is ${#requested} characters long, too deep for" \
     "Windows programs under Wine; building in $short instead" >&2
printf '%s\n' "$short"

#!/usr/bin/env bash
# Runs a test program (under its Wine loader) with its output going to a
# file, then prints the file and exits with the program's status. A Wine
# background process that starts while the program runs (a service started
# on demand) inherits the program's standard streams: with ctest's pipe as
# those, ctest waited until that process ended, long after the program had
# (seen as a time-out of a test whose every case had passed). With a file,
# ctest sees the end of the output when the program ends.
#   detached-output.sh LOADER PROGRAM [ARGS...]
out=$(mktemp)
"$@" </dev/null >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit $status

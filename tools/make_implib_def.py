#!/usr/bin/env python3
"""Writes a dlltool .def for ZqHDAsvr.dll's import library from its export table.

Decorated stdcall exports (_Name@N) are imported under the C-level name Name@N,
which is what a mingw compiler emits for a __stdcall declaration; C++ exports
(CZqHDACallback) are imported as they are, with data symbols marked DATA. The
plain-name aliases are left out: they serve hosts that bind by name at run time.
"""
import argparse
import re
import subprocess
import sys


def exports(objdump, dll):
    out = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    names, inside = [], False
    for line in out.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            inside = True
            continue
        if inside:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                break
            names.append(m.group(1))
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--dll", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    lines = ["LIBRARY ZqHDAsvr.dll", "EXPORTS"]
    for n in exports(a.objdump, a.dll):
        if re.fullmatch(r"_[A-Za-z0-9_]+@\d+", n):
            lines.append(f"  {n[1:]} == {n}")
        elif n.startswith("_Z"):
            data = n.startswith(("_ZTV", "_ZTI", "_ZTS"))
            lines.append(f"  {n}{' DATA' if data else ''}")
    if len(lines) == 2:
        sys.exit("no exports found in " + a.dll)
    with open(a.out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Corrects the out-parameter type offsets in widl's interpreted (-Oif) proxy code.

widl (7.0 and 8.0 alike) describes an [out] or [in,out] parameter whose pointee
is itself a pointer to a string or to a conformant array (LPWSTR*, LPWSTR**
with size_is(,n), ...) with a type offset that points at the pointee's
descriptor instead of at the top-level FC_RP descriptor that precedes it (the
one flagged allocated-on-stack / pointer-deref). The NDR engine then treats the
parameter as if the caller's pointer itself were the string or array pointer:
strings arrive NULL, string arrays fail or crash, [in,out] strings come back
unchanged.

widl also misplaces the embedded pointer to a sized string array in a struct
([size_is(n), string] LPWSTR *, as in OPCHDA_ANNOTATION): for that field it
writes a unique pointer descriptor followed by the array descriptor, but the
struct's and arrays' pointer layouts point 4 bytes into the array descriptor
instead of at its start. The NDR engine then reads the correlation
descriptor as the array's format (RPC_X_BAD_STUB_DATA across processes).

This tool reads a widl-generated *_p.c, rebuilds the procedure and type format
strings byte by byte from the C initialisers (checking every offset comment
widl wrote against the byte position), walks every procedure and parameter
and, for each non-simple-ref out parameter whose type offset does not name an
FC_RP descriptor, redirects it to the single FC_RP [pointer_deref] descriptor
whose chain leads to the descriptor widl named. It then checks every full
pointer descriptor of the type format string: each must point at the start of
a descriptor. One that points 4 bytes into an array descriptor which widl's
own pointer descriptor of the same field names (the shape above) is
redirected to the array; any other stray target stops the build, as does
anything else that does not have the expected shape. Every change is logged.
The same walk serves 32-bit (--win32) and 64-bit (--win64) format strings.

Under Wine, the interpreted stub never frees the memory it allocates for an
[in, out] structure passed by simple reference whose memory layout is not its
wire layout (FC_BOGUS_STRUCT: OPCHDA_TIME in 64-bit processes, which holds a
pointer): the stub's memory list, which Windows frees after every call, is
never freed there, so a server loses that memory at every call. For each
such parameter that fits the stub's own allocation (ServerAllocSize, at most
56 bytes) the tool writes a function, zq_wine_server_alloc_<file>(), that
sets ServerAllocSize in the parameter's flags, and leaves the procedure
format string writable for it. The proxy/stub DLL calls it when it is loaded
under Wine only; the bytes on the wire and the behaviour on Windows do not
change. Each such parameter is logged.

  fix_widl_proxy.py --in X_p.c --out X_p_fixed.c [--log FILE] [--report-only]

--report-only copies the input unchanged (after the same checks) and logs what
would have been changed; it exists to show what the build is like without the
correction.
"""

import argparse
import re
import sys

# Parameter attribute bits (PARAM_ATTRIBUTES).
IS_PIPE = 0x0004
IS_IN = 0x0008
IS_OUT = 0x0010
IS_RETURN = 0x0020
IS_BASETYPE = 0x0040
IS_BYVALUE = 0x0080
IS_SIMPLE_REF = 0x0100

# Format characters.
FC_RP = 0x11
FC_UP = 0x12
FC_OP = 0x13
FC_FP = 0x14
FC_CARRAY = 0x1b
FC_BOGUS_ARRAY = 0x21
FC_BOGUS_STRUCT = 0x1a
FC_AUTO_HANDLE = 0x33
FC_CALLBACK_HANDLE = 0x34
POINTER_FLAG_SIMPLE = 0x08
POINTER_FLAG_DEREF = 0x10

OI_HAS_RPCFLAGS = 0x08
SERVER_ALLOC_SHIFT = 13   # ServerAllocSize: bits 13-15 of the flags, in 8-byte units
SERVER_ALLOC_MAX = 7
OI2_HAS_EXTENSIONS = 0x40


class ShapeError(Exception):
    """The generated code does not have the shape this tool understands."""


class FormatString:
    """A format string rebuilt from widl's C initialiser."""

    def __init__(self, data, markers, short_sites, first_line, line_starts):
        self.data = data              # bytearray
        self.markers = markers        # offset -> label ('' when none)
        self.short_sites = short_sites  # offset of an NdrFcShort -> line index
        self.first_line = first_line
        self.line_starts = line_starts  # offset of a line's first byte -> (line index, comment)

    def u8(self, off):
        if off < 0 or off >= len(self.data):
            raise ShapeError("offset %d outside the format string" % off)
        return self.data[off]

    def u16(self, off):
        return self.u8(off) | (self.u8(off + 1) << 8)

    def s16(self, off):
        v = self.u16(off)
        return v - 0x10000 if v & 0x8000 else v


TOKEN_SHORT = re.compile(r"^NdrFcShort\(\s*(0x[0-9a-fA-F]+|\d+)\s*\)$")
TOKEN_LONG = re.compile(r"^NdrFcLong\(\s*(0x[0-9a-fA-F]+|\d+)\s*\)$")
TOKEN_BYTE = re.compile(r"^(0x[0-9a-fA-F]+|\d+)$")
MARKER = re.compile(r"^/\*\s*(\d+)\s*(?:\((.*)\))?\s*\*/$")


def format_string_head(kind, const=True):
    return "static %sMIDL_%s_FORMAT_STRING __MIDL_%sFormatString" % (
        "const " if const else "", kind, "Type" if kind == "TYPE" else "Proc")


def parse_format_string(lines, kind):
    """kind is 'TYPE' or 'PROC'."""
    heads = (format_string_head(kind) + " =", format_string_head(kind, False) + " =")
    try:
        start = next(i for i, l in enumerate(lines) if l.strip() in heads)
    except StopIteration:
        raise ShapeError("no %s format string" % kind.lower())
    # Expect: '{', '0,', '{' and then the bytes up to a line '}'.
    expect = ["{", "0,", "{"]
    i = start + 1
    for e in expect:
        if lines[i].strip() != e:
            raise ShapeError("%s format string: expected %r at line %d, found %r"
                             % (kind.lower(), e, i + 1, lines[i].strip()))
        i += 1
    data = bytearray()
    markers = {}
    short_sites = {}
    line_starts = {}
    first = i
    while True:
        if i >= len(lines):
            raise ShapeError("%s format string not terminated" % kind.lower())
        raw = lines[i].strip()
        if raw == "}":
            break
        i += 1
        if not raw:
            continue
        m = MARKER.match(raw)
        if m:
            off = int(m.group(1))
            if off != len(data):
                raise ShapeError("%s format string: comment says offset %d at byte %d (line %d)"
                                 % (kind.lower(), off, len(data), i))
            markers[off] = m.group(2) or ""
            continue
        code, _, comment = raw.partition("/*")
        if code.strip():
            line_starts[len(data)] = (i - 1, comment.rsplit("*/", 1)[0].strip())
        for tok in (t.strip() for t in code.split(",")):
            if not tok:
                continue
            m = TOKEN_SHORT.match(tok)
            if m:
                v = int(m.group(1), 0)
                if v > 0xFFFF:
                    raise ShapeError("short out of range at line %d" % i)
                short_sites[len(data)] = i - 1
                data += bytes((v & 0xFF, v >> 8))
                continue
            m = TOKEN_LONG.match(tok)
            if m:
                v = int(m.group(1), 0)
                data += v.to_bytes(4, "little")
                continue
            m = TOKEN_BYTE.match(tok)
            if m:
                v = int(m.group(1), 0)
                if v > 0xFF:
                    raise ShapeError("byte out of range at line %d" % i)
                data.append(v)
                continue
            raise ShapeError("%s format string: unknown token %r at line %d"
                             % (kind.lower(), tok, i))
    return FormatString(data, markers, short_sites, first, line_starts)


def declared_size(text, kind):
    m = re.search(r"^#define %s_FORMAT_STRING_SIZE (\d+)$" % kind, text, re.M)
    if not m:
        raise ShapeError("no %s_FORMAT_STRING_SIZE" % kind)
    return int(m.group(1))


def parse_offset_tables(text):
    """Interface name -> list of (procedure offset, 'I::M')."""
    tables = {}
    for m in re.finditer(r"static const unsigned short (\w+)_FormatStringOffsetTable\[\] =\s*\{(.*?)\};",
                         text, re.S):
        entries = re.findall(r"(\d+),\s*/\*\s*([\w:]+)\s*\*/", m.group(2))
        tables[m.group(1)] = [(int(o), n) for o, n in entries]
    return tables


class Param:
    def __init__(self, proc, name, pos, flags, stack, type_offset):
        self.proc = proc
        self.name = name
        self.pos = pos               # offset of the parameter in the proc string
        self.flags = flags
        self.stack = stack
        self.type_offset = type_offset  # None for base types

    @property
    def type_offset_pos(self):
        return self.pos + 4

    def needs_top_level_pointer(self):
        """An out parameter passed by pointer that the engine walks through its
        type description: its descriptor must be the top-level ref pointer."""
        f = self.flags
        return (f & IS_OUT) and not (f & (IS_BASETYPE | IS_SIMPLE_REF | IS_BYVALUE | IS_RETURN | IS_PIPE))


def walk_procedures(proc):
    """Yields (procedure name, [Param]) for every procedure, in order."""
    pos = 0
    size = len(proc.data)
    procs = []
    while pos < size:
        if pos == size - 1 and proc.data[pos] == 0:
            break   # widl's terminating zero
        label = proc.markers.get(pos)
        if label is None or not label.startswith("procedure "):
            raise ShapeError("procedure format string: no procedure starts at %d" % pos)
        name = label[len("procedure "):]
        handle = proc.u8(pos)
        if handle not in (FC_AUTO_HANDLE, FC_CALLBACK_HANDLE):
            raise ShapeError("%s: unexpected handle type 0x%02x" % (name, handle))
        oi_flags = proc.u8(pos + 1)
        p = pos + 2
        if oi_flags & OI_HAS_RPCFLAGS:
            p += 4
        p += 2   # procedure number
        p += 2   # stack size
        p += 2   # client buffer size
        p += 2   # server buffer size
        oi2 = proc.u8(p)
        nparams = proc.u8(p + 1)
        p += 2
        if oi2 & OI2_HAS_EXTENSIONS:
            ext = proc.u8(p)
            if ext < 2:
                raise ShapeError("%s: bad extension size %d" % (name, ext))
            p += ext
        params = []
        for _ in range(nparams):
            plabel = proc.markers.get(p)
            if plabel is None:
                raise ShapeError("%s: no parameter comment at %d" % (name, p))
            if plabel.startswith("parameter "):
                pname = plabel[len("parameter "):]
            elif plabel == "return value":
                pname = "(return)"
            else:
                raise ShapeError("%s: unexpected comment %r at %d" % (name, plabel, p))
            flags = proc.u16(p)
            stack = proc.u16(p + 2)
            if flags & IS_BASETYPE:
                toff = None
            else:
                toff = proc.u16(p + 4)
                if (p + 4) not in proc.short_sites:
                    raise ShapeError("%s %s: type offset is not a short" % (name, pname))
            params.append(Param(name, pname, p, flags, stack, toff))
            p += 6
        procs.append((name, pos, params))
        pos = p
    return procs


def pointer_target(types, off):
    """Target of a full pointer descriptor at off (not a simple pointer)."""
    return off + 2 + types.s16(off + 2)


def find_top_level_pointer(types, target):
    """The FC_RP [pointer_deref] descriptors whose chain leads to target: either
    directly, or through one FC_UP/FC_OP/FC_FP descriptor (ref -> unique -> T)."""
    found = []
    for off in sorted(types.markers):
        if off + 3 >= len(types.data):
            continue
        if types.u8(off) != FC_RP:
            continue
        attr = types.u8(off + 1)
        if attr & POINTER_FLAG_SIMPLE or not attr & POINTER_FLAG_DEREF:
            continue
        t = pointer_target(types, off)
        if t == target:
            found.append(off)
            continue
        if t in types.markers:
            if types.u8(t) in (FC_UP, FC_OP, FC_FP) and not types.u8(t + 1) & POINTER_FLAG_SIMPLE:
                if pointer_target(types, t) == target:
                    found.append(off)
    return found


def describe(types, off):
    label = types.markers.get(off, "")
    return "%d (%s)" % (off, label) if label else str(off)


POINTER_NAMES = {FC_RP: "FC_RP", FC_UP: "FC_UP", FC_OP: "FC_OP", FC_FP: "FC_FP"}
OFFSET_COMMENT = re.compile(r"^Offset=\s*(-?\d+)\s*\((\d+)\)")


class PointerSite:
    """A full (not simple) pointer descriptor in the type format string."""

    def __init__(self, pos, kind, target):
        self.pos = pos
        self.kind = kind
        self.target = target

    @property
    def offset_pos(self):
        return self.pos + 2


def pointer_sites(types):
    """Every full pointer descriptor of the type format string: a line that
    widl starts with FC_RP/FC_UP/FC_OP/FC_FP and names so in its comment (bytes
    and comment must agree), followed by the short offset of its target."""
    sites = []
    for off in sorted(types.line_starts):
        _, comment = types.line_starts[off]
        name = comment.split(" ", 1)[0]
        if name not in POINTER_NAMES.values():
            continue
        if POINTER_NAMES.get(types.u8(off)) != name:
            raise ShapeError("type format string: byte 0x%02x at %d is commented %s"
                             % (types.u8(off), off, name))
        if types.u8(off + 1) & POINTER_FLAG_SIMPLE:
            continue
        if off + 2 not in types.short_sites:
            raise ShapeError("%s at %d has no offset" % (name, off))
        target = off + 2 + types.s16(off + 2)
        short_line = types.line_starts.get(off + 2)
        if short_line:
            m = OFFSET_COMMENT.match(short_line[1])
            if m and (int(m.group(1)) != types.s16(off + 2) or int(m.group(2)) != target):
                raise ShapeError("%s at %d: offset comment %r does not match the bytes"
                                 % (name, off, short_line[1]))
        if target < 0 or target >= len(types.data):
            raise ShapeError("%s at %d points outside the format string" % (name, off))
        sites.append(PointerSite(off, name, target))
    return sites


def enclosing(types, off):
    """The named descriptor a byte belongs to (the nearest labelled marker before it)."""
    start = max((m for m, label in types.markers.items() if m <= off and label), default=None)
    return describe(types, start) if start is not None else "?"


def misdirected_pointers(types):
    """(sites checked, [(PointerSite, new target)]) for the embedded pointers
    that point into an array descriptor instead of at it."""
    sites = pointer_sites(types)
    by_pos = {s.pos: s for s in sites}
    fixes = []
    for site in sites:
        if site.target in types.markers:
            continue
        array = site.target - 4
        own = by_pos.get(array - 4)
        if not (array in types.markers
                and types.u8(array) in (FC_CARRAY, FC_BOGUS_ARRAY)
                and own is not None and own.target == array
                and types.markers.get(array - 4) == types.markers[array]):
            raise ShapeError("%s at %d in %s points at %d, which starts no descriptor"
                             % (site.kind, site.pos, enclosing(types, site.pos), site.target))
        fixes.append((site, array))
    return len(sites), fixes


def wine_server_alloc_params(types, procs):
    """(Param, units) for every [in, out] simple-reference parameter whose
    structure the stub would allocate and, under Wine, never free."""
    found = []
    for _, _, params in procs:
        for prm in params:
            f = prm.flags
            if prm.type_offset is None or (f & (IS_IN | IS_OUT | IS_SIMPLE_REF)) != (IS_IN | IS_OUT | IS_SIMPLE_REF):
                continue
            if f & (IS_BYVALUE | IS_RETURN | IS_PIPE) or f >> SERVER_ALLOC_SHIFT:
                continue
            if types.u8(prm.type_offset) != FC_BOGUS_STRUCT:
                continue
            units = (types.u16(prm.type_offset + 2) + 7) // 8
            if 0 < units <= SERVER_ALLOC_MAX:
                found.append((prm, units))
    return found


def wine_server_alloc_function(stem, found):
    """C code that sets ServerAllocSize for the parameters found (see above)."""
    out = ["",
           "/* Written by tools/fix_widl_proxy.py. Wine's interpreted stubs never free",
           "   what they allocate for an [in, out] structure passed by simple reference",
           "   whose memory layout is not its wire layout; the proxy/stub DLL calls this",
           "   under Wine only, before any call, to have the stub allocate and free",
           "   these parameters itself (ServerAllocSize). The wire does not change. */",
           "void zq_wine_server_alloc_%s(void)" % stem,
           "{"]
    if found:
        out.append("    /* the high byte of each parameter's flags, and its size in 8-byte units */")
        out.append("    static const unsigned short at[] = {%s};"
                   % ", ".join(str(prm.pos + 1) for prm, _ in found))
        out.append("    static const unsigned char units[] = {%s};"
                   % ", ".join(str(u) for _, u in found))
        out.append("    unsigned i;")
        out.append("    for (i = 0; i < sizeof at / sizeof at[0]; ++i)")
        out.append("        __MIDL_ProcFormatString.Format[at[i]] |= (unsigned char)(units[i] << %d);"
                   % (SERVER_ALLOC_SHIFT - 8))
    out.append("}")
    return "\n".join(out) + "\n"


def analyse(text):
    """Returns (proc, types, procs, corrections[(Param, old, new)], checked,
    pointers checked, pointer corrections[(PointerSite, new target)])."""
    lines = text.split("\n")
    types = parse_format_string(lines, "TYPE")
    proc = parse_format_string(lines, "PROC")
    for kind, fs in (("TYPE", types), ("PROC", proc)):
        want = declared_size(text, kind)
        if len(fs.data) != want:
            raise ShapeError("%s format string has %d bytes, %s_FORMAT_STRING_SIZE is %d"
                             % (kind.lower(), len(fs.data), kind, want))
    procs = walk_procedures(proc)
    starts = {pos: name for name, pos, _ in procs}
    for iface, entries in parse_offset_tables(text).items():
        for off, name in entries:
            if starts.get(off) != name:
                raise ShapeError("offset table of %s: %s at %d is not a procedure start"
                                 % (iface, name, off))
    corrections = []
    checked = 0
    for name, _, params in procs:
        for prm in params:
            if prm.type_offset is not None and prm.type_offset not in types.markers:
                raise ShapeError("%s %s: type offset %d is not the start of a descriptor"
                                 % (name, prm.name, prm.type_offset))
            if not prm.needs_top_level_pointer():
                continue
            checked += 1
            t = prm.type_offset
            if types.u8(t) == FC_RP:
                continue
            candidates = find_top_level_pointer(types, t)
            if len(candidates) != 1:
                raise ShapeError("%s %s: type offset %s is not a top-level pointer and %d FC_RP "
                                 "descriptors lead to it" % (name, prm.name, describe(types, t),
                                                             len(candidates)))
            corrections.append((prm, t, candidates[0]))
    pointers, pointer_fixes = misdirected_pointers(types)
    return proc, types, procs, corrections, checked, pointers, pointer_fixes


def apply(text, proc, types, corrections, pointer_fixes):
    lines = text.split("\n")
    # The procedure format string stays writable for the Wine seam.
    for i, line in enumerate(lines):
        if line.startswith(format_string_head("PROC")):
            lines[i] = format_string_head("PROC", False) + line[len(format_string_head("PROC")):]
    for site, new in pointer_fixes:
        li = types.short_sites[site.offset_pos]
        line = lines[li]
        old_value = types.u16(site.offset_pos)
        old_rel = types.s16(site.offset_pos)
        new_rel = new - site.offset_pos
        pattern = re.compile(r"NdrFcShort\(0x%x\),(\s*)/\* Offset= %d \(%d\) \*/"
                             % (old_value, old_rel, site.target))
        if len(pattern.findall(line)) != 1:
            raise ShapeError("%s at %d: cannot find its offset on line %d: %r"
                             % (site.kind, site.pos, li + 1, line))
        lines[li] = pattern.sub(
            lambda m: "NdrFcShort(0x%x),%s/* Offset= %d (%d) (widl wrote %d (%d)) */"
            % (new_rel & 0xFFFF, m.group(1), new_rel, new, old_rel, site.target), line)
    for prm, old, new in corrections:
        li = proc.short_sites[prm.type_offset_pos]
        line = lines[li]
        pattern = re.compile(r"NdrFcShort\(0x%x\),(\s*)/\* type offset = %d \*/" % (old, old))
        if len(pattern.findall(line)) != 1:
            raise ShapeError("%s %s: cannot find the type offset on line %d: %r"
                             % (prm.proc, prm.name, li + 1, line))
        lines[li] = pattern.sub(
            lambda m: "NdrFcShort(0x%x),%s/* type offset = %d (widl wrote %d) */" % (new, m.group(1), new, old),
            line)
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--in", dest="src", required=True)
    ap.add_argument("--out", dest="dst", required=True)
    ap.add_argument("--log")
    ap.add_argument("--report-only", action="store_true")
    args = ap.parse_args()

    with open(args.src, encoding="utf-8") as f:
        text = f.read()
    name = args.src.rsplit("/", 1)[-1]
    log = []
    try:
        proc, types, procs, corrections, checked, pointers, pointer_fixes = analyse(text)
        verb = "would redirect" if args.report_only else "redirected"
        for prm, old, new in corrections:
            log.append("%s: %s %s: type offset %s -> %s (%s)"
                       % (name, prm.proc, prm.name, describe(types, old), describe(types, new), verb))
        for site, new in pointer_fixes:
            log.append("%s: %s at %d in %s: target %d -> %s (%s)"
                       % (name, site.kind, site.pos, enclosing(types, site.pos), site.target,
                          describe(types, new), verb))
        stem = re.sub(r"_p\.c$", "", name)
        wine_alloc = wine_server_alloc_params(types, procs)
        for prm, units in wine_alloc:
            log.append("%s: %s %s: ServerAllocSize %d under Wine (%d bytes)"
                       % (name, prm.proc, prm.name, units, units * 8))
        if args.report_only:
            out = text
        else:
            out = apply(text, proc, types, corrections, pointer_fixes)
            if "void zq_wine_server_alloc_%s(void)" % stem not in out:
                out += wine_server_alloc_function(stem, wine_alloc)
            # The corrected code must pass the same walk with nothing left to correct.
            _, _, _, left, rechecked, repointers, left_pointers = analyse(out)
            if left or rechecked != checked or left_pointers or repointers != pointers:
                raise ShapeError("corrected code still has %d misdirected parameters and %d pointers"
                                 % (len(left), len(left_pointers)))
        outcome = "left uncorrected (report only)" if args.report_only else "corrected"
        log.append("%s: %d procedures, %d out parameters by pointer checked, %d %s; "
                   "%d pointer descriptors checked, %d %s"
                   % (name, len(procs), checked, len(corrections), outcome,
                      pointers, len(pointer_fixes), outcome))
    except ShapeError as e:
        sys.stderr.write("fix_widl_proxy: %s: unexpected generated code: %s\n" % (name, e))
        return 1
    with open(args.dst, "w", encoding="utf-8") as f:
        f.write(out)
    for l in log:
        print("fix_widl_proxy: " + l)
    if args.log:
        with open(args.log, "w", encoding="utf-8") as f:
            f.write("\n".join(log) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

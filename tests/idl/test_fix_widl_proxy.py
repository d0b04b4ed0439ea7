#!/usr/bin/env python3
"""Tests of tools/fix_widl_proxy.py on the proxy code widl generated in this
build: exactly the misdirected parameters change, a second run changes
nothing, and code of an unexpected shape stops the build."""

import argparse
import os
import re
import runpy
import subprocess
import sys
import tempfile
import types
import unittest

ARGS = None


def run(src_text, *extra):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "x_p.c")
        dst = os.path.join(tmp, "x_proxy.c")
        with open(src, "w", encoding="utf-8") as f:
            f.write(src_text)
        proc = subprocess.run([sys.executable, ARGS.tool, "--in", src, "--out", dst] + list(extra),
                              capture_output=True, text=True)
        out = None
        if os.path.exists(dst):
            with open(dst, encoding="utf-8") as f:
                out = f.read()
        return proc, out


def generated(name):
    with open(os.path.join(ARGS.generated, name + "_p.c"), encoding="utf-8") as f:
        return f.read()


def changed_lines(before, after):
    """The lines that changed in place, and the lines appended."""
    a, b = before.split("\n"), after.split("\n")
    assert len(a) <= len(b)
    return [(x, y) for x, y in zip(a, b) if x != y], b[len(a):]


def tool_module():
    """The tool's functions, loaded from its file (its main() is not run)."""
    return types.SimpleNamespace(**runpy.run_path(ARGS.tool))


SERVER_ALLOC = re.compile(r"static const unsigned short at\[\] = \{([0-9, ]+)\};\s*"
                          r"static const unsigned char units\[\] = \{([0-9, ]+)\};")


TYPE_OFFSET_CHANGE = (re.compile(r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* type offset = (\d+) \*/"),
                      re.compile(r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* type offset = (\d+) \(widl wrote (\d+)\) \*/"))
POINTER_CHANGE = (re.compile(r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* Offset= (-?\d+) \((\d+)\) \*/"),
                  re.compile(r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* Offset= (-?\d+) \((\d+)\) "
                             r"\(widl wrote (-?\d+) \((\d+)\)\) \*/"))


def s16(hex_text):
    v = int(hex_text, 16)
    return v - 0x10000 if v & 0x8000 else v


class RealGeneratedCode(unittest.TestCase):
    def check(self, name, corrected, pointers):
        """corrected: parameter type offsets; pointers: embedded pointer offsets
        (None: at least one, as many as this architecture's code has)."""
        text = generated(name)
        proc, out = run(text)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn("%d corrected;" % corrected, proc.stdout)
        changes, appended = changed_lines(text, out)
        params = [c for c in changes if "type offset" in c[0]]
        moved = [c for c in changes if "Offset=" in c[0]]
        writable = [c for c in changes if c[0].startswith("static const MIDL_PROC_FORMAT_STRING")]
        self.assertEqual(len(params) + len(moved) + len(writable), len(changes))
        self.assertEqual([after for _, after in writable],
                         ["static MIDL_PROC_FORMAT_STRING __MIDL_ProcFormatString;",
                          "static MIDL_PROC_FORMAT_STRING __MIDL_ProcFormatString ="])
        self.check_wine_server_alloc(text, "\n".join(appended), proc.stdout)
        self.assertEqual(len(params), corrected)
        if pointers is None:
            self.assertGreaterEqual(len(moved), 2)
        else:
            self.assertEqual(len(moved), pointers)
        self.assertIn("%d corrected\n" % len(moved), proc.stdout)
        for before, after in params:
            old, new = TYPE_OFFSET_CHANGE[0].search(before), TYPE_OFFSET_CHANGE[1].search(after)
            self.assertTrue(old and new, (before, after))
            self.assertEqual(int(old.group(1), 16), int(old.group(2)))
            self.assertEqual(int(new.group(1), 16), int(new.group(2)))
            self.assertEqual(new.group(3), old.group(2))
            # The top-level pointer precedes the descriptor widl named.
            self.assertLess(int(new.group(2)), int(old.group(2)))
        for before, after in moved:
            old, new = POINTER_CHANGE[0].search(before), POINTER_CHANGE[1].search(after)
            self.assertTrue(old and new, (before, after))
            self.assertEqual(s16(old.group(1)), int(old.group(2)))
            self.assertEqual(s16(new.group(1)), int(new.group(2)))
            self.assertEqual((new.group(4), new.group(5)), (old.group(2), old.group(3)))
            # From 4 bytes inside the string array's descriptor to its start.
            self.assertEqual(int(new.group(3)), int(old.group(3)) - 4)
            self.assertIn("/* %s (LPWSTR *) */" % new.group(3), text)
        # Only the annotation's two string arrays are concerned.
        for line in proc.stdout.splitlines():
            if " at " in line and "target" in line:
                self.assertIn("(OPCHDA_ANNOTATION", line)
        return out

    def check_wine_server_alloc(self, text, appended, log):
        """The function written for Wine names the flags of exactly the
        [in, out] simple-reference parameters whose structure has another
        memory than wire layout, each with its memory size."""
        self.assertIn("void zq_wine_server_alloc_x(void)", appended)
        fix = tool_module()
        lines = text.split("\n")
        proc = fix.parse_format_string(lines, "PROC")
        types = fix.parse_format_string(lines, "TYPE")
        expected = sorted((prm.pos + 1, units) for prm, units in
                          fix.wine_server_alloc_params(types, fix.walk_procedures(proc)))
        m = SERVER_ALLOC.search(appended)
        found = [] if m is None else sorted(zip((int(v) for v in m.group(1).split(",")),
                                                (int(v) for v in m.group(2).split(","))))
        self.assertEqual(found, expected)
        self.assertEqual(log.count("ServerAllocSize"), len(found))
        for at, units in found:
            flags = proc.u16(at - 1)
            self.assertEqual(flags & 0x118, 0x118, at)   # in, out, simple reference
            self.assertEqual(flags >> 13, 0, at)
            struct = proc.u16(at + 3)
            self.assertEqual(types.u8(struct), 0x1a, at)  # FC_BOGUS_STRUCT
            self.assertEqual(units, (types.u16(struct + 2) + 7) // 8)
        # OPCHDA_TIME holds a pointer: in 64-bit code it is such a structure
        # and every [in, out] time of the read, update and annotation methods
        # is concerned; in 32-bit code it is not, and nothing is.
        bogus_time = re.search(r"/\* \d+ \(OPCHDA_TIME\) \*/\s*0x1a,", text) is not None
        times = [line for line in log.splitlines() if "ServerAllocSize" in line]
        self.assertTrue(all(" htStartTime:" in line or " htEndTime:" in line for line in times), times)
        if "OPCHDA_TIME" in text:
            self.assertEqual(len(times) >= 30, bogus_time, times)

    def test_opchda_string_out_parameters_and_annotation_strings_are_redirected(self):
        out = self.check("opchda", 8, None)
        proc, again = run(out)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn("0 corrected;", proc.stdout)
        self.assertIn(" 0 corrected\n", proc.stdout)
        self.assertEqual(again, out)

    def test_opccomn_string_out_parameters_are_redirected(self):
        self.check("opccomn", 6, 0)

    def test_report_only_leaves_the_code_unchanged(self):
        text = generated("opccomn")
        proc, out = run(text, "--report-only")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(out, text)
        self.assertEqual(proc.stdout.count("would redirect"), 6)


class UnexpectedShapes(unittest.TestCase):
    def refuse(self, text, why):
        proc, _ = run(text)
        self.assertNotEqual(proc.returncode, 0, "accepted: " + why)
        self.assertIn("unexpected generated code", proc.stderr)

    def test_offset_comment_that_does_not_match_the_bytes(self):
        text = generated("opccomn")
        self.assertIn("/* 36 (LPWSTR) */", text)
        self.refuse(text.replace("/* 36 (LPWSTR) */", "/* 37 (LPWSTR) */"), "shifted comment")

    def test_unknown_token(self):
        text = generated("opccomn").replace("0x25,\t/* FC_C_WSTRING */", "FC_C_WSTRING,", 1)
        self.refuse(text, "symbolic byte")

    def test_declared_size_that_differs(self):
        text = re.sub(r"#define TYPE_FORMAT_STRING_SIZE (\d+)",
                      lambda m: "#define TYPE_FORMAT_STRING_SIZE %d" % (int(m.group(1)) + 2),
                      generated("opccomn"))
        self.refuse(text, "size")

    def test_misdirected_parameter_without_a_top_level_pointer(self):
        # GetErrorString's ppString names 36; turn the FC_RP at 32 into FC_UP.
        text = generated("opccomn")
        marker = "/* 32 (LPWSTR *) */\n        0x11, 0x14,"
        self.assertIn(marker, text)
        self.refuse(text.replace(marker, "/* 32 (LPWSTR *) */\n        0x12, 0x14,"), "no FC_RP")

    def test_pointer_into_a_descriptor_of_another_shape(self):
        # The OPCHDA_ITEM array of OnDataChange etc.: its first embedded
        # pointer moved 4 bytes into the FILETIME array it names.
        text = generated("opchda")
        m = re.search(r"/\* (\d+) \(OPCHDA_ITEM\) \*/.*?0x12, 0x0,\s*/\* FC_UP \*/\s*"
                      r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* Offset= (-?\d+) \((\d+)\) \*/", text, re.S)
        self.assertTrue(m)
        rel = int(m.group(3)) + 4
        line = m.group(0)
        moved = line.replace("NdrFcShort(0x%s)" % m.group(2), "NdrFcShort(0x%x)" % (rel & 0xFFFF)).replace(
            "Offset= %s (%s)" % (m.group(3), m.group(4)), "Offset= %d (%d)" % (rel, int(m.group(4)) + 4))
        self.refuse(text.replace(line, moved, 1), "pointer into a FILETIME array")

    def test_pointer_whose_offset_comment_disagrees(self):
        text = generated("opchda")
        m = re.search(r"(NdrFcShort\(0x[0-9a-f]+\),\s*/\* Offset= -?\d+ \()(\d+)(\) \*/)", text)
        self.assertTrue(m)
        self.refuse(text.replace(m.group(0), m.group(1) + str(int(m.group(2)) + 2) + m.group(3), 1),
                    "offset comment")

    def test_explicit_handle(self):
        text = generated("opccomn")
        first = "/* 0 (procedure IOPCShutdown::ShutdownRequest) */\n        0x33,"
        self.assertIn(first, text)
        self.refuse(text.replace(first, "/* 0 (procedure IOPCShutdown::ShutdownRequest) */\n        0x0,"),
                    "explicit handle")


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--generated", required=True)
    ARGS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

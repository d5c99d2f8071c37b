#!/usr/bin/env python3
"""Tests of tools/build-installer: what it refuses, the versions it reads, and the executables it
writes. What Windows shows of them (version information, icon, PE details) is in
test_identity.py, signing in test_signing.py, the inspector in test_inspect.py.
"""

import os
import random
import sys
import unittest
import xml.etree.ElementTree as ET

from harness import (DEFAULT_OUT, DEFAULT_OUT_X64, DEFAULT_TITLE, DIAGNOSTIC, IMAGE_FILE_MACHINE_AMD64,
                     IMAGE_FILE_MACHINE_I386, IMAGE_SUBSYSTEM_WINDOWS_CUI, IMAGE_SUBSYSTEM_WINDOWS_GUI, SAMPLE,
                     STAMP_MARKER, STAMP_PIECE, SYSTEM_DLLS, TRAILER, InstallerPE, RefusalCase, build, builder,
                     default_build, expect_delay_loading, expect_delay_slots, local, out_of, read, run_tool,
                     stamp_digest, tmp_path, write)
from builder import request as builder_request
from builder.pe import RT_MANIFEST

PE = InstallerPE


# --- refusing bad input -------------------------------------------------------------------


class RefusesBadInput(RefusalCase):

    @classmethod
    def setUpClass(cls):
        cls.empty = write(tmp_path("empty.pak"), b"")
        cls.folder = tmp_path("a-folder.pak")
        os.makedirs(cls.folder, exist_ok=True)
        cls.dangling = tmp_path("dangling.pak")
        os.symlink(tmp_path("no-such-target"), cls.dangling)

    def test_payload_missing_unreadable_or_empty(self):
        cases = [
            (["--payload", tmp_path("no-such.pak")], ["payload", "not found", "no-such.pak"]),
            (["--payload", self.folder], ["payload", "a-folder.pak"]),
            (["--payload", self.empty], ["payload", "empty"]),
            (["--payload", self.dangling], ["payload", "dangling.pak"]),
        ]
        if os.geteuid() != 0:  # root reads any file, so the mode alone cannot make it unreadable
            locked = write(tmp_path("locked.pak"), b"data")
            os.chmod(locked, 0)
            cases.append((["--payload", locked], ["payload", "locked.pak"]))
        for args, words in cases:
            with self.subTest(args=args):
                self.assertRefused(args, *words)

    def test_payload_too_big_for_the_x86_installer(self):
        # Sparse: the refusal comes before anything reads the payload.
        limit = builder_request.X86_PAYLOAD_LIMIT_MIB << 20
        big = tmp_path("big.pak")
        with open(big, "wb") as f:
            f.truncate(limit + 1)
        try:
            self.assertRefused(["--payload", big], "payload too big", "x86", f"{builder_request.X86_PAYLOAD_LIMIT_MIB} MiB")
            self.assertRefused(["--arch", "x86", "--payload", big], "payload too big")
        finally:
            os.unlink(big)
        builder_request.check_payload_size("x86", limit)
        builder_request.check_payload_size("x64", limit + 1)

    def test_version_not_a_32_bit_signed_decimal(self):
        for version in ["2147483648", "-2147483649", "99999999999999999999", "", "12a", "0x10",
                        "$10", " 5", "5 ", "1.0", "1e3", "1_000", "++1", "-", "٣"]:
            with self.subTest(version=version):
                self.assertRefused(["--version", version], "version")

    def test_name_unfit_for_file_or_resource(self):
        for name in ["", "1mvm", "_mvm", "mv-m", "mvm3.pak", "mv m", "имя", "a" * 65,
                     "CON", "prn", "Aux", "nul", "COM1", "com9", "LPT1", "lpt9"]:
            with self.subTest(name=name):
                self.assertRefused(["--name", name], "name")

    def test_kind_unfit_for_extension_or_resource_type(self):
        for kind in ["", ".pak", "p.k", "pak!", "p k", "расш", "k" * 17]:
            with self.subTest(kind=kind):
                self.assertRefused(["--ext", kind], "kind")

    def test_title_outside_code_page_1251_or_too_long(self):
        for title in ["日本語", "Tarvelin \u0100", "Тарвелин \u2603", "\U0001F600", "т" * 257]:
            with self.subTest(title=title):
                self.assertRefused(["--title", title], "title")

    def test_unknown_arch(self):
        for arch in ["arm64", "x86_64", "amd64", "X64", ""]:
            with self.subTest(arch=arch):
                self.assertRefused(["--arch", arch], "arch")

    def test_unknown_or_malformed_options(self):
        cases = [
            (["--bogus"], "--bogus"),
            (["-x"], "-x"),
            (["--vers", "92"], "--vers"),   # no abbreviations
            (["stray"], "stray"),
            (["--name"], "--name"),          # value missing
        ]
        for args, word in cases:
            with self.subTest(args=args):
                self.assertRefused(args, word, status=2)

    def test_valid_edge_values_pass_validation(self):
        # Validation looks at the payload last: a refusal that names the missing payload shows
        # that the value before it was accepted, without a build.
        missing = tmp_path("no-such.pak")
        for args in [["--version", "2147483647"], ["--version", "-2147483648"], ["--version", "+0"],
                     ["--version", "007"], ["--name", "a" * 64], ["--name", "COM10"],
                     ["--name", "CONSOLE"], ["--name", "LPT0"], ["--name", "Mv_9"],
                     ["--ext", "k" * 16], ["--ext", "3bs"], ["--ext", "_"], ["--arch", "x64"],
                     ["--title", "Ёж «№1» — тест"], ["--title=-starts-with-dash"], ["--title", "т" * 256]]:
            with self.subTest(args=args):
                self.assertRefused([*args, "--payload", missing], "payload", "not found")

    def test_help(self):
        proc = run_tool("--help")
        self.assertEqual(proc.returncode, 0)
        for option in ("--payload", "--icon", "--company", "--description", "--copyright", "--file-version",
                       "--sign-pkcs12", "--sign-cert", "--sign-key", "--sign-password-file", "--timestamp-url"):
            self.assertIn(option, proc.stdout)
        self.assertRegex(proc.stdout, r"end it with a blank")
        self.assertRegex(proc.stdout, r"Exit status: 0 .*; 1 .*; 2 .*\n3 ")
        self.assertEqual(proc.stderr, "")


# --- reading payload versions -------------------------------------------------------------


class ReadsPayloadVersions(unittest.TestCase):
    """The builder reads a payload's version through the host tool, by the installer's rules; the
    version in a language file is the integer on its version line, 0 when there is none."""

    @classmethod
    def setUpClass(cls):
        cls.tool = builder.build_tool()

    def version(self, kind, data):
        return builder.payload_version(self.tool, kind, write(tmp_path("version-probe"), data))

    def test_binary_version_fields(self):
        version = self.version
        self.assertEqual(version("pak", b"\0" * 6 + b"\x34\x12"), 0x1234)
        self.assertEqual(version("pak", b"\0" * 6 + b"\xff\xff" + b"tail"), 0xFFFF)
        self.assertEqual(version("pak", b"\0" * 6 + b"\x34"), 0)  # short
        self.assertEqual(version("cok", b"\0" * 5 + b"\x34\x12" + b"\x99"), 0x1234)
        self.assertEqual(version("cok", b"\0" * 6), 0)
        self.assertEqual(version("3bs", b"\0" * 6 + b"\xc8\x01"), 200)
        self.assertEqual(version("3bs", b"\0" * 6), 0)
        self.assertIsNone(version("dat", b"\0" * 16))
        self.assertIsNone(version("PAK", b"\0" * 16))  # kinds are case-sensitive

    def test_integer_text(self):
        cases = {
            b"92": 92, b"   92": 92, b"+92": 92, b"-92": -92, b"0092": 92,
            b"$1F": 31, b"x1f": 31, b"X1F": 31, b"0x1f": 31, b"0X1F": 31, b"-$10": -16,
            b"2147483647": 2**31 - 1, b"-2147483648": -2**31, b"$7FFFFFFF": 2**31 - 1,
            b"2147483648": None, b"-2147483649": None,
            b"\t92": None, b"92 ": None, b"9 2": None, b"": None, b"-": None, b"$": None,
            b"0x": None, b"1_0": None, b"0b1": None, b"$G": None, b"1a": None, b"+-1": None,
        }
        for text, expected in cases.items():
            with self.subTest(text=text):
                self.assertEqual(self.version("lng", b"[LangVer]\r\n" + text + b"\r\n"),
                                 0 if expected is None else expected)

    def test_language_file_text(self):
        cases = [
            (b"[Strings]\r\nok=OK\r\n[LangVer]\r\n 93\r\n[More]\r\nx=1\r\n", 93),
            (b"  [LangVer]  \n7\n9\n", 9),              # a header starts at the first char
            (b"[LANGVER]   \t\n7\n9\n", 7),             # trimmed and lower-cased
            (b"[LangVer] comment\n7\n9\n", 7),
            (b"[xLangVer]\n7\n9", 9),
            (b"[Lang\rVer]\n7\n9", 7),                  # a lone CR is dropped
            (b"a\r\nb\r\n5", 5),
            (b"a\nb\n5\n", 5),                          # the final LF ends the last line
            (b"a\n5\n\n", 0),
            (b"a\n5\x1a\n6\n", 5),                      # 0x1A ends the text
            (b"[LangVer]", 0),
            (b"", 0),
            (b"[LangVer]\r\n$2A\r\n", 42),
            (b"[LangVer]\r\nv2\r\n", 0),
        ]
        for data, expected in cases:
            with self.subTest(data=data):
                self.assertEqual(self.version("lng", data), expected)


# --- built installers ---------------------------------------------------------------------


class DefaultInstaller(unittest.TestCase):
    """The shipped 32-bit installer built from the sample payload with every default."""

    @classmethod
    def setUpClass(cls):
        proc = default_build()
        cls.stderr = proc.stderr
        cls.path = out_of(proc)
        cls.pe = PE(read(cls.path))

    def test_written_to_dist_with_a_warning_of_the_sample(self):
        # The one-command build works, but nobody may ship the sample without being told.
        self.assertEqual(os.path.realpath(self.path), os.path.realpath(DEFAULT_OUT))
        lines = self.stderr.splitlines()
        self.assertEqual(len(lines), 1, self.stderr)
        self.assertRegex(lines[0], r"^build-installer: warning: no --payload: .*sample.* as mvm3\.pak")

    def test_sample_payload(self):
        sample = read(SAMPLE)
        self.assertEqual(len(sample), 4194304)
        self.assertEqual(builder.payload_version(builder.build_tool(), "pak", SAMPLE), 92)
        # Pseudo-random: no byte value is much rarer or commoner than the others.
        counts = [sample.count(bytes([b])) for b in range(256)]
        self.assertLess(max(counts) - min(counts), 2000)

    def test_pe32_gui_i386(self):
        self.assertFalse(self.pe.pe32plus)
        self.assertEqual(self.pe.machine, IMAGE_FILE_MACHINE_I386)
        self.assertEqual(self.pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)
        self.assertEqual(self.pe.timestamp, 0)

    def test_payload_resource(self):
        self.assertEqual(self.pe.resource("PAK", "MVM3"), read(SAMPLE))

    def test_manifest(self):
        manifest = self.pe.resource(RT_MANIFEST, 1)
        self.assertIsNotNone(manifest)
        root = ET.fromstring(manifest)
        levels = [e.get("level") for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
        self.assertEqual(levels, ["requireAdministrator"])
        controls = [e for e in root.iter() if local(e.tag) == "assemblyIdentity"
                    and e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(len(controls), 1)
        self.assertEqual(controls[0].get("version"), "6.0.0.0")
        # Per-monitor DPI awareness: version 2 from Windows 10 1703 on (1607 takes the second
        # name), the older element for 8.1 ("/pm") and for Vista to 8 ("true": the system's
        # DPI). Windows reads each only under its own namespace.
        v3, settings = "{urn:schemas-microsoft-com:asm.v3}", "{http://schemas.microsoft.com/SMI/%s/WindowsSettings}"
        windows_settings = root.find(f"{v3}application/{v3}windowsSettings")
        self.assertIsNotNone(windows_settings)
        self.assertEqual({e.tag: e.text for e in windows_settings},
                         {settings % 2005 + "dpiAware": "true/pm",
                          settings % 2016 + "dpiAwareness": "PerMonitorV2, PerMonitor"})
        # No supported systems named: Windows 8.1 and later then report 6.2, which the naming of
        # Windows relies on.
        self.assertEqual([e for e in root.iter() if local(e.tag) in ("compatibility", "supportedOS")], [])

    def test_imports_only_system_dlls(self):
        dlls = [d.lower() for d in self.pe.imported_dlls()]
        self.assertIn("kernel32.dll", dlls)
        for dll in dlls:
            self.assertNotRegex(dll, r"^lib|stdc\+\+|gcc|pthread")
            self.assertIn(dll, SYSTEM_DLLS)

    def test_loads_windowing_code_only_on_first_use(self):
        expect_delay_loading(self, self.pe)

    def test_title_compiled_in(self):
        self.assertIn(DEFAULT_TITLE.encode("utf-16-le"), self.pe.data)

    def test_not_large_address_aware(self):
        # Above 2 GiB a 32-bit process meets code that takes addresses for signed numbers,
        # the shell extensions and injected DLLs it loads among them; and 32-bit Windows gives
        # the room to no program unless started with /3GB, so the payload limit cannot count on it.
        self.assertFalse(self.pe.characteristics & 0x0020)

    def test_runs_from_the_swap_file_off_network_and_removable_media(self):
        # Started from a share whose connection drops, or a stick pulled out, an image run in
        # place faults reading a page never loaded: a crash where a deployment wants an exit code.
        self.assertEqual(self.pe.characteristics & 0x0C00, 0x0C00)

    def test_no_start_up_sections_and_no_static_constructors(self):
        # The installer's own entry runs no runtime start-up: the build refuses an image with
        # what only that would run (a static constructor planted in main.cpp was refused so).
        self.assertFalse({".CRT", ".tls"} & {name for name, *_ in self.pe.sections})
        marker = "                0x0040d5e0                        __CTOR_LIST__ = .\n"
        end = "                0x0040d5e8        0x4 LONG 0x0\n"
        empty = marker + "                0x0040d5e0        0x4 LONG 0xffffffffffffffff\n *(.ctors)\n" + end
        planted = empty.replace(" *(.ctors)\n", " *(.ctors)\n .ctors         0x0040d5e4        0x4 main.o\n")
        self.assertEqual(builder.static_constructors(empty), [])
        self.assertEqual(builder.static_constructors(planted), ["main.o"])

    def test_payload_starts_on_a_page_of_the_file(self):
        # Wine reads a section that does not start on a page into private memory instead of
        # mapping it: the whole payload would count as the installer's own memory.
        self.assertEqual(self.pe.resource_section_offset() % 4096, 0)

    def test_overhead_within_72_kib(self):
        # Every user downloads what the installer adds to the payload. Sizes do not vary
        # between runs, so this cannot flake.
        overhead = os.path.getsize(self.path) - os.path.getsize(SAMPLE)
        print(f"\nshipped installer overhead: {overhead} bytes", file=sys.stderr)
        self.assertLessEqual(overhead, 72 * 1024)


class StampDigest(unittest.TestCase):
    """The stamp against the rule worked out with hashlib: the default build (one piece) and a
    signed x64 build of three pieces, whose last piece holds the trailer's start."""

    def test_trailer_holds_the_digest_of_the_pieces(self):
        from test_signing import signing_args  # makes keys: only when this test runs
        payload = tmp_path("stamp-pieces.pak")
        if not os.path.exists(payload):
            write(payload, random.Random(24).randbytes(2 * STAMP_PIECE + 12345))
        out = tmp_path("stamp-pieces", "mvm3-setup.exe")
        build("stamp-pieces", "--arch", "x64", "--payload", payload, *signing_args("plain-key"), "--out", out)
        for what, path, pieces in (("default x86", out_of(default_build()), 1), ("signed x64", out, 3)):
            with self.subTest(what):
                data = read(path)
                content, digest = stamp_digest(data)
                self.assertEqual(-(-content // STAMP_PIECE), pieces)
                self.assertEqual(data[content:content + TRAILER], STAMP_MARKER + digest)


class X64Installer(unittest.TestCase):
    def test_pe32plus_amd64(self):
        proc = build("x64", "--arch", "x64")
        path = out_of(proc)
        self.assertEqual(os.path.realpath(path), os.path.realpath(DEFAULT_OUT_X64))
        pe = PE(read(path))
        self.assertTrue(pe.pe32plus)
        self.assertEqual(pe.machine, IMAGE_FILE_MACHINE_AMD64)
        self.assertEqual(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)
        self.assertEqual(pe.resource("PAK", "MVM3"), read(SAMPLE))
        self.assertEqual(pe.resource_section_offset() % 4096, 0)
        for dll in pe.imported_dlls():
            self.assertIn(dll.lower(), SYSTEM_DLLS)
        expect_delay_loading(self, pe)

    def test_diagnostic_beside_it(self):
        # The x86 one is what a supporter runs on a user's machine; each goes with its twin.
        for key, args, pe32plus, machine in (("default", (), False, IMAGE_FILE_MACHINE_I386),
                                              ("x64", ("--arch", "x64"), True, IMAGE_FILE_MACHINE_AMD64)):
            with self.subTest(arch=machine):
                installer = out_of(default_build() if key == "default" else build(key, *args))
                pe = PE(read(os.path.join(os.path.dirname(installer), DIAGNOSTIC)))
                self.assertEqual(pe.pe32plus, pe32plus)
                self.assertEqual(pe.machine, machine)
                self.assertEqual(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI)
                for dll in pe.imported_dlls():
                    self.assertIn(dll.lower(), SYSTEM_DLLS)
                expect_delay_slots(self, pe)
                # The same manifest, so that Windows reports to it the version it reports to the
                # installer.
                self.assertEqual(pe.resource(RT_MANIFEST, 1), PE(read(installer)).resource(RT_MANIFEST, 1))

    def test_out_may_not_take_the_diagnostic_name(self):
        for arch in ("x86", "x64"):
            proc = run_tool("--arch", arch, "--out", tmp_path("DESCRIBE-windows.exe"))
            self.assertNotEqual(proc.returncode, 0)
            self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
            self.assertIn("diagnostic", proc.stderr)
            self.assertFalse(os.path.exists(tmp_path("DESCRIBE-windows.exe")))


class Reproducible(unittest.TestCase):
    def test_same_inputs_give_identical_files(self):
        first = read(out_of(default_build()))
        # Another variant in between makes the second build recompile and relink.
        other = build("v93", "--version", "93", "--out", tmp_path("v93.exe"))
        sample = read(SAMPLE)
        # A sample of the wrong size is made anew, with the same bytes as before. The output's
        # name is an input (the version information records it), its folder is not.
        write(SAMPLE, sample[:1000])
        again = build("again", "--out", tmp_path("again", "mvm3-setup.exe"))
        self.assertEqual(read(SAMPLE), sample)
        self.assertNotEqual(read(out_of(other)), first)
        self.assertTrue(read(out_of(again)) == first, "two builds of the same inputs differ")


class Variants(unittest.TestCase):
    def test_split_payload(self):
        # An odd size tells the first half (size // 2) from the rest.
        path = write(tmp_path("odd.pak"), builder.versioned_payload(1001, 92, b"split"))
        proc = build("mvq", "--name", "mvq", "--payload", "odd.pak", "--out", "mvq.exe", cwd=tmp_path())
        # A relative --out is taken from the current folder.
        self.assertEqual(os.path.realpath(out_of(proc)), os.path.realpath(tmp_path("mvq.exe")))
        pe = PE(read(tmp_path("mvq.exe")))
        first, rest = pe.resource("PAK", "MVQ1"), pe.resource("PAK", "MVQ2")
        self.assertEqual(len(first), 500)
        self.assertEqual(first + rest, read(path))
        self.assertIsNone(pe.resource("PAK", "MVQ"))

    def test_x86_writes_the_installer_and_its_diagnostic_alone(self):
        folder = tmp_path("x86-alone")
        build("x86-alone", "--out", os.path.join(folder, "setup.exe"))
        self.assertEqual(sorted(os.listdir(folder)), [DIAGNOSTIC, "setup.exe"])

    def test_only_the_exact_split_name_splits(self):
        # The installer looks for the halves only under the name "mvq" itself.
        pe = PE(read(out_of(build("MVQ", "--name", "MVQ", "--out", tmp_path("MVQ.exe")))))
        self.assertEqual(pe.resource("PAK", "MVQ"), read(SAMPLE))
        self.assertIsNone(pe.resource("PAK", "MVQ1"))

    def test_kind_title_and_extreme_version(self):
        title = "Тест «Ёж» №5 версии "
        # Neither a ';' (CMake's list separator) nor a backslash (its escape) in the path reaches
        # CMake: the payload goes to it as a copy under a plain name.
        payload = write(tmp_path("data;v7\\${x}.3bs"), b"3BS\0\0\0\x07" + bytes(range(200)))
        proc = build("3bs", "--ext", "3bs", "--payload", payload, "--name", "Ext_Pack",
                     "--version", "-2147483648", "--title", title, "--out", tmp_path("3bs.exe"))
        pe = PE(read(out_of(proc)))
        self.assertEqual(pe.resource("3BS", "EXT_PACK"), read(payload))
        self.assertIsNone(pe.resource("PAK", "MVM3"))
        self.assertIn(title.encode("utf-16-le"), pe.data)
        self.assertEqual(len(proc.stderr.splitlines()), 1)   # 7 in the file, not -2147483648
        self.assertIn("warning", proc.stderr)


class VersionWarning(unittest.TestCase):
    def assertWarned(self, proc, warned):
        lines = [line for line in proc.stderr.splitlines() if "--payload" not in line]  # the sample's
        if warned:
            self.assertEqual(len(lines), 1, proc.stderr)
            self.assertIn("warning", lines[0])
            self.assertIn("version", lines[0])
        else:
            self.assertEqual(lines, [])
        self.assertTrue(os.path.isfile(out_of(proc)))  # built either way

    def test_pak(self):
        self.assertWarned(build("v93", "--version", "93", "--out", tmp_path("v93.exe")), True)
        self.assertWarned(default_build(), False)

    def test_lng_with_langver_header(self):
        text = b"[Strings]\r\nyes=Yes\r\n[LangVer]\r\n 93\r\n[Other]\r\nno=No\r\n"
        payload = write(tmp_path("ru.lng"), text)
        same = build("lng93", "--ext", "lng", "--payload", payload, "--version", "93",
                     "--out", tmp_path("lng93.exe"))
        self.assertWarned(same, False)
        other = build("lng94", "--ext", "lng", "--payload", payload, "--version", "94",
                      "--out", tmp_path("lng94.exe"))
        self.assertWarned(other, True)
        self.assertEqual(PE(read(out_of(other))).resource("LNG", "MVM3"), text)

    def test_lng_hex_version_is_read_as_its_32_bits(self):
        payload = write(tmp_path("hex.lng"), b"[langver]\r\n$FFFFFFFF\r\n")
        self.assertWarned(build("lnghex", "--ext", "lng", "--payload", payload, "--version", "-1",
                                "--out", tmp_path("lnghex.exe")), False)


if __name__ == "__main__":
    unittest.main(verbosity=2)

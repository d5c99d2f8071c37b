#!/usr/bin/env python3
"""tools/inspect-installer on built installers of both architectures, a split one, a signed one,
a damaged copy and files that are no installers."""

import hashlib
import struct
import unittest

from harness import (INSPECT, SAMPLE, InstallerPE, build, default_build, out_of, read, run_tool, tmp_path,
                     write)
from test_signing import SUBJECT, signing_args


def inspect(path):
    proc = run_tool(path, tool=INSPECT)
    facts = {}
    for line in proc.stdout.splitlines():
        name, _, value = line.partition(": ")
        facts[name] = value
    return proc, facts


class InspectsBuiltInstallers(unittest.TestCase):
    def test_default_builds(self):
        for arch, form in (("x86", "x86 (PE32, i386)"), ("x64", "x64 (PE32+, x86-64)")):
            with self.subTest(arch=arch):
                proc, facts = inspect(out_of(default_build(arch)))
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(proc.stderr, "")
                expected = {
                    "architecture": form,
                    "payload": "mvm3.pak (resources PAK/MVM3)",
                    "payload kind": "pak",
                    "payload version": "92",
                    "title": '["Тарвелин 3" версии ]',
                    "payload size": "4,194,304 bytes",
                    "payload SHA-256": hashlib.sha256(read(SAMPLE)).hexdigest(),
                    "file version": "92.0.0.0",
                    "version information FileDescription": 'Mirvane update: "Тарвелин 3" версии 92',
                    "version information CompanyName": "Mirvane",
                    "version information OriginalFilename": "mvm3-setup.exe",
                    "icon sizes": "16 px, 32 px, 48 px, 256 px",
                    "terminal-server aware": "yes",
                    "integrity stamp": "intact",
                    "signature": "none",
                }
                self.assertEqual({k: facts.get(k) for k in expected}, expected)
                self.assertRegex(facts["PE checksum"], r"^0x[0-9A-F]{8} correct$")

    def test_split_payload_is_joined(self):
        payload = write(tmp_path("inspect-split.pak"), bytes(range(256)) * 3 + b"odd")
        proc, facts = inspect(out_of(build("inspect-mvq", "--name", "mvq", "--payload", payload, "--version", "0",
                                           "--out", tmp_path("inspect-mvq.exe"))))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(facts["payload"], "mvq.pak (resources PAK/MVQ1, PAK/MVQ2)")
        self.assertEqual(facts["payload size"], "771 bytes")
        self.assertEqual(facts["payload SHA-256"], hashlib.sha256(read(payload)).hexdigest())

    def test_signed_build_names_its_signer(self):
        out = tmp_path("inspect-signed", "mvm3-setup.exe")
        build("inspect-signed", "--arch", "x64", *signing_args("plain-key"), "--out", out)
        proc, facts = inspect(out)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(facts["signature"], f"present (not verified here), signer {SUBJECT}")
        self.assertEqual(facts["integrity stamp"], "intact")
        self.assertRegex(facts["PE checksum"], r"correct$")


class InspectsDamage(unittest.TestCase):
    def test_a_changed_byte_breaks_stamp_and_checksum(self):
        data = bytearray(read(out_of(default_build())))
        data[len(data) // 2] ^= 0x01
        proc, facts = inspect(write(tmp_path("inspect-damaged.exe"), bytes(data)))
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(facts["integrity stamp"], "distorted")
        self.assertRegex(facts["PE checksum"], r"^0x[0-9A-F]{8} wrong, 0x[0-9A-F]{8}$")

    def test_an_installer_without_version_information_still_shows_its_payload(self):
        # As an installer built before the builder wrote version information: the payload is the
        # resource of a named type.
        image = InstallerPE(read(out_of(default_build())))
        data = bytearray(image.data)
        root = image.offset(image.directories[2][0])
        named, ids = struct.unpack_from("<HH", data, root + 12)
        for i in range(named + ids):
            if struct.unpack_from("<I", data, root + 16 + 8 * i)[0] == 16:
                struct.pack_into("<I", data, root + 16 + 8 * i, 0x7FFF)
        proc, facts = inspect(write(tmp_path("inspect-old.exe"), bytes(data)))
        self.assertEqual(facts["payload"], "unknown name (resources PAK/MVM3)")
        self.assertEqual(facts["payload version"], "unknown")
        self.assertEqual(facts["payload SHA-256"], hashlib.sha256(read(SAMPLE)).hexdigest())
        self.assertEqual(facts["icon sizes"], "16 px, 32 px, 48 px, 256 px")
        self.assertEqual(proc.returncode, 1, "the changed byte breaks the stamp")

    def test_no_installer_at_all(self):
        for what, path in (("missing", tmp_path("no-such.exe")), ("text", write(tmp_path("text.exe"), b"MZ" * 10)),
                           ("folder", tmp_path())):
            with self.subTest(what=what):
                proc, _ = inspect(path)
                self.assertEqual(proc.returncode, 2)
                self.assertEqual(proc.stdout, "")
                self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
        for args in ((), ("a", "b")):
            proc = run_tool(*args, tool=INSPECT)
            self.assertEqual((proc.returncode, proc.stderr), (2, "usage: tools/inspect-installer FILE\n"))


if __name__ == "__main__":
    unittest.main(verbosity=2)

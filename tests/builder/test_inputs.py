#!/usr/bin/env python3
"""Builder inputs that once went badly: an output that is one of the inputs, payloads that are
not regular files or too small to split, and the warnings of the sample payload and of a title
glued to its version. Each refusal is checked for both architectures."""

import os
import subprocess
import unittest

from harness import (ARCHES, DIAGNOSTIC, REPO, TOOL, RefusalCase, build, out_of, read, tmp_path, warnings_of,
                     write)
from builder.request import make_request

DATA = b"publisher's data, not to be overwritten" * 10


class RefusesAnOutputThatIsAnInput(RefusalCase):
    def setUp(self):
        self.folder = tmp_path("clash")
        os.makedirs(self.folder, exist_ok=True)

    def assertClash(self, args, out, *inputs):
        """Refused with its own --out (not RefusalCase's), and every input as it was."""
        before = {path: read(path) for path in inputs}
        for arch in ARCHES:
            proc = subprocess.run([TOOL, "--arch", arch, "--out", out, *args], stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual(proc.returncode, 1, f"{arch} {args}: {proc.stderr!r}")
            self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
            self.assertIn("would overwrite", proc.stderr)
            for path, data in before.items():
                self.assertEqual(read(path), data, f"{arch}: {path} changed")

    def test_out_naming_the_payload_by_any_path(self):
        payload = write(os.path.join(self.folder, "addon.pak"), DATA)
        linked = os.path.join(self.folder, "hard-link.exe")
        symlinked = os.path.join(self.folder, "symlink.exe")
        for path in (linked, symlinked):
            if os.path.lexists(path):
                os.unlink(path)
        os.link(payload, linked)
        os.symlink(payload, symlinked)
        for out in (payload, os.path.join(self.folder, ".", "addon.pak"), linked, symlinked):
            with self.subTest(out=out):
                self.assertClash(["--payload", payload], out, payload)

    def test_out_naming_the_icon_or_a_signing_file(self):
        icon = write(os.path.join(self.folder, "mine.ico"), read(os.path.join(REPO, "src/app/res/installer.ico")))
        self.assertClash(["--icon", icon], icon, icon)
        key = write(os.path.join(self.folder, "key.pem"), b"not read: refused before")
        cert = write(os.path.join(self.folder, "cert.pem"), b"not read either")
        self.assertClash(["--sign-cert", cert, "--sign-key", key], key, key, cert)

    def test_diagnostic_beside_out_naming_the_payload(self):
        # describe-windows.exe is written into --out's folder, whatever the arch.
        payload = write(os.path.join(self.folder, DIAGNOSTIC), DATA)
        self.assertClash(["--payload", payload], os.path.join(self.folder, "setup.exe"), payload)

    def test_the_sample_is_an_input_too(self):
        sample = os.path.join(REPO, "build", "payload", "mvm3-sample.pak")
        existing = [sample] if os.path.exists(sample) else []
        self.assertClash([], sample, *existing)


class RefusesPayloadsThatAreNoRegularFiles(RefusalCase):
    def test_fifo_is_refused_not_waited_for(self):
        fifo = tmp_path("waits-for-a-writer.pak")
        if not os.path.exists(fifo):
            os.mkfifo(fifo)
        self.assertRefused(["--payload", fifo], "payload", "not a regular file", "fifo", arches=ARCHES)

    def test_devices_are_refused(self):
        self.assertRefused(["--payload", "/dev/zero"], "payload", "not a regular file", "device", arches=ARCHES)

    def test_process_substitution_is_refused_in_one_line(self):
        for arch in ARCHES:
            out = tmp_path(f"substituted-{arch}.exe")
            proc = subprocess.run(["bash", "-c", f'"$0" --arch {arch} --payload <(printf data) --out "$1"', TOOL, out],
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
            self.assertEqual(proc.returncode, 1, proc.stderr)
            self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
            self.assertIn("not a regular file", proc.stderr)
            self.assertFalse(os.path.exists(out))


class RefusesASplitPayloadTooSmallToSplit(RefusalCase):
    def test_one_byte_cannot_be_split(self):
        one = write(tmp_path("one-byte.pak"), b"\x01")
        self.assertRefused(["--name", "mvq", "--payload", one], "too small to split", arches=ARCHES)

    def test_two_bytes_can(self):
        # The icon is read after the payload: a refusal naming it shows that the payload passed.
        two = write(tmp_path("two-bytes.pak"), b"\x01\x02")
        self.assertRefused(["--name", "mvq", "--payload", two, "--icon", tmp_path("none.ico")], "icon", "not found",
                           arches=ARCHES)

    def test_one_byte_is_fine_unsplit(self):
        one = write(tmp_path("one-byte.pak"), b"\x01")
        self.assertRefused(["--payload", one, "--icon", tmp_path("none.ico")], "icon", "not found")


class Warnings(unittest.TestCase):
    def test_title_glued_to_its_version(self):
        for arch in ARCHES:
            with self.subTest(arch=arch):
                payload = write(tmp_path("glued.pak"), b"\0" * 6 + (5).to_bytes(2, "little"))
                proc = build(f"glued-{arch}", "--arch", arch, "--payload", payload, "--version", "5",
                             "--title", "Тарвелин выпуск", "--out", tmp_path(f"glued-{arch}.exe"))
                self.assertEqual(warnings_of(proc), [
                    "build-installer: warning: the title does not end in a blank, so the version follows it "
                    "directly: Тарвелин выпуск5"])
                self.assertTrue(os.path.isfile(out_of(proc)))

    def test_which_titles_are_glued(self):
        payload = write(tmp_path("any.pak"), b"data")
        for title, glued in (("Тарвелин версии ", False), ("Тарвелин\u00a0", False), ("Тарвелин", True),
                             ("Тарвелин\t", True)):
            with self.subTest(title=title):
                request = make_request({"title": title, "payload": payload}, REPO, tmp_path("sample"))
                self.assertEqual(any("title" in w for w in request.warnings), glued, request.warnings)
                self.assertFalse(any("sample" in w for w in request.warnings))

    def test_the_sample_is_named_whenever_it_is_used(self):
        for arch in ARCHES:
            request = make_request({"arch": arch, "name": "mvq", "ext": "dat"}, REPO, tmp_path("sample"))
            self.assertEqual(len(request.warnings), 1)
            self.assertRegex(request.warnings[0], r"^warning: no --payload: .*sample.* as mvq\.dat")

if __name__ == "__main__":
    unittest.main(verbosity=2)

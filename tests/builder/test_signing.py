#!/usr/bin/env python3
"""Signing in the build command, on both architectures: with a PKCS#12 file or a certificate and
key, the password from a file or the environment (never on osslsigncode's command line), the
time-stamping server passed on, and a failed signing that leaves nothing at --out. The keys are
made here for this run."""

import http.server
import os
import stat
import subprocess
import threading
import unittest

from harness import ARCHES, TMP, InstallerPE, RefusalCase, build, builder, read, run_tool, tmp_path, write
from builder import signature
from builder.pe import CERTIFICATE_ENTRY

SUBJECT = "CN=Тарвелин Publisher, O=Example Ltd"
PASSWORD = "p@ss word;$HOME"


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, stdin=subprocess.DEVNULL)


def make_keys():
    """Certificate, plain key, key encrypted with PASSWORD, and a PKCS#12 file with both."""
    keys = tmp_path("keys")
    os.makedirs(keys, exist_ok=True)
    paths = {name: os.path.join(keys, name) for name in ("cert.pem", "key.pem", "key-enc.pem", "both.p12",
                                                         "password")}
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8",
            "-subj", "/CN=Тарвелин Publisher/O=Example Ltd", "-keyout", paths["key.pem"], "-out", paths["cert.pem"])
    openssl("pkey", "-in", paths["key.pem"], "-aes256", "-passout", f"pass:{PASSWORD}", "-out", paths["key-enc.pem"])
    openssl("pkcs12", "-export", "-inkey", paths["key.pem"], "-in", paths["cert.pem"], "-out", paths["both.p12"],
            "-passout", f"pass:{PASSWORD}")
    write(paths["password"], (PASSWORD + "\n").encode())
    return paths


KEYS = None


def keys():
    global KEYS
    if KEYS is None:
        KEYS = make_keys()
    return KEYS


def signing_args(method):
    k = keys()
    return {"pkcs12-file": ["--sign-pkcs12", k["both.p12"], "--sign-password-file", k["password"]],
            "pkcs12-env": ["--sign-pkcs12", k["both.p12"]],
            "key-env": ["--sign-cert", k["cert.pem"], "--sign-key", k["key-enc.pem"]],
            "key-file": ["--sign-cert", k["cert.pem"], "--sign-key", k["key-enc.pem"], "--sign-password-file",
                         k["password"]],
            "plain-key": ["--sign-cert", k["cert.pem"], "--sign-key", k["key.pem"]]}[method]


def password_env(method):
    return {"MV_SIGN_PASSWORD": PASSWORD} if method.endswith("-env") else {"MV_SIGN_PASSWORD": ""}


class SignsInTheSameCommand(unittest.TestCase):
    # One method per arch builds; the other runs again on the same build (signing only).
    METHODS = {"x86": ("pkcs12-file", "key-env"), "x64": ("key-env", "pkcs12-file")}

    def signed(self, arch, method):
        out = tmp_path(f"signed-{arch}", "mvm3-setup.exe")
        build(f"signed-{arch}-{method}", "--arch", arch, *signing_args(method), "--out", out, env=password_env(method))
        return out

    def test_verifies_against_the_certificate_and_passes_its_own_check(self):
        tool = builder.build_tool()
        for arch, methods in self.METHODS.items():
            for method in methods:
                with self.subTest(arch=arch, method=method):
                    out = self.signed(arch, method)
                    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", keys()["cert.pem"], "-in", out],
                                              capture_output=True, text=True, stdin=subprocess.DEVNULL)
                    self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
                    self.assertIn("Signature verification: ok", verified.stdout)
                    self.assertIn('Text description: Mirvane update: "Тарвелин 3" версии 92', verified.stdout)
                    for verb, answer in (("verify", "intact"), ("checksum", "correct")):
                        checked = subprocess.run([tool, verb, out], capture_output=True, text=True)
                        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                        self.assertIn(answer, checked.stdout)
                    image = InstallerPE(read(out))
                    self.assertEqual(signature.signer_subject(image.certificate_table()), SUBJECT)
                    self.assertEqual(os.listdir(os.path.dirname(out)).count("mvm3-setup.exe"), 1)
                    self.assertFalse([f for f in os.listdir(os.path.dirname(out)) if f.startswith(".")],
                                     "scratch files left beside the output")
                    umask = os.umask(0)
                    os.umask(umask)
                    self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o666 & ~umask)

    def test_signing_adds_only_the_signature_to_the_unsigned_build(self):
        signed = read(self.signed("x86", "pkcs12-file"))
        unsigned = read(build("unsigned-x86", "--out", tmp_path("unsigned-x86", "mvm3-setup.exe")).stdout.strip())
        image = InstallerPE(signed)
        entry = image.checksum_at - 64 + 96 + 8 * CERTIFICATE_ENTRY  # PE32: the data directory at 96
        self.assertEqual(image.directories[CERTIFICATE_ENTRY][0], len(unsigned))
        skip = set(range(image.checksum_at, image.checksum_at + 4)) | set(range(entry, entry + 8))
        changed = [i for i in range(len(unsigned)) if signed[i] != unsigned[i] and i not in skip]
        self.assertEqual(changed, [])

    def test_password_never_on_the_command_line(self):
        # A stand-in osslsigncode ahead on PATH records how it was called, then signs for real.
        folder = tmp_path("recording")
        os.makedirs(folder, exist_ok=True)
        log = os.path.join(folder, "calls")
        wrapper = write(os.path.join(folder, "osslsigncode"),
                        f'#!/bin/sh\nprintf "%s\\n" "$@" >>"{log}"\nexec /usr/bin/osslsigncode "$@"\n'.encode())
        os.chmod(wrapper, 0o755)
        for arch, method in (("x86", "pkcs12-file"), ("x64", "key-env")):
            env = dict(password_env(method), PATH=f"{folder}:{os.environ['PATH']}")
            proc = run_tool("--arch", arch, *signing_args(method), "--out", tmp_path(f"recorded-{arch}.exe"), env=env)
            self.assertEqual(proc.returncode, 0, proc.stderr)
        calls = read(log).decode()
        self.assertEqual(calls.count("-readpass"), 2)
        self.assertNotIn(PASSWORD, calls)
        self.assertNotIn(PASSWORD.split()[0], calls)


class FakeTimestampServer(http.server.BaseHTTPRequestHandler):
    requests = []

    def do_POST(self):  # noqa: N802  (the name http.server calls)
        self.requests.append((self.headers.get("Content-Type"), self.rfile.read(int(self.headers["Content-Length"]))))
        self.send_response(503)
        self.end_headers()

    def log_message(self, *args):
        pass


class FailedSigningLeavesNothing(unittest.TestCase):
    def assertFailed(self, arch, args, env, *words):
        """Exit status 3 with one line, and neither a new file nor an older one at --out."""
        folder = tmp_path(f"failed-{arch}")
        os.makedirs(folder, exist_ok=True)
        out = write(os.path.join(folder, "mvm3-setup.exe"), b"an older installer")
        proc = run_tool("--arch", arch, *args, "--out", out, env=env, timeout=300)
        self.assertEqual(proc.returncode, 3, proc.stderr)
        lines = [line for line in proc.stderr.splitlines() if "warning" not in line]
        self.assertEqual(len(lines), 1, proc.stderr)
        for word in ("signing failed", *words):
            self.assertIn(word, lines[0])
        self.assertEqual(os.listdir(folder), [], "the older installer, or scratch files, left at --out")

    def test_wrong_or_missing_password(self):
        wrong = write(tmp_path("wrong-password"), b"not it\n")
        for arch in ARCHES:
            with self.subTest(arch=arch):
                self.assertFailed(arch, ["--sign-pkcs12", keys()["both.p12"], "--sign-password-file", wrong],
                                  {}, "PKCS#12")
                # Without a password an encrypted key fails at once: no prompt waits for a terminal.
                self.assertFailed(arch, signing_args("key-env"), {"MV_SIGN_PASSWORD": ""}, "key")

    def test_timestamp_url_is_passed_on(self):
        server = http.server.HTTPServer(("127.0.0.1", 0), FakeTimestampServer)
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            url = f"http://127.0.0.1:{server.server_port}/tsa"
            for arch in ARCHES:
                with self.subTest(arch=arch):
                    FakeTimestampServer.requests.clear()
                    self.assertFailed(arch, [*signing_args("plain-key"), "--timestamp-url", url], {}, "127.0.0.1")
                    self.assertTrue(FakeTimestampServer.requests, "no request reached the server")
                    self.assertEqual(FakeTimestampServer.requests[0][0], "application/timestamp-query")
        finally:
            server.shutdown()
            server.server_close()


class RefusesSigningInput(RefusalCase):
    def test_options_that_go_only_together(self):
        k = keys()
        cases = [
            (["--sign-cert", k["cert.pem"]], "needs --sign-key"),
            (["--sign-key", k["key.pem"]], "needs --sign-cert"),
            (["--sign-pkcs12", k["both.p12"], "--sign-cert", k["cert.pem"], "--sign-key", k["key.pem"]], "pkcs12"),
            (["--sign-password-file", k["password"]], "--sign-password-file needs"),
            (["--timestamp-url", "http://127.0.0.1/"], "--timestamp-url needs"),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                self.assertRefused(args, words, status=2, arches=ARCHES)

    def test_unreadable_files_empty_password_and_bad_urls(self):
        k = keys()
        fifo = os.path.join(TMP, "key-fifo.pem")
        if not os.path.exists(fifo):
            os.mkfifo(fifo)
        empty = write(tmp_path("empty-password"), b"\n")
        cases = [
            (["--sign-pkcs12", tmp_path("none.p12")], ["PKCS#12", "not found"]),
            (["--sign-cert", tmp_path("none.pem"), "--sign-key", k["key.pem"]], ["certificate", "not found"]),
            (["--sign-cert", k["cert.pem"], "--sign-key", fifo], ["private key", "not a regular file"]),
            (["--sign-pkcs12", write(tmp_path("empty.p12"), b"")], ["PKCS#12 file is empty"]),
            (["--sign-pkcs12", k["both.p12"], "--sign-password-file", empty], ["password file is empty"]),
            (["--sign-pkcs12", k["both.p12"], "--timestamp-url", "ftp://tsa.example/"], ["timestamp URL"]),
            (["--sign-pkcs12", k["both.p12"], "--timestamp-url", "http://"], ["timestamp URL"]),
            (["--sign-pkcs12", k["both.p12"], "--timestamp-url", "http://a b/"], ["timestamp URL"]),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                self.assertRefused(args, *words, arches=ARCHES)


if __name__ == "__main__":
    unittest.main(verbosity=2)

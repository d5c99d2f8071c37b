"""What the builder's tests share: running the builder, the builds that several tests look at
(each made once per run), a scratch folder, a PE reader that also reads imports, and keys to
sign with.

The builds share one build tree, so they run one after another; each one after the first takes
seconds.
"""

import atexit
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.path.join(REPO, "tools", "build-installer")
INSPECT = os.path.join(REPO, "tools", "inspect-installer")

sys.dont_write_bytecode = True  # nothing of the builder is left in the source tree
sys.path[:0] = [os.path.join(REPO, "tools"), os.path.join(REPO, "tests", "support")]
from builder import build as builder  # noqa: E402,F401  (the paths above come first)
from builder.pe import CERTIFICATE_ENTRY, PE  # noqa: E402
from byte_files import read, write  # noqa: E402,F401

SAMPLE = os.path.join(REPO, "build", "payload", "mvm3-sample.pak")
DEFAULT_OUT = os.path.join(REPO, "dist", "mvm3-setup.exe")
DEFAULT_OUT_X64 = os.path.join(REPO, "dist", "x64", "mvm3-setup.exe")
DEFAULT_TITLE = '"Тарвелин 3" версии '
ARCHES = ("x86", "x64")

IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64 = 0x14C, 0x8664
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
DIAGNOSTIC = "describe-windows.exe"

# DLLs every Windows installation has; anything else would have to ship beside the installer.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll", "msvcrt.dll",
    "gdi32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "comdlg32.dll", "version.dll",
    "uxtheme.dll", "ntdll.dll", "rpcrt4.dll", "userenv.dll", "bcrypt.dll", "crypt32.dll",
    "wintrust.dll", "psapi.dll", "ws2_32.dll", "dwmapi.dll",
}
# What the loader maps at process start: Windows takes these three from the system folder
# whatever lies beside the installer (msvcrt as a known DLL). Every other DLL is loaded on first
# use, from the system folder.
LOAD_TIME_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
DELAY_LOADED_DLLS = {"user32.dll", "shell32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll"}

TMP = tempfile.mkdtemp(prefix="builder-test-")
atexit.register(shutil.rmtree, TMP, ignore_errors=True)
BUILT = {}


def run_tool(*args, cwd=None, env=None, tool=TOOL, timeout=600):
    # The time limit turns a builder that hangs (on a FIFO, say) into a failure of its test.
    return subprocess.run([tool, *args], cwd=cwd or TMP, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, encoding="utf-8", errors="replace", timeout=timeout,
                          env=None if env is None else dict(os.environ, **env))


def build(key, *args, cwd=None, env=None):
    """Runs a build that must succeed; each distinct build runs once per test run."""
    if key not in BUILT:
        proc = run_tool(*args, cwd=cwd, env=env)
        if proc.returncode != 0:
            raise AssertionError(f"build-installer {' '.join(args)} failed ({proc.returncode}):\n"
                                 f"{proc.stdout}{proc.stderr}")
        BUILT[key] = proc
    return BUILT[key]


def default_build(arch="x86"):
    # Run from elsewhere: the default output lies in the repository, not the current folder.
    return build("default") if arch == "x86" else build("x64", "--arch", "x64")


def out_of(proc):
    lines = proc.stdout.splitlines()
    assert len(lines) == 1, f"expected the output path alone on stdout, got {proc.stdout!r}"
    return lines[0]


def tmp_path(*names):
    return os.path.join(TMP, *names)


def warnings_of(proc):
    return [line for line in proc.stderr.splitlines() if "warning" in line]


class RefusalCase(unittest.TestCase):
    """Every refusal is one line on stderr naming the problem, its exit status, and no change at
    --out: an older file there stays as it was, and none appears where there was none. With two
    arches, each takes one of the two cases (the checks come before anything depends on the arch)."""

    def assertRefused(self, args, *words, status=1, arches=("x86",)):
        existing = write(tmp_path("existing-setup.exe"), b"previous installer")
        fresh = tmp_path("fresh-setup.exe")
        if os.path.exists(fresh):
            os.unlink(fresh)
        outs = ((existing, b"previous installer"), (fresh, None))
        runs = [(arch, out) for arch in arches for out in outs] if len(arches) == 1 else list(zip(arches, outs))
        for arch, (out, expect) in runs:
            proc = run_tool(*(["--arch", arch] if arch != "x86" else []), "--out", out, *args, timeout=60)
            lines = proc.stderr.splitlines()
            self.assertEqual(proc.returncode, status, f"{arch} {args}: {proc.stderr!r}")
            self.assertEqual(len(lines), 1, f"{arch} {args}: stderr was {proc.stderr!r}")
            for word in words:
                self.assertIn(word.lower(), lines[0].lower(), f"{arch} {args}: {lines[0]!r}")
            self.assertEqual(proc.stdout, "")
            if expect is None:
                self.assertFalse(os.path.exists(out), f"{arch} {args} created {out}")
            else:
                self.assertEqual(read(out), expect, f"{arch} {args} changed {out}")


# --- a PE reader that also reads imports ---------------------------------------------------


class InstallerPE(PE):
    def imported_dlls(self):
        rva, size = self.directories[1]
        if not rva:
            return []
        names, at = [], self.offset(rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if not any(descriptor):
                return names
            names.append(self.cstring(descriptor[3]))
            at += 20

    def delay_descriptors(self):
        """(dll, IAT RVA, name-table RVA) of each delay-import descriptor. binutils' linker leaves
        the data directory of the delay imports empty (the helper finds each descriptor through
        its thunks), so they are found by their shape: attribute 1 (RVAs), a DLL name, and a name
        table of by-name entries, in the code section where dlltool puts them."""
        for name, _, _, raw_ptr, raw_size in self.sections:
            if name != ".text":
                continue
            for at in range(raw_ptr, raw_ptr + raw_size - 32, 4):
                attrs, dll_rva, hmod, iat, int_rva, _, _, stamp = struct.unpack_from("<8I", self.data, at)
                if attrs != 1 or stamp or not (dll_rva and hmod and iat and int_rva):
                    continue
                try:
                    dll = self.cstring(dll_rva)
                    self.offset(int_rva)
                except (ValueError, UnicodeDecodeError):
                    continue
                if dll.lower().endswith(".dll"):
                    yield dll.lower(), iat, int_rva

    def pointers(self, rva):
        """The pointer-sized values from `rva` up to the first zero."""
        size, at, values = 8 if self.pe32plus else 4, self.offset(rva), []
        while (value := int.from_bytes(self.data[at:at + size], "little")) != 0:
            values.append(value)
            at += size
        return values

    def delay_imports(self):
        """{dll: [function names]} of the delay-import descriptors."""
        return {dll: [self.cstring(entry + 2) for entry in self.pointers(int_rva)]  # past the hint
                for dll, _, int_rva in self.delay_descriptors()}

    def delay_slots(self):
        """{dll: (function count, [initial slot values])}. Until the first call, each slot of a
        delay import holds the address of the function's thunk, which loads the DLL; the list
        stops at the first slot that is zero."""
        return {dll: (len(self.pointers(int_rva)), self.pointers(iat))
                for dll, iat, int_rva in self.delay_descriptors()}

    def code_range(self):
        """Addresses (image base included) of the code section."""
        for name, va, size, _, _ in self.sections:
            if name == ".text":
                return range(self.image_base + va, self.image_base + va + size)
        return range(0)


def expect_delay_loading(test, pe):
    """Load-time imports are exactly LOAD_TIME_DLLS, and the windowing and COM DLLs are delay-imported
    under their plain names (a 32-bit name that kept its @n would not be found at run time)."""
    test.assertEqual({d.lower() for d in pe.imported_dlls()}, LOAD_TIME_DLLS)
    delayed = pe.delay_imports()
    test.assertEqual(set(delayed), DELAY_LOADED_DLLS)
    test.assertIn("GetSystemMetrics", delayed["user32.dll"])
    test.assertIn("SHGetFileInfoW", delayed["shell32.dll"])
    test.assertIn("CoCreateInstance", delayed["ole32.dll"])
    for functions in delayed.values():
        for function in functions:
            test.assertRegex(function, r"^[A-Za-z]\w*$")
    expect_delay_slots(test, pe)


def expect_delay_slots(test, pe):
    # Every slot must start out at its function's thunk. i686 binutils drops the thunk of an
    # import whose code calls it only through the slot, as a plain import's thunk would be
    # unused, and the relocation of the slot then makes it 0: a call to address 0 at the first
    # use (cmake/windows.cmake generates the reference that keeps every thunk).
    for dll, (count, slots) in pe.delay_slots().items():
        test.assertEqual(len(slots), count, f"{dll}: a slot holds no thunk address")
        for slot in slots:
            test.assertIn(slot, pe.code_range(), f"{dll}: a slot points outside the code")


# --- the integrity stamp, worked out apart from the stamp tool ----------------------------

STAMP_PIECE = 16 << 20
STAMP_MARKER = b"mvsetup\0stamp\x01\xa5\x5a"
STAMP_TAG = b"mvsetup pieces\0\x01"
TRAILER = 48


def stamp_digest(data):
    """(where the trailer starts, the digest it must hold) of an installer, by the stamp's rule
    with hashlib: the content (every byte before the trailer, which ends at the certificate table
    of a signed file) cut into 16 MiB pieces, each hashed without the CheckSum field and the
    certificate-table entry, and SHA-256 over a tag, the piece length, the piece count and the
    content length (64-bit little-endian) and the pieces' digests."""
    pe = PE(data)
    certificates, size = pe.directories[CERTIFICATE_ENTRY]
    content = (certificates if certificates or size else len(data)) - TRAILER
    entry = pe.checksum_at - 64 + (112 if pe.pe32plus else 96) + 8 * CERTIFICATE_ENTRY
    skipped = sorted(set(range(pe.checksum_at, pe.checksum_at + 4)) | set(range(entry, entry + 8)), reverse=True)
    digests = []
    for begin in range(0, content, STAMP_PIECE):
        piece = bytearray(data[begin:min(begin + STAMP_PIECE, content)])
        for at in skipped:
            if begin <= at < begin + len(piece):
                del piece[at - begin]
        digests.append(hashlib.sha256(piece).digest())
    lengths = struct.pack("<QQQ", STAMP_PIECE, len(digests), content)
    return content, hashlib.sha256(STAMP_TAG + lengths + b"".join(digests)).digest()


def local(tag):
    return tag.rsplit("}", 1)[-1]

#!/usr/bin/env python3
"""What Windows shows of a built installer: the version information, the icon, the
terminal-server flag and the PE checksum, with the defaults and with the publisher's own, on both
architectures. (tests/win/built_installer_test.cpp reads the same through the Windows API.)"""

import os
import struct
import subprocess
import unittest
import zlib

from harness import ARCHES, REPO, InstallerPE, RefusalCase, build, builder, default_build, out_of, read, tmp_path, write
from builder import icons, version_info
from builder.pe import DLL_TERMINAL_SERVER_AWARE, RT_GROUP_ICON, RT_ICON, RT_VERSION
from builder.request import make_request

DEFAULT_ICON = os.path.join(REPO, "src", "app", "res", "installer.ico")
COMPANY = 'ООО «Тарвелин» & Co "Ltd"'
DESCRIPTION = 'Тарвелин 3: C:\\Games\\ "quoted" ; $HOME'
COPYRIGHT = "© 2026 Тарвелин"


def png(size):
    """A plain square PNG of one colour."""
    raw = b"".join(b"\0" + b"\x20\x40\x80\xff" * size for _ in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def bitmap(size, bits=32):
    """A square icon bitmap: header, colour rows, mask rows."""
    colour_row, mask_row = (size * bits + 31) // 32 * 4, (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, 0, 0)
    palette = b"\x10\x20\x30\x00" * (1 << bits) if bits <= 8 else b""
    return header + palette + b"\x7f" * colour_row * size + b"\0" * mask_row * size


def ico(*images):
    """An icon file of (size, bits, image bytes)."""
    data, entries = b"", b""
    offset = 6 + 16 * len(images)
    for size, bits, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(image), offset + len(data))
        data += image
    return struct.pack("<HHH", 0, 1, len(images)) + entries + data


def icon_images(data):
    """The image bytes of an icon file, in its order."""
    count = struct.unpack_from("<H", data, 4)[0]
    found = []
    for i in range(count):
        length, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        found.append(data[offset:offset + length])
    return found


def tool_checksum(path):
    tool = builder.build_tool()
    return subprocess.run([tool, "checksum", path], capture_output=True, text=True)


class Identity(unittest.TestCase):
    def assertIcon(self, image, icon_file):
        """Icon group 1 lists exactly the images of the icon file, each carried byte for byte."""
        entries = icons.group_entries(image.resource(RT_GROUP_ICON, 1))
        expected = icons.read_ico(icon_file)
        self.assertEqual([(w, h, bits) for w, h, bits, _ in entries], [(w, h, bits) for w, h, bits, _ in expected])
        for (_, _, _, icon_id), data in zip(entries, icon_images(icon_file)):
            self.assertEqual(image.resource(RT_ICON, icon_id), data)

    def assertPeDetails(self, path):
        image = InstallerPE(read(path))
        self.assertTrue(image.dll_characteristics & DLL_TERMINAL_SERVER_AWARE)
        checked = tool_checksum(path)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertEqual(checked.stdout.split()[0], f"0x{image.checksum:08X}")
        self.assertNotEqual(image.checksum, 0)
        return image


class DefaultIdentity(Identity):
    def test_version_strings_fixed_version_icon_flag_and_checksum(self):
        for arch in ARCHES:
            with self.subTest(arch=arch):
                path = out_of(default_build(arch))
                image = self.assertPeDetails(path)
                info = version_info.decode(image.resource(RT_VERSION, 1))
                self.assertEqual(info["strings"], {
                    "CompanyName": "Mirvane",
                    "FileDescription": 'Mirvane update: "Тарвелин 3" версии 92',
                    "FileVersion": "92.0.0.0",
                    "LegalCopyright": "Copyright © Mirvane",
                    "OriginalFilename": "mvm3-setup.exe",
                    "ProductName": "Mirvane",
                    "ProductVersion": "92",
                    "PayloadFile": "mvm3.pak",
                    "AddonTitle": '"Тарвелин 3" версии ',
                })
                self.assertEqual(info["file_version"], (92, 0, 0, 0))
                self.assertEqual(info["translations"], [(0x0409, 1200)])
                self.assertIcon(image, read(DEFAULT_ICON))

    def test_default_icon_has_the_four_sizes(self):
        self.assertEqual([(w, bits, kind) for w, _, bits, kind in icons.read_ico(read(DEFAULT_ICON))],
                         [(16, 4, "bmp"), (32, 4, "bmp"), (48, 4, "bmp"), (256, 32, "png")])

    def test_checksum_rule_agrees_with_the_linker(self):
        # ld computes the checksum of the image it links by its own code; the host tool's rule
        # must give the same for that file (stamping then changes the bytes and the checksum).
        for arch in ARCHES:
            checked = tool_checksum(os.path.join(REPO, "build", arch, "installer.exe"))
            self.assertEqual(checked.returncode, 0, checked.stdout)

    def test_file_version_defaults(self):
        sample = tmp_path("sample")
        for version, expected in (("0", (0, 0, 0, 0)), ("65535", (65535, 0, 0, 0)), ("65536", (0, 0, 0, 0)),
                                  ("-1", (0, 0, 0, 0))):
            request = make_request({"version": version}, REPO, sample)
            info = version_info.decode(request.version_info)
            self.assertEqual(info["file_version"], expected, version)
            self.assertEqual(info["strings"]["ProductVersion"], version)
            self.assertEqual(info["strings"]["FileDescription"], f'Mirvane update: "Тарвелин 3" версии {version}')


class PublisherIdentity(Identity):
    """The publisher's strings, file version and icon, with every character that a resource
    script or CMake would want escaped."""

    def test_own_strings_file_version_and_icon(self):
        icon = ico((24, 32, bitmap(24)), (20, 8, bitmap(20, 8)), (64, 32, png(64)))
        icon_path = write(tmp_path("publisher's icon.ico"), icon)
        payload = write(tmp_path("publisher.pak"), b"\0" * 6 + (7).to_bytes(2, "little"))
        for arch in ARCHES:
            with self.subTest(arch=arch):
                out = tmp_path(f"Пакет-{arch}-setup.exe")
                build(f"publisher-{arch}", "--arch", arch, "--payload", payload, "--version", "7",
                      "--company", COMPANY, "--description", DESCRIPTION, "--copyright", COPYRIGHT,
                      "--file-version", "3.1", "--icon", icon_path, "--out", out)
                image = self.assertPeDetails(out)
                info = version_info.decode(image.resource(RT_VERSION, 1))
                strings = info["strings"]
                self.assertEqual((strings["CompanyName"], strings["FileDescription"], strings["LegalCopyright"]),
                                 (COMPANY, DESCRIPTION, COPYRIGHT))
                self.assertEqual((strings["FileVersion"], strings["ProductVersion"]), ("3.1.0.0", "7"))
                self.assertEqual(strings["OriginalFilename"], f"Пакет-{arch}-setup.exe")
                self.assertEqual(info["file_version"], (3, 1, 0, 0))
                self.assertIcon(image, icon)


class RefusesBadIdentity(RefusalCase):
    def test_texts_that_windows_cannot_show_on_one_line(self):
        for option in ("--company", "--description", "--copyright"):
            for text in ("", "   ", "line\nbreak", "tab\there", "x" * 257):
                with self.subTest(option=option, text=text):
                    self.assertRefused([option, text], option[2:], arches=ARCHES)

    def test_file_versions_that_do_not_fit(self):
        for text in ("", "1.2.3.4.5", "65536", "1.65536", "1..2", "1.", ".1", "v1", "-1", "1.2.3.x", "1 .2"):
            with self.subTest(text=text):
                self.assertRefused(["--file-version", text], "file version", arches=ARCHES)

    def test_icons_that_are_no_icons(self):
        good = bitmap(16)
        cases = {
            "garbage": b"not an icon at all",
            "cursor": struct.pack("<HHH", 0, 2, 1) + ico((16, 32, good))[6:],
            "no images": struct.pack("<HHH", 0, 1, 0),
            "directory cut": ico((16, 32, good))[:12],
            "image outside": ico((16, 32, good))[:-10],
            "wrong size listed": ico((32, 32, good)),
            "not square": ico((16, 32, good[:8] + struct.pack("<i", 40) + good[12:])),
            "compressed bitmap": ico((16, 32, good[:16] + struct.pack("<I", 3) + good[20:])),
            "PNG without header": ico((64, 32, b"\x89PNG\r\n\x1a\n" + b"\0" * 40)),
        }
        for what, data in cases.items():
            with self.subTest(what=what):
                path = write(tmp_path(f"bad-{what}.ico"), data)
                self.assertRefused(["--icon", path], "invalid icon", path, arches=ARCHES)
        self.assertRefused(["--icon", tmp_path("no-such.ico")], "icon", "not found", arches=ARCHES)

    def test_valid_values_pass(self):
        # Values are checked before the payload: a refusal naming the payload shows they passed.
        missing = tmp_path("no-such.pak")
        for args in (["--company", COMPANY], ["--description", DESCRIPTION], ["--copyright", COPYRIGHT],
                     ["--description", "x" * 256], ["--file-version", "0"],
                     ["--file-version", "65535.65535.65535.65535"], ["--file-version", "1.02.003"]):
            with self.subTest(args=args):
                self.assertRefused([*args, "--payload", missing], "payload", "not found")


if __name__ == "__main__":
    unittest.main(verbosity=2)

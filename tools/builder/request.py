"""What one run of the builder is asked to make: every option checked, every input file read once
and the defaults filled in. Nothing is built or written here, so any refusal leaves --out as it
was."""

import os
from dataclasses import dataclass, field

from builder import icons, version_info
from builder.files import read_input, refuse_clash
from builder.options import (PASSWORD_VARIABLE, Failure, check_file_version, check_kind, check_name, check_text,
                             check_title, check_url, check_utf8, check_version, shown)

PRODUCT = "Mirvane"
UPDATE_TITLE = "Mirvane update"  # the installer's English caption
DEFAULT_TITLE = '"Тарвелин 3" версии '
SAMPLE_VERSION = 92
SPLIT_NAME = "mvq"
ARCHES = ("x86", "x64")
# The largest payload the shipped 32-bit installer is built with. Its loaded image holds the
# payload, in one piece of the address space: under the emulated 32-bit Wine the image must fit
# below the 32-bit libraries, which start at 1 GiB, and payloads up to about 1016 MiB install
# there (README, Reliability). The x64 twin has no such bound.
X86_PAYLOAD_LIMIT_MIB = 1000


def check_payload_size(arch, size):
    if arch == "x86" and size > X86_PAYLOAD_LIMIT_MIB << 20:
        raise Failure(f"payload too big for the x86 installer: {size} bytes, more than "
                      f"{X86_PAYLOAD_LIMIT_MIB} MiB ({X86_PAYLOAD_LIMIT_MIB << 20} bytes)")
# Built from the same sources as the installer, for the same architecture: the x86 one is what
# a supporter runs on a user's machine.
DIAGNOSTIC = "describe-windows"
BLANKS = (" ", "\u00a0")


@dataclass
class Request:
    arch: str
    name: str
    kind: str
    version: int
    title: str
    out: str
    payload: str  # the publisher's file, or the sample's path
    payload_data: bytes = None  # None: the sample, made when the build starts
    icon: bytes = b""
    version_info: bytes = b""
    signer: dict = None
    warnings: list = field(default_factory=list)

    @property
    def diagnostic(self):
        return os.path.join(os.path.dirname(self.out), f"{DIAGNOSTIC}.exe")


def output_path(opts, repo, arch, name):
    if "out" not in opts:
        return os.path.join(repo, "dist", *(["x64"] if arch == "x64" else []), f"{name}-setup.exe")
    if opts["out"] == "":
        raise Failure("invalid output: empty path")
    out = os.path.abspath(opts["out"])
    if os.path.isdir(out):
        raise Failure(f"invalid output: {shown(out)} is a folder")
    if os.path.basename(out).lower() == f"{DIAGNOSTIC}.exe":
        raise Failure(f"invalid output: {shown(out)} is the name of the diagnostic written beside it")
    check_utf8("output file name", os.path.basename(out))  # it goes into the version information
    return out


def identity(opts, request, file_name):
    """The version information, what Explorer's Details and the elevation prompt show, and the
    description that signing repeats."""
    given = {key: check_text(key, opts[key]) for key in ("company", "description", "copyright") if key in opts}
    company = given.get("company", PRODUCT)
    description = given.get("description", f"{UPDATE_TITLE}: {request.title}{request.version}")
    if "file-version" in opts:
        numbers = check_file_version(opts["file-version"])
    else:
        numbers = (request.version if 0 <= request.version <= 0xFFFF else 0, 0, 0, 0)
    strings = [("CompanyName", company), ("FileDescription", description),
               ("FileVersion", ".".join(map(str, numbers))),
               ("LegalCopyright", given.get("copyright", f"Copyright © {company}")),
               ("OriginalFilename", file_name), ("ProductName", PRODUCT),
               ("ProductVersion", str(request.version)),
               (version_info.PAYLOAD_FILE, f"{request.name}.{request.kind}"),
               (version_info.ADDON_TITLE, request.title)]
    return version_info.encode(numbers, strings), description


def read_signer(opts):
    """The signing files, checked to be readable now rather than after a build, and the password."""
    signer, inputs = {}, []
    for option, key, what in (("sign-pkcs12", "pkcs12", "PKCS#12 file"), ("sign-cert", "cert", "certificate"),
                              ("sign-key", "key", "private key")):
        if option in opts:
            if not read_input(opts[option], what):
                raise Failure(f"{what} is empty: {shown(opts[option])}")
            signer[key] = os.path.abspath(opts[option])
            inputs.append((signer[key], what))
    if "sign-password-file" in opts:
        signer["password"] = read_input(opts["sign-password-file"], "password file")
        if not signer["password"].strip():
            raise Failure(f"password file is empty: {shown(opts['sign-password-file'])}")
        inputs.append((opts["sign-password-file"], "password file"))
    else:
        signer["password"] = os.environ.get(PASSWORD_VARIABLE, "").encode("utf-8", "surrogateescape") or None
    if "timestamp-url" in opts:
        signer["timestamp_url"] = check_url(opts["timestamp-url"])
    return signer, inputs


def make_request(opts, repo, sample):
    arch = opts.get("arch", "x86")
    if arch not in ARCHES:
        raise Failure(f"unknown arch: {arch} (x86 or x64)")
    name = check_name(opts.get("name", "mvm3"))
    kind = check_kind(opts.get("ext", "pak"))
    version = check_version(opts.get("version", str(SAMPLE_VERSION)))
    title = check_title(opts.get("title", DEFAULT_TITLE))
    out = output_path(opts, repo, arch, name)
    request = Request(arch, name, kind, version, title, out, sample)
    request.version_info, description = identity(opts, request, os.path.basename(out))
    # Values first, files after: a refusal that names the payload shows that every value passed.
    inputs = []
    if "payload" in opts:
        # The size is refused before a byte is read.
        request.payload_data = read_input(opts["payload"], "payload", lambda size: check_payload_size(arch, size))
        request.payload = os.path.abspath(opts["payload"])
        if not request.payload_data:
            raise Failure(f"payload is empty: {shown(opts['payload'])}")
        if name == SPLIT_NAME and len(request.payload_data) < 2:
            raise Failure(f"payload too small to split: {shown(opts['payload'])} has 1 byte, and each of the "
                          f"resources {SPLIT_NAME}1 and {SPLIT_NAME}2 needs one at least")
    else:
        request.warnings.append(f"warning: no --payload: the installer carries the generated 4 MiB sample "
                                f"({shown(sample)}) as {name}.{kind}, which is no one's data")
    inputs.append((request.payload, "payload"))
    icon_path = opts.get("icon", os.path.join(repo, "src", "app", "res", "installer.ico"))
    request.icon = read_input(icon_path, "icon")
    try:
        icons.read_ico(request.icon)
    except ValueError as e:
        raise Failure(f"invalid icon: {shown(icon_path)}: {e}") from None
    inputs.append((icon_path, "icon"))
    if "sign-pkcs12" in opts or "sign-cert" in opts:
        request.signer, signing_inputs = read_signer(opts)
        request.signer["description"] = description
        inputs += signing_inputs
    for written in (out, request.diagnostic):
        refuse_clash(written, inputs)
    if not title.endswith(BLANKS):
        request.warnings.append(f"warning: the title does not end in a blank, so the version follows it directly: "
                                f"{shown(title)}{version}")
    return request

"""The builder's command line: its options, and the checks that turn bad input into one line."""

import re

PROG = "build-installer"
PASSWORD_VARIABLE = "MV_SIGN_PASSWORD"

USAGE = f"""usage: tools/{PROG} [--arch x86|x64] [--payload FILE] [--name NAME] [--version N]
                             [--ext KIND] [--title TEXT] [--out FILE] [--icon FILE.ico]
                             [--company TEXT] [--description TEXT] [--copyright TEXT]
                             [--file-version A.B.C.D]
                             [--sign-pkcs12 FILE | --sign-cert FILE --sign-key FILE]
                             [--sign-password-file FILE] [--timestamp-url URL]

Builds the installer for one add-on data file and writes it stamped (and signed, when asked).

  --arch x86|x64   target architecture (default x86; x64 is the twin the tests run)
  --payload FILE   the data file to carry, a regular file (default: a generated 4 MiB sample,
                   version 92, with a warning: it is no one's data)
  --name NAME      base name of the data file and name of its resource (default mvm3);
                   the name mvq splits the payload (2 bytes at least) over mvq1 and mvq2
  --version N      payload version shown to the user, a 32-bit signed integer (default 92)
  --ext KIND       extension of the data file and type of its resource (default pak)
  --title TEXT     add-on title in UTF-8, representable in code page 1251; the version
                   follows it directly, so end it with a blank (a warning says when not)
                   (default: "Тарвелин 3" версии  with a trailing blank)
  --out FILE       output file (default dist/NAME-setup.exe, dist/x64/NAME-setup.exe for x64);
                   describe-windows.exe of the same architecture is written into the same
                   folder; neither may be one of the inputs

What Windows shows of the file (version information, in Unicode):
  --icon FILE.ico  the installer's icon (default: the package icon, 16, 32, 48 and 256 px)
  --company TEXT   CompanyName (default Mirvane)
  --description TEXT
                   FileDescription (default: Mirvane update: TITLE + version)
  --copyright TEXT LegalCopyright (default: Copyright © COMPANY)
  --file-version A[.B[.C[.D]]]
                   FileVersion, each part 0-65535 (default N.0.0.0, 0.0.0.0 when the version
                   is outside 0-65535); ProductVersion is the version N

Signing (osslsigncode; the password is never taken on the command line):
  --sign-pkcs12 FILE           certificate and key in one PKCS#12 file
  --sign-cert FILE --sign-key FILE
                               certificate (chain) and private key, PEM or DER
  --sign-password-file FILE    the password (else the environment variable
                               {PASSWORD_VARIABLE}, else none)
  --timestamp-url URL          an RFC 3161 time-stamping server (http or https)

  -h, --help       show this help

Exit status: 0 written; 1 input refused (nothing written, --out as it was); 2 usage error;
3 a build step failed (compiling, stamping, signing): --out not written, and an older file
there removed, so that it cannot pass for this build's output.
"""

RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{i}" for d in ("COM", "LPT") for i in range(1, 10)}
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
TEXT_LIMIT = 256
# The exit statuses (USAGE above says what each means).
REFUSED, USAGE_ERROR, BUILD_STEP_FAILED = 1, 2, 3


class Failure(Exception):
    """A problem reported as a single line; the exit status goes with it."""

    def __init__(self, message, status=REFUSED):
        super().__init__(message)
        self.status = status


# --- options -----------------------------------------------------------------------------

OPTIONS = ("--arch", "--payload", "--name", "--version", "--ext", "--title", "--out", "--icon", "--company",
           "--description", "--copyright", "--file-version", "--sign-pkcs12", "--sign-cert", "--sign-key",
           "--sign-password-file", "--timestamp-url")


def parse_args(argv):
    """Hand-rolled so that every mistake is one line and values starting with '-' pass."""
    values = {}
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg in ("-h", "--help"):
            return None
        key, sep, value = arg.partition("=")
        if key not in OPTIONS:
            if arg.startswith("-"):
                raise Failure(f"unknown option: {key}", USAGE_ERROR)
            raise Failure(f"unexpected argument: {arg}", USAGE_ERROR)
        if not sep:
            if i + 1 >= len(argv):
                raise Failure(f"option {key} needs a value", USAGE_ERROR)
            i += 1
            value = argv[i]
        values[key[2:]] = value
        i += 1
    check_signing_options(values)
    return values


def check_signing_options(values):
    """The signing options that make sense only together, or not together."""
    if "sign-pkcs12" in values and ("sign-cert" in values or "sign-key" in values):
        raise Failure("--sign-pkcs12 holds the certificate and the key: give it without --sign-cert/--sign-key",
                      USAGE_ERROR)
    for given, missing in (("sign-cert", "sign-key"), ("sign-key", "sign-cert")):
        if given in values and missing not in values:
            raise Failure(f"--{given} needs --{missing}", USAGE_ERROR)
    signing = "sign-pkcs12" in values or "sign-cert" in values
    for option in ("sign-password-file", "timestamp-url"):
        if option in values and not signing:
            raise Failure(f"--{option} needs --sign-pkcs12 or --sign-cert and --sign-key", USAGE_ERROR)


# --- validation --------------------------------------------------------------------------


def shown(path):
    """A path fit for a one-line message."""
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in path)


def check_name(name):
    if not re.fullmatch(r"[A-Za-z][A-Za-z0-9_]{0,63}", name, re.ASCII):
        raise Failure(f"invalid name: {name!r} (1-64 of A-Z a-z 0-9 _, starting with a letter)")
    if name.upper() in RESERVED_NAMES:
        raise Failure(f"invalid name: {name!r} is a reserved Windows device name")
    return name


def check_kind(kind):
    if not re.fullmatch(r"[A-Za-z0-9_]{1,16}", kind, re.ASCII):
        raise Failure(f"invalid kind: {kind!r} (1-16 of A-Z a-z 0-9 _)")
    return kind


def check_version(text):
    if not re.fullmatch(r"[+-]?[0-9]+", text, re.ASCII):
        raise Failure(f"invalid version: {text!r} (a decimal 32-bit signed integer)")
    value = int(text)
    if not INT32_MIN <= value <= INT32_MAX:
        raise Failure(f"invalid version: {text} is outside the 32-bit signed range")
    return value


def check_title(title):
    if title == "":
        raise Failure("invalid title: the title is empty")
    check_utf8("title", title)
    if len(title) > TEXT_LIMIT:  # it goes into the version information too
        raise Failure(f"invalid title: longer than {TEXT_LIMIT} characters")
    try:
        title.encode("cp1251")
    except UnicodeEncodeError as e:
        raise Failure(f"invalid title: code page 1251 cannot represent {title[e.start:e.end]!r}") from None
    return title


def title_units(title):
    """The title as CMake takes it: comma-separated UTF-16 code units. cp1251 holds only BMP
    characters, so each one is a single unit."""
    return ",".join(f"0x{ord(c):04X}" for c in title)


def check_utf8(what, text):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:  # an argument that was not UTF-8 arrives with surrogate escapes
        raise Failure(f"invalid {what}: not valid UTF-8") from None


def check_text(what, text):
    """A version-information string: Unicode, one line, not empty, of a length Explorer shows."""
    check_utf8(what, text)
    if not text.strip():
        raise Failure(f"invalid {what}: empty")
    if any(not c.isprintable() for c in text):
        raise Failure(f"invalid {what}: {text!r} holds a control character")
    if len(text) > TEXT_LIMIT:
        raise Failure(f"invalid {what}: longer than {TEXT_LIMIT} characters")
    return text


def check_file_version(text):
    """Four 16-bit numbers, missing ones 0: what the fixed part of the version information holds."""
    if not re.fullmatch(r"[0-9]{1,5}(\.[0-9]{1,5}){0,3}", text, re.ASCII):
        raise Failure(f"invalid file version: {text!r} (A, A.B, A.B.C or A.B.C.D, each 0-65535)")
    parts = [int(p) for p in text.split(".")]
    if max(parts) > 0xFFFF:
        raise Failure(f"invalid file version: {text} has a part above 65535")
    return tuple(parts + [0] * (4 - len(parts)))


def check_url(url):
    if not re.fullmatch(r"https?://[^\s/?#]+[^\s]*", url, re.ASCII):
        raise Failure(f"invalid timestamp URL: {url!r} (an http:// or https:// address)")
    return url

"""The builder's command line: its options, and the checks that turn bad input into one line."""

import os
import re

PROG = "build-installer"

USAGE = f"""usage: tools/{PROG} [--arch x86|x64] [--payload FILE] [--name NAME] [--version N]
                             [--ext KIND] [--title TEXT] [--out FILE]

Builds the installer for one add-on data file and writes it stamped.

  --arch x86|x64   target architecture (default x86; x64 is the twin the tests run)
  --payload FILE   the data file to carry (default: a generated 4 MiB sample, version 92)
  --name NAME      base name of the data file and name of its resource (default mvm3);
                   the name mvq splits the payload over the resources mvq1 and mvq2
  --version N      payload version shown to the user, a 32-bit signed integer (default 92)
  --ext KIND       extension of the data file and type of its resource (default pak)
  --title TEXT     add-on title in UTF-8, representable in code page 1251
                   (default: "Тарвелин 3" версии  with a trailing blank)
  --out FILE       output file (default dist/NAME-setup.exe, dist/x64/NAME-setup.exe for x64);
                   describe-windows.exe of the same architecture is written into the same folder
  -h, --help       show this help
"""

RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{i}" for d in ("COM", "LPT") for i in range(1, 10)}
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1


class Failure(Exception):
    """A problem reported as a single line; the exit status goes with it."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


# --- options -----------------------------------------------------------------------------

OPTIONS = ("--arch", "--payload", "--name", "--version", "--ext", "--title", "--out")


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
                raise Failure(f"unknown option: {key}", 2)
            raise Failure(f"unexpected argument: {arg}", 2)
        if not sep:
            if i + 1 >= len(argv):
                raise Failure(f"option {key} needs a value", 2)
            i += 1
            value = argv[i]
        values[key[2:]] = value
        i += 1
    return values


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
    try:
        title.encode("utf-8")
    except UnicodeEncodeError:
        raise Failure("invalid title: the title is not valid UTF-8") from None
    try:
        title.encode("cp1251")
    except UnicodeEncodeError as e:
        raise Failure(f"invalid title: code page 1251 cannot represent {title[e.start:e.end]!r}") from None
    # cp1251 holds only BMP characters, so each one is a single UTF-16 code unit.
    return ",".join(f"0x{ord(c):04X}" for c in title)


def check_payload(path):
    if not os.path.lexists(path):
        raise Failure(f"payload not found: {shown(path)}")
    try:
        # Reading, not just looking at the mode: a folder or a dangling link fails here too.
        with open(path, "rb") as f:
            head = f.read(1)
    except OSError as e:
        raise Failure(f"payload unreadable: {shown(path)} ({e.strerror or e})") from None
    if not head:
        raise Failure(f"payload is empty: {shown(path)}")

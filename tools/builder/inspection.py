"""What a built installer is: tools/inspect-installer FILE, for a publisher before shipping and
for support afterwards. One fact a line, "name: value".

Exit status: 0 the integrity stamp holds; 1 it does not (or the file is no installer of this
builder); 2 a usage error or a file that cannot be read as a PE file.
"""

import hashlib
import subprocess
import sys

from builder import icons, signature, version_info
from builder.build import build_tool
from builder.options import Failure, shown
from builder.pe import DLL_TERMINAL_SERVER_AWARE, RT_GROUP_ICON, RT_VERSION, PE
from builder.request import SPLIT_NAME

PROG = "inspect-installer"
USAGE = f"usage: tools/{PROG} FILE\n"
FORMATS = {"x86": "PE32, i386", "x64": "PE32+, x86-64"}


def tool_says(tool, verb, path):
    proc = subprocess.run([tool, verb, path], stdin=subprocess.DEVNULL, capture_output=True, text=True)
    return proc.returncode, (proc.stdout.strip() or proc.stderr.strip())


def payload_resources(image, payload_file):
    """The payload's bytes and where they lie: found by the name and kind the version information
    records, or, in an installer without them, as the one resource of a named type."""
    resources = image.resources()
    if payload_file:
        name, _, kind = payload_file.rpartition(".")
        keys = [(kind.upper(), f"{name.upper()}{i}") for i in (1, 2)] if name == SPLIT_NAME else \
            [(kind.upper(), name.upper())]
    else:
        keys = [key for key in resources if isinstance(key[0], str)]
    if not keys or any(key not in resources for key in keys):
        return None, "no payload resource found"
    parts = [next(iter(resources[key].values())) for key in keys]
    return b"".join(parts), ", ".join(f"{t}/{n}" for t, n in keys)


def facts(path, data, tool):
    """[(name, value)] of an installer, and whether its stamp holds."""
    image = PE(data)
    found = [("file", path), ("architecture", f"{image.arch} ({FORMATS.get(image.arch, 'unknown format')})")]
    info = {"strings": {}}
    if image.resource(RT_VERSION, 1):
        info = version_info.decode(image.resource(RT_VERSION, 1))
    strings = info["strings"]
    payload_file = strings.get(version_info.PAYLOAD_FILE)
    payload, where = payload_resources(image, payload_file)
    found += [("payload", f"{payload_file or 'unknown name'} (resources {where})"),
              ("payload kind", payload_file.rpartition(".")[2] if payload_file else "unknown"),
              ("payload version", strings.get("ProductVersion", "unknown")),
              # In brackets: a title ends in a blank, which would not show otherwise.
              ("title", f"[{strings[version_info.ADDON_TITLE]}]" if version_info.ADDON_TITLE in strings else "unknown")]
    if payload is not None:
        found += [("payload size", f"{len(payload):,} bytes"), ("payload SHA-256", hashlib.sha256(payload).hexdigest())]
    if strings:
        found.append(("file version", ".".join(map(str, info["file_version"]))))
    found += [(f"version information {key}", value) for key, value in strings.items()
              if key not in (version_info.PAYLOAD_FILE, version_info.ADDON_TITLE)]
    group = image.resource(RT_GROUP_ICON, 1)
    sizes = sorted({w for w, _, _, _ in icons.group_entries(group)}) if group else []
    found.append(("icon sizes", ", ".join(f"{s} px" for s in sizes) or "no icon group 1"))
    found.append(("terminal-server aware", "yes" if image.dll_characteristics & DLL_TERMINAL_SERVER_AWARE else "no"))
    found.append(("PE checksum", tool_says(tool, "checksum", path)[1]))
    status, verdict = tool_says(tool, "verify", path)
    found.append(("integrity stamp", verdict))
    table = image.certificate_table()
    if table is None:
        found.append(("signature", "none"))
    else:
        try:
            found.append(("signature", f"present (not verified here), signer {signature.signer_subject(table)}"))
        except ValueError as e:
            found.append(("signature", f"present but unreadable: {e}"))
    return found, status == 0 and payload is not None


def main(argv):
    if len(argv) != 1 or argv[0] in ("-h", "--help"):
        (sys.stdout if argv[:1] in (["-h"], ["--help"]) else sys.stderr).write(USAGE)
        return 0 if argv[:1] in (["-h"], ["--help"]) else 2
    path = argv[0]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        sys.stderr.write(f"{PROG}: cannot read {shown(path)}: {e.strerror or e}\n")
        return 2
    try:
        lines, intact = facts(path, data, build_tool())
    except ValueError as e:
        sys.stderr.write(f"{PROG}: {shown(path)}: not an installer that can be read: {e}\n")
        return 2
    except Failure as e:
        sys.stderr.write(f"{PROG}: {e}\n")
        return 2
    for name, value in lines:
        sys.stdout.write(f"{name}: {shown(str(value))}\n")
    return 0 if intact else 1

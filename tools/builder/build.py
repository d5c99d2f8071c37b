"""Builds one variant of the installer and stamps it, and writes the support diagnostic
describe-windows.exe of the same architecture beside it. tools/build-installer is its command;
the builder's tests import it.

Every error is one line on stderr and leaves the output file as it was; build tool output
is shown only when a step fails.
"""

import fcntl
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

from builder.options import (PROG, USAGE, Failure, check_kind, check_name, check_payload, check_title,
                             check_version, parse_args, shown)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(REPO, "build")

DEFAULT_TITLE = '"Тарвелин 3" версии '
SAMPLE_SIZE = 4 * 1024 * 1024
SAMPLE_SEED = b"mvsetup sample payload"
SAMPLE_VERSION = 92
SPLIT_NAME = "mvq"
# Built from the same sources as the installer, for the same architecture: the x86 one is what
# a supporter runs on a user's machine.
DIAGNOSTIC = "describe-windows"

ARCHES = {
    "x86": ("x86", "toolchain-i686.cmake"),
    "x64": ("x64", "toolchain-x86_64.cmake"),
}
REQUIRED_PROGRAMS = ["i686-w64-mingw32-g++-posix", "x86_64-w64-mingw32-g++-posix", "cmake", "g++"]
TOOLCHAIN_PACKAGES = ["g++-mingw-w64-i686", "g++-mingw-w64-x86-64", "cmake", "g++"]
TAIL_LINES = 40
# The largest payload the shipped 32-bit installer is built with. Its loaded image holds the
# payload, in one piece of the address space: under the emulated 32-bit Wine the image must fit
# below the 32-bit libraries, which start at 1 GiB, and payloads up to about 1016 MiB install
# there (README, Reliability). The x64 twin has no such bound.
X86_PAYLOAD_LIMIT_MIB = 1000
UMASK = os.umask(0o022)
os.umask(UMASK)


# --- files -------------------------------------------------------------------------------


def write_if_changed(path, data):
    """Writes data unless the file already holds exactly it, so that the build sees no change
    when there is none. Returns the path."""
    try:
        if os.path.getsize(path) == len(data):
            with open(path, "rb") as f:
                if f.read() == data:
                    return path
    except OSError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(tmp, 0o666 & ~UMASK)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise
    return path


def sample_payload():
    path = os.path.join(BUILD, "payload", "mvm3-sample.pak")
    try:
        if os.path.getsize(path) == SAMPLE_SIZE:
            return path
    except OSError:
        pass
    blocks = bytearray()
    for counter in range(SAMPLE_SIZE // 32):
        blocks += hashlib.sha256(SAMPLE_SEED + counter.to_bytes(8, "little")).digest()
    blocks[6:8] = SAMPLE_VERSION.to_bytes(2, "little")
    return write_if_changed(path, bytes(blocks))


def payload_files(payload, name, build_dir):
    """The files that go into the resources: the payload itself, or its two halves."""
    if name == SPLIT_NAME:  # the installer compares the name exactly
        with open(payload, "rb") as f:
            data = f.read()
        half = len(data) // 2
        split_dir = os.path.join(build_dir, "split")
        return [write_if_changed(os.path.join(split_dir, "part1"), data[:half]),
                write_if_changed(os.path.join(split_dir, "part2"), data[half:])]
    if ";" in payload:
        # CMake would read the path as a list: hand it a copy under a plain name.
        with open(payload, "rb") as f:
            return [write_if_changed(os.path.join(build_dir, "staged", "payload"), f.read())]
    return [payload]


# --- running the build -------------------------------------------------------------------


def run_quietly(cmd, **kwargs):
    """Runs a command with its output kept back; when it fails, shows the tail of that output."""
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          **kwargs)
    if proc.returncode != 0:
        lines = proc.stdout.decode("utf-8", "replace").rstrip("\n").split("\n")
        sys.stderr.write("\n".join(lines[-TAIL_LINES:]) + "\n")
    return proc.returncode


def run(cmd, what, cwd=REPO):
    """Runs a build step quietly."""
    status = run_quietly(cmd, cwd=cwd)
    if status != 0:
        raise Failure(f"{what} failed (exit status {status})")


def ensure_toolchain():
    if all(shutil.which(p) for p in REQUIRED_PROGRAMS):
        return
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    for cmd in (["apt-get", "update"], ["apt-get", "install", "-y"] + TOOLCHAIN_PACKAGES):
        if run_quietly(cmd, env=env) != 0:
            raise Failure(f"installing the cross compilers failed: {' '.join(cmd)}")
    missing = [p for p in REQUIRED_PROGRAMS if not shutil.which(p)]
    if missing:
        raise Failure(f"still missing after installing: {', '.join(missing)}")


def cached_value(build_dir, key):
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            for line in f:
                k, sep, v = line.rstrip("\n").partition("=")
                if sep and k.split(":")[0] == key:
                    return v
    except OSError:
        pass
    return None


def configured(build_dir):
    """True once a configure run got as far as writing the build files."""
    return os.path.exists(os.path.join(build_dir, "CMakeCache.txt")) and any(
        os.path.exists(os.path.join(build_dir, f)) for f in ("Makefile", "build.ninja"))


def jobs():
    return str(max(1, len(os.sched_getaffinity(0))))


def build_tool():
    tool_dir = os.path.join(BUILD, "tool")
    if not configured(tool_dir):
        run(["cmake", "-S", REPO, "-B", tool_dir, "-DMV_TOOL_ONLY=ON", "-DCMAKE_BUILD_TYPE=Release"],
            "configuring the stamp tool")
    run(["cmake", "--build", tool_dir, "--target", "mvsetup-tool", "-j", jobs()],
        "building the stamp tool")
    return os.path.join(tool_dir, "mvsetup-tool")


def payload_version(tool, kind, payload):
    """The version the installer would read from the payload, by its own rules (the tool's);
    None for a kind without a version number."""
    proc = subprocess.run([tool, "payload-version", kind, payload], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise Failure(f"reading the payload's version failed: {proc.stderr.strip()}")
    text = proc.stdout.strip()
    return None if text == "none" else int(text)


def build_installer(arch, files, name, version, kind, title_units):
    folder, toolchain = ARCHES[arch]
    build_dir = os.path.join(BUILD, folder)
    toolchain = os.path.join(REPO, "cmake", toolchain)
    cmd = ["cmake", "-S", REPO, "-B", build_dir]
    if cached_value(build_dir, "CMAKE_TOOLCHAIN_FILE") is None:
        cmd += [f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"]
    elif os.path.realpath(cached_value(build_dir, "CMAKE_TOOLCHAIN_FILE")) != os.path.realpath(toolchain):
        raise Failure(f"{build_dir} was configured with another toolchain: remove it and retry")
    cmd += [
        "-DCMAKE_BUILD_TYPE=Release",
        f"-DMV_PAYLOAD_NAME:STRING={name}",
        f"-DMV_PAYLOAD_EXT:STRING={kind}",
        f"-DMV_PAYLOAD_VERSION:STRING={version}",
        f"-DMV_ADDON_TITLE_UTF16:STRING={title_units}",
        f"-DMV_PAYLOAD_FILES:STRING={';'.join(files)}",
    ]
    run(cmd, f"configuring the {arch} installer")
    targets = ["installer", DIAGNOSTIC]
    run(["cmake", "--build", build_dir, "--target", *targets, "-j", jobs()],
        f"building the {arch} installer")
    return os.path.join(build_dir, "installer.exe")


def check_payload_size(arch, size):
    if arch == "x86" and size > X86_PAYLOAD_LIMIT_MIB << 20:
        raise Failure(f"payload too big for the x86 installer: {size} bytes, more than "
                      f"{X86_PAYLOAD_LIMIT_MIB} MiB ({X86_PAYLOAD_LIMIT_MIB << 20} bytes)")


# --- main --------------------------------------------------------------------------------


def main(argv):
    opts = parse_args(argv)
    if opts is None:
        sys.stdout.write(USAGE)
        return 0

    arch = opts.get("arch", "x86")
    if arch not in ARCHES:
        raise Failure(f"unknown arch: {arch} (x86 or x64)")
    name = check_name(opts.get("name", "mvm3"))
    kind = check_kind(opts.get("ext", "pak"))
    version = check_version(opts.get("version", str(SAMPLE_VERSION)))
    title_units = check_title(opts.get("title", DEFAULT_TITLE))
    if "out" in opts:
        if opts["out"] == "":
            raise Failure("invalid output: empty path")
        out = os.path.abspath(opts["out"])
    else:
        out = os.path.join(REPO, "dist", *(["x64"] if arch == "x64" else []), f"{name}-setup.exe")
    if os.path.isdir(out):
        raise Failure(f"invalid output: {shown(out)} is a folder")
    if os.path.basename(out).lower() == f"{DIAGNOSTIC}.exe":
        raise Failure(f"invalid output: {shown(out)} is the name of the diagnostic written beside it")
    payload = opts.get("payload")
    if payload is not None:
        check_payload(payload)
        check_payload_size(arch, os.path.getsize(payload))
        payload = os.path.abspath(payload)

    os.makedirs(BUILD, exist_ok=True)
    with open(os.path.join(BUILD, ".build-installer.lock"), "w") as lock:
        # Two builds at once would share the build folders.
        fcntl.flock(lock, fcntl.LOCK_EX)
        if payload is None:
            payload = sample_payload()
        ensure_toolchain()
        tool = build_tool()
        found = payload_version(tool, kind, payload)
        if found is not None and found != version:
            sys.stderr.write(f"{PROG}: warning: the {kind} payload has version {found}, "
                             f"building for version {version}\n")
        files = payload_files(payload, name, os.path.join(BUILD, ARCHES[arch][0]))
        exe = build_installer(arch, files, name, version, kind, title_units)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        run([tool, "stamp", exe, out], "stamping")
        with open(os.path.join(os.path.dirname(exe), f"{DIAGNOSTIC}.exe"), "rb") as f:
            write_if_changed(os.path.join(os.path.dirname(out), f"{DIAGNOSTIC}.exe"), f.read())
    print(out)
    return 0


def run_command(argv):
    """The command: main with every failure turned into one line and an exit status."""
    try:
        return main(argv)
    except Failure as e:
        sys.stderr.write(f"{PROG}: {e}\n")
        return e.status
    except KeyboardInterrupt:
        sys.stderr.write(f"{PROG}: interrupted\n")
        return 130
    except OSError as e:
        sys.stderr.write(f"{PROG}: {e}\n")
        return 1

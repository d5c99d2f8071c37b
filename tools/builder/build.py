"""Builds one variant of the installer, stamps it, signs it when asked, and writes the support
diagnostic describe-windows.exe of the same architecture beside it. tools/build-installer is its
command; the builder's tests import it.

Every error is one line on stderr. A refused input leaves the output file as it was; once the
build has begun, a failure removes an older output file, so that nothing there passes for the
output of this build. Build tool output is shown only when a step fails.
"""

import fcntl
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

from builder import signing
from builder.files import UMASK, remove_quietly, write_if_changed
from builder.options import BUILD_STEP_FAILED, PROG, USAGE, Failure, parse_args, title_units
from builder.pe import PE
from builder.request import DIAGNOSTIC, SAMPLE_VERSION, SPLIT_NAME, make_request

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(REPO, "build")
SAMPLE = os.path.join(BUILD, "payload", "mvm3-sample.pak")
SAMPLE_SIZE = 4 * 1024 * 1024
SAMPLE_SEED = b"mvsetup sample payload"
# Where a "pak" file keeps its version, 16 bits little-endian (kPakVersionField of
# src/install/versions.h, which the builder reads through the host tool).
PAK_VERSION_AT = 6

TOOLCHAINS = {"x86": "toolchain-i686.cmake", "x64": "toolchain-x86_64.cmake"}
# Program: the Debian package that brings it.
TOOLCHAIN = {"i686-w64-mingw32-g++-posix": "g++-mingw-w64-i686", "x86_64-w64-mingw32-g++-posix": "g++-mingw-w64-x86-64",
             "cmake": "cmake", "g++": "g++"}
SIGNING_TOOL = {"osslsigncode": "osslsigncode"}
TAIL_LINES = 40


# --- inputs ------------------------------------------------------------------------------


def versioned_payload(size, version, seed):
    """`size` pseudo-random bytes, the same for the same seed, that a "pak" reader takes for
    `version`: the sample, and the payloads of the tests."""
    data = bytearray()
    for counter in range(-(-size // 32)):
        data += hashlib.sha256(seed + counter.to_bytes(8, "little")).digest()
    del data[size:]
    data[PAK_VERSION_AT:PAK_VERSION_AT + 2] = version.to_bytes(2, "little")
    return bytes(data)


def sample_payload():
    """The sample's bytes, made again (the same bytes) when its file is missing or cut."""
    try:
        if os.path.getsize(SAMPLE) == SAMPLE_SIZE:
            with open(SAMPLE, "rb") as f:
                return f.read()
    except OSError:
        pass
    data = versioned_payload(SAMPLE_SIZE, SAMPLE_VERSION, SAMPLE_SEED)
    write_if_changed(SAMPLE, data)
    return data


def staged_files(request, data, build_dir):
    """The payload, the files of its resources (the payload or its two halves), the icon and the
    version information as files of the build folder under plain names. CMake and the resource
    compiler see only these: a backslash, a ';' or a pipe in the publisher's path never reaches
    them, and each input is read once."""
    staged = os.path.join(build_dir, "staged")
    payload = write_if_changed(os.path.join(staged, "payload"), data)
    resources = [payload]
    if request.name == SPLIT_NAME:  # the installer compares the name exactly
        half = len(data) // 2
        resources = [write_if_changed(os.path.join(staged, "part1"), data[:half]),
                     write_if_changed(os.path.join(staged, "part2"), data[half:])]
    return (payload, resources, write_if_changed(os.path.join(staged, "installer.ico"), request.icon),
            write_if_changed(os.path.join(staged, "version.bin"), request.version_info))


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
        raise Failure(f"{what} failed (exit status {status})", BUILD_STEP_FAILED)


def ensure_programs(programs):
    if all(shutil.which(p) for p in programs):
        return
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    for cmd in (["apt-get", "update"], ["apt-get", "install", "-y", *sorted(set(programs.values()))]):
        if run_quietly(cmd, env=env) != 0:
            raise Failure(f"installing what the build needs failed: {' '.join(cmd)}", BUILD_STEP_FAILED)
    missing = [p for p in programs if not shutil.which(p)]
    if missing:
        raise Failure(f"still missing after installing: {', '.join(missing)}", BUILD_STEP_FAILED)


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
    ensure_programs(TOOLCHAIN)
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
        raise Failure(f"reading the payload's version failed: {proc.stderr.strip()}", BUILD_STEP_FAILED)
    text = proc.stdout.strip()
    return None if text == "none" else int(text)


# The installer has an entry of its own in place of the C runtime's start-up code (src/app/
# lean_runtime.cpp): nothing runs a static constructor, a thread-local callback or a runtime
# initializer, so an object that needs one would silently stay unconstructed.
START_UP_SECTIONS = (".CRT", ".tls")


def static_constructors(link_map):
    """The objects that put a constructor into the list between __CTOR_LIST__ and its end in the
    linker's map; the list holds only its two markers when there is none."""
    found, inside = [], False
    for line in link_map.splitlines():
        fields = line.split()
        if "__CTOR_LIST__" in fields:
            inside = True
        elif inside and fields[-2:] == ["LONG", "0x0"]:
            break
        elif inside and len(fields) >= 4 and fields[0].startswith((".ctors", ".ctor", ".init_array")):
            found.append(fields[-1])
    return found


def check_lean_start_up(exe, link_map):
    """Refuses an installer whose image holds what only the C runtime's start-up would run."""
    with open(exe, "rb") as f:
        sections = [name for name, *_ in PE(f.read()).sections]
    for name in START_UP_SECTIONS:
        if name in sections:
            raise Failure(f"the installer has a {name} section, which its own entry never runs", BUILD_STEP_FAILED)
    owners = static_constructors(link_map)
    if owners:
        raise Failure(f"the installer has static constructors, which its own entry never runs: {', '.join(owners)}",
                      BUILD_STEP_FAILED)


def build_installer(request, payload_files, icon, version_info):
    build_dir = os.path.join(BUILD, request.arch)
    toolchain = os.path.join(REPO, "cmake", TOOLCHAINS[request.arch])
    cmd = ["cmake", "-S", REPO, "-B", build_dir]
    if cached_value(build_dir, "CMAKE_TOOLCHAIN_FILE") is None:
        cmd += [f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"]
    elif os.path.realpath(cached_value(build_dir, "CMAKE_TOOLCHAIN_FILE")) != os.path.realpath(toolchain):
        raise Failure(f"{build_dir} was configured with another toolchain: remove it and retry", BUILD_STEP_FAILED)
    cmd += [
        "-DCMAKE_BUILD_TYPE=Release",
        f"-DMV_PAYLOAD_NAME:STRING={request.name}",
        f"-DMV_PAYLOAD_EXT:STRING={request.kind}",
        f"-DMV_PAYLOAD_VERSION:STRING={request.version}",
        f"-DMV_ADDON_TITLE_UTF16:STRING={title_units(request.title)}",
        f"-DMV_PAYLOAD_FILES:STRING={';'.join(payload_files)}",
        f"-DMV_ICON_FILE:FILEPATH={icon}",
        f"-DMV_VERSION_INFO_FILE:FILEPATH={version_info}",
    ]
    run(cmd, f"configuring the {request.arch} installer")
    run(["cmake", "--build", build_dir, "--target", "installer", DIAGNOSTIC, "-j", jobs()],
        f"building the {request.arch} installer")
    exe = os.path.join(build_dir, "installer.exe")
    with open(os.path.join(build_dir, "installer.map"), encoding="utf-8", errors="replace") as f:
        check_lean_start_up(exe, f.read())
    return exe


def write_installer(tool, exe, request):
    """Stamps the linked installer into --out, signing it on the way when asked: the signed file
    takes the place of --out only after it has passed the installer's own integrity check."""
    os.makedirs(os.path.dirname(request.out), exist_ok=True)
    if not request.signer:
        run([tool, "stamp", exe, request.out], "stamping")
        return
    ensure_programs(SIGNING_TOOL)
    scratch = tempfile.mkdtemp(dir=os.path.dirname(request.out), prefix=".build-installer-")
    try:
        unsigned, signed = os.path.join(scratch, "unsigned.exe"), os.path.join(scratch, "signed.exe")
        run([tool, "stamp", exe, unsigned], "stamping")
        signing.sign(unsigned, signed, request.signer)
        if run_quietly([tool, "verify", signed]) != 0:
            raise Failure("the signed installer fails its own integrity check", BUILD_STEP_FAILED)
        os.chmod(signed, 0o666 & ~UMASK)
        os.replace(signed, request.out)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def make(request):
    data = sample_payload() if request.payload_data is None else request.payload_data
    tool = build_tool()
    payload, resources, icon, version_info = staged_files(request, data, os.path.join(BUILD, request.arch))
    found = payload_version(tool, request.kind, payload)
    if found is not None and found != request.version:
        sys.stderr.write(f"{PROG}: warning: the {request.kind} payload has version {found}, "
                         f"building for version {request.version}\n")
    exe = build_installer(request, resources, icon, version_info)
    write_installer(tool, exe, request)
    with open(os.path.join(os.path.dirname(exe), f"{DIAGNOSTIC}.exe"), "rb") as f:
        write_if_changed(request.diagnostic, f.read())


# --- main --------------------------------------------------------------------------------


def main(argv):
    opts = parse_args(argv)
    if opts is None:
        sys.stdout.write(USAGE)
        return 0
    request = make_request(opts, REPO, SAMPLE)
    for warning in request.warnings:
        sys.stderr.write(f"{PROG}: {warning}\n")
    os.makedirs(BUILD, exist_ok=True)
    with open(os.path.join(BUILD, ".build-installer.lock"), "w") as lock:
        # Two builds at once would share the build folders.
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            make(request)
        except BaseException as e:
            remove_quietly(request.out)
            if isinstance(e, OSError):
                raise Failure(str(e), BUILD_STEP_FAILED) from None
            raise
    print(request.out)
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

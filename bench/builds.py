"""What bench/run measures, built: its helpers once, and for each payload size the shipped x86
installer, its x64 twin, an installer of each architecture with the memory probe, and the two NSIS
installers. Everything goes to build/bench/out/<size>mib/."""

import os
import shutil
import sys

from steps import BUILD, REPO, Failure, run, run_step, say, show_tail

sys.path.insert(0, os.path.join(REPO, "tools"))
from builder.build import versioned_payload  # noqa: E402  (the path above comes first)
from builder.request import SAMPLE_VERSION  # noqa: E402

OUT = os.path.join(BUILD, "out")
DEFAULT_MIB = 4
# The builder's default payload: the default size measures exactly what tools/build-installer ships.
SAMPLE = os.path.join(REPO, "build", "payload", "mvm3-sample.pak")
NSIS_STUBS = "/usr/share/nsis/Stubs"
X64_STUB = "zlib-amd64-unicode"  # what `Target amd64-unicode` with the default compressor uses
X86_STUB = "zlib-x86-unicode"
TOOLCHAINS = {"x86": "toolchain-i686.cmake", "x64": "toolchain-x86_64.cmake"}
HELPER_TARGETS = ("bench_noop", "bench_copy", "bench_durable", "bench_noop_probe", "bench_timer", "integrity_timing")


def jobs():
    return str(os.cpu_count() or 1)


def toolchain(arch):
    return os.path.join(REPO, "cmake", TOOLCHAINS[arch])


def nsis_target():
    """The NSIS target of the timed installer: x64 when Debian's nsis ships that stub. Without
    it only the x86 stub is left, which this machine cannot run, and the timing fails."""
    return "amd64-unicode" if os.path.exists(os.path.join(NSIS_STUBS, X64_STUB)) else "x86-unicode"


def build_helpers():
    """The x64 helpers of bench/, in the folder-walk benchmark's build folder (the same CMake
    project). Returns {target: path}."""
    say("building the helpers")
    run(["cmake", "-S", os.path.join(REPO, "bench"), "-B", BUILD, f"-DCMAKE_TOOLCHAIN_FILE={toolchain('x64')}"],
        "configuring the helpers")
    run(["cmake", "--build", BUILD, "-j", jobs(), "--target", *HELPER_TARGETS], "building the helpers")
    return {target: os.path.join(BUILD, f"{target}.exe") for target in HELPER_TARGETS}


def payload(size_mib):
    """The payload of one size: pseudo-random bytes, the same on every run, with the version of
    the default build in each MiB. The default size is the builder's own sample, which its build
    makes."""
    if size_mib == DEFAULT_MIB:
        return SAMPLE
    path = os.path.join(BUILD, "payload", f"mvm3-{size_mib}mib.pak")
    if os.path.exists(path) and os.path.getsize(path) == size_mib << 20:
        return path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".new", "wb") as f:
        for index in range(size_mib):
            f.write(versioned_payload(1 << 20, SAMPLE_VERSION, b"mvsetup bench payload %d" % index))
    os.replace(path + ".new", path)
    return path


def refusal(arch, stdout, stderr):
    """The builder's line when a failed x86 build is its refusal of the payload: bad input gives
    one line and nothing else, while a failed build shows the build's output before its line."""
    lines = [line for line in stderr.strip().splitlines() if ": warning: " not in line]
    return lines[0] if arch == "x86" and len(lines) == 1 and not stdout.strip() else None


def build_shipped(arch, size_mib, out):
    """The builder's installer. Returns (path, None), or (None, its line) when the builder refuses
    the payload for x86."""
    cmd = [os.path.join(REPO, "tools", "build-installer"), "--arch", arch, "--out", out]
    if size_mib != DEFAULT_MIB:
        cmd += ["--payload", payload(size_mib)]
    status, stdout, stderr = run_step(cmd)
    if status == 0:
        return out, None
    line = refusal(arch, stdout, stderr)
    if line is not None:
        return None, line
    show_tail(stdout + stderr)
    raise Failure(f"building the {arch} installer of the {size_mib} MiB payload failed (exit status {status})")


def build_probe(arch, size_mib, out):
    """An installer with the memory probe (CMake's MV_BENCH_PROBE), in a build folder of its own,
    stamped like the real one, or its integrity check would end the run before the payload."""
    folder = os.path.join(BUILD, f"probe-{arch}")
    run(["cmake", "-S", REPO, "-B", folder, f"-DCMAKE_TOOLCHAIN_FILE={toolchain(arch)}", "-DCMAKE_BUILD_TYPE=Release",
         "-DMV_BENCH_PROBE=ON", f"-DMV_PAYLOAD_FILES:STRING={payload(size_mib)}"],
        f"configuring the {arch} probe installer")
    run(["cmake", "--build", folder, "--target", "installer", "-j", jobs()], f"building the {arch} probe installer")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    run([os.path.join(REPO, "build", "tool", "mvsetup-tool"), "stamp", os.path.join(folder, "installer.exe"), out],
        f"stamping the {arch} probe installer")
    return out


def build_nsis(size_mib, folder):
    built = {}
    for script in ("minimal", "modest"):
        built[script] = os.path.join(folder, f"nsis-{script}.exe")
        target = [f"-DTARGET={nsis_target()}"] if script == "modest" else []
        run(["makensis", "-V2", f"-DPAYLOAD={payload(size_mib)}", f"-DOUTFILE={built[script]}", *target,
             os.path.join(REPO, "bench", "nsis", f"{script}.nsi")], f"building the {script} NSIS installer")
    return built


def check_probes(built):
    """The probe is for the bench alone: a shipped build that carried it would be a build mistake,
    and a probe build without it would report nothing."""
    marker = "MV_BENCH_MEMORY_FILE".encode("utf-16-le")
    for key, wanted in (("x86", False), ("x64", False), ("x86_probe", True), ("x64_probe", True)):
        if built[key] is None:
            continue
        with open(built[key], "rb") as f:
            if (marker in f.read()) != wanted:
                raise Failure(f"{built[key]} {'lacks' if wanted else 'carries'} the memory probe")


def build_size(size_mib):
    """Everything of one payload size. The x86 builds are left out where the builder refuses the
    size for x86; the refusal is kept for the table."""
    folder = os.path.join(OUT, f"{size_mib}mib")
    say(f"building the installers of the {size_mib} MiB payload")
    built = {"size_mib": size_mib}
    built["x86"], built["x86_refusal"] = build_shipped("x86", size_mib, os.path.join(folder, "x86", "mvm3-setup.exe"))
    built["x64"], _ = build_shipped("x64", size_mib, os.path.join(folder, "x64", "mvm3-setup.exe"))
    built["payload"] = payload(size_mib)
    built["x64_probe"] = build_probe("x64", size_mib, os.path.join(folder, "x64-probe", "mvm3-setup.exe"))
    built["x86_probe"] = None
    if built["x86"] is not None:
        built["x86_probe"] = build_probe("x86", size_mib, os.path.join(folder, "x86-probe", "mvm3-setup.exe"))
    built["nsis"] = build_nsis(size_mib, folder)
    check_probes(built)
    return built


def discard(size_mib):
    """Removes what a size above the default made: hundreds of megabytes each, rebuilt on every run."""
    if size_mib > DEFAULT_MIB:
        shutil.rmtree(os.path.join(OUT, f"{size_mib}mib"), ignore_errors=True)
        path = os.path.join(BUILD, "payload", f"mvm3-{size_mib}mib.pak")
        if os.path.exists(path):
            os.remove(path)

"""The bench's own Wine environment: a prefix under build/bench/wine, a virtual display and a
persistent wineserver, made as tools/wine-env makes its own and ended by `stop`, so that the Wine
environment of a test run in progress is never touched."""

import os
import shutil
import signal
import subprocess
import time

from steps import BUILD, Failure, run, say

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class WineEnvironment:
    def __init__(self):
        self.dir = os.path.join(BUILD, "wine", f"{time.strftime('%Y%m%d-%H%M%S')}-{os.getpid()}")
        self.prefix = os.path.join(self.dir, "prefix")
        self.xvfb = None
        self.server_started = False
        self.env = None

    def wine(self, *args, what, extra_env=None, timeout=600):
        """Runs a Windows program (64-bit, or 32-bit in the WOW64 half) and returns its stdout."""
        return run([WINE, *args], what, env=dict(self.env, **(extra_env or {})), timeout=timeout)

    @staticmethod
    def clean_up_leftovers():
        """Ends what a bench killed outright (no `finally`) left running. Called under the bench's
        lock, so no other bench is using these prefixes."""
        base = os.path.join(BUILD, "wine")
        for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
            folder = os.path.join(base, name)
            state = {}
            try:
                with open(os.path.join(folder, "state")) as f:
                    state = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
            except OSError:
                pass
            prefix = os.path.join(folder, "prefix")
            if os.path.isdir(prefix):
                subprocess.run([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pid = state.get("XVFB_PID", "")
            # Only while the recorded pid still runs the Xvfb started here (pids are reused).
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    ours = pid.isdigit() and f.read().startswith(b"Xvfb\0-displayfd\0")
            except OSError:
                ours = False
            if ours:
                os.kill(int(pid), signal.SIGTERM)
            shutil.rmtree(folder, ignore_errors=True)

    def start(self):
        self.clean_up_leftovers()
        os.makedirs(self.prefix)
        read_end, write_end = os.pipe()
        # -displayfd: Xvfb picks a free display itself and names it once it accepts clients.
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        with open(os.path.join(self.dir, "state"), "w") as f:
            f.write(f"XVFB_PID={self.xvfb.pid}\n")
        with os.fdopen(read_end) as reader:
            display = reader.readline().strip()
        if not display.isdigit():
            raise Failure("Xvfb reported no display")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=f":{display}", WINEDEBUG="-all",
                        WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("LC_ALL", None)
        say("making the Wine prefix")
        # Made under an ordinary wineserver that ends with the boot: a persistent server started
        # first sees the boot's second round of services clash with the first one.
        self.wine("wineboot", "-i", what="wineboot")
        # Without a window manager every closed window costs Wine seconds unless it manages them.
        self.wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f",
                  what="setting Managed=N")
        run([WINESERVER, "-w"], "waiting for the boot's wineserver", env=self.env, timeout=120)
        self.server_started = True
        run([WINESERVER, "-p"], "starting the persistent wineserver", env=self.env)
        # The first process starts the session's services; here they cannot disturb a timing.
        self.wine("reg", "query", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", what="first process")

    @staticmethod
    def windows_path(*parts):
        return "C:\\" + "\\".join(parts)

    def unix_path(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def stop(self):
        if self.server_started:
            # -k reaches only this prefix's server and the Wine processes it runs.
            subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def wine_version():
    proc = subprocess.run([WINE, "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return proc.stdout.decode().strip()

"""What every part of bench/run shares: where things go, its one-line messages and running a step."""

import os
import subprocess
import sys
import tempfile

PROG = "bench/run"
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build", "bench")
TAIL_LINES = 40


class Failure(Exception):
    pass


def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def run_step(cmd, env=None, timeout=None):
    """Runs a command with its output kept in unnamed files; returns (exit status, stdout, stderr).

    Files, not pipes: a Wine step may start the wineserver or the session's services, which keep
    its output open long after it ended, and a reader of a pipe would wait for them."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run(cmd, cwd=REPO, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout)
        out.seek(0)
        err.seek(0)
        return proc.returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def show_tail(text):
    sys.stderr.write("\n".join(text.rstrip("\n").split("\n")[-TAIL_LINES:]) + "\n")


def run(cmd, what, env=None, timeout=None):
    """Runs a step; its output is shown only when it fails. Returns its stdout."""
    status, stdout, stderr = run_step(cmd, env=env, timeout=timeout)
    if status != 0:
        show_tail(stdout + stderr)
        raise Failure(f"{what} failed (exit status {status})")
    return stdout

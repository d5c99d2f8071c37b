#!/usr/bin/env python3
"""Ends an installer run the hard way while it writes the data file, as a power cut or Task
Manager would, for tests/e2e/killed_write_test.cpp. Started by the driver from Wine; works on the
Linux side, because a kill through Wine lets a write in progress finish first, and a file's size
grows while it is written, so the moment can be seen:

  kill_mid_write.py INSTALLER FOLDER NAME SIZE WHEN READY RESULT

Finds the process whose command line holds INSTALLER (its Windows path, unique to this checkout),
watches FOLDER for NAME and "~" + NAME, and sends SIGKILL as soon as either holds more than WHEN
bytes and fewer than SIZE. READY is written once the watch has begun; RESULT, at the end, says
"killed FILE BYTES" (the file and its size seen just before the kill), "missed" when the run
ended first, or "no process".
"""

import os
import signal
import sys
import time


def find_process(installer, deadline):
    wanted = installer.lower()
    own = os.getpid()
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == own:
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode("utf-8", "replace").lower()
            except OSError:
                continue
            if wanted in command and "kill_mid_write" not in command:
                return int(entry)
        time.sleep(0.005)
    return None


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except OSError:
        return False


def size_of(path):
    try:
        return os.stat(path).st_size
    except OSError:
        return -1


def main(installer, folder, name, size, when, ready, result):
    size, when = int(size), int(when)
    watched = [os.path.join(folder, name), os.path.join(folder, "~" + name)]
    with open(ready, "w") as f:
        f.write("ready")
    pid = find_process(installer, time.monotonic() + 30)
    outcome = "no process"
    if pid is not None:
        outcome = "missed"
        deadline = time.monotonic() + 30
        checks = 0
        while time.monotonic() < deadline:
            for path in watched:
                seen = size_of(path)
                if when < seen < size:
                    os.kill(pid, signal.SIGKILL)
                    outcome = "killed %s %d" % (os.path.basename(path), seen)
                    break
            else:
                checks += 1
                if checks % 64 == 0 and not alive(pid):
                    break
                continue
            break
    with open(result + ".part", "w") as f:
        f.write(outcome)
    os.replace(result + ".part", result)


if __name__ == "__main__":
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    main(*sys.argv[1:])

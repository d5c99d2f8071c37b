"""Authenticode signing of a stamped installer with osslsigncode.

The password reaches osslsigncode through a pipe that only it inherits, never through its command
line, where any user of the machine could read it. Without a password, osslsigncode runs without
a controlling terminal, so that an encrypted key fails at once instead of waiting at a prompt
that the builder's captured output would hide.
"""

import os
import re
import subprocess

from builder.options import BUILD_STEP_FAILED, Failure

# OpenSSL's error stack ("40E0F4BA7D7F0000:error:11800071:...") says the same as osslsigncode's
# own line before it, less readably.
OPENSSL_STACK = re.compile(r"^[0-9A-F]+:error:")


def first_problem(output):
    """The line of osslsigncode's output that says what went wrong."""
    lines = [line.strip() for line in output.splitlines() if line.strip() and not OPENSSL_STACK.match(line)]
    for line in lines:
        if "fail" in line.lower() and line != "Failed":
            return line
    return lines[0] if lines else "no reason given"


def sign(unsigned, signed, signer):
    """Signs `unsigned` into `signed`. `signer` holds either "pkcs12" or "cert" and "key" (absolute
    paths), "password" (bytes or None), "timestamp_url" (or None) and "description", which the
    elevation prompt of a signed program shows as its name."""
    cmd = ["osslsigncode", "sign", "-h", "sha256", "-n", signer["description"]]
    if "pkcs12" in signer:
        cmd += ["-pkcs12", signer["pkcs12"]]
    else:
        cmd += ["-certs", signer["cert"], "-key", signer["key"]]
    if signer.get("timestamp_url"):
        cmd += ["-ts", signer["timestamp_url"]]
    pass_fds = ()
    password = signer.get("password")
    if password:
        # A password is a few bytes: the write cannot block on the pipe's buffer.
        reader, writer = os.pipe()
        os.write(writer, password)
        os.close(writer)
        cmd += ["-readpass", f"/dev/fd/{reader}"]
        pass_fds = (reader,)
    cmd += ["-in", unsigned, "-out", signed]
    try:
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                              pass_fds=pass_fds, start_new_session=not password)
    finally:
        for fd in pass_fds:
            os.close(fd)
    if proc.returncode != 0:
        raise Failure(f"signing failed: {first_problem(proc.stderr + proc.stdout)}", BUILD_STEP_FAILED)

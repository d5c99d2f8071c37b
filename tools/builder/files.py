"""The builder's files: what it reads (only regular files, each read once) and what it writes
(never over one of its inputs)."""

import os
import stat
import tempfile

from builder.options import Failure, shown

UMASK = os.umask(0o022)
os.umask(UMASK)

KINDS = ((stat.S_ISFIFO, "a pipe or FIFO"), (stat.S_ISDIR, "a folder"), (stat.S_ISCHR, "a character device"),
         (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket"))


def read_input(path, what, check_size=None):
    """The whole content of an input file. Only a regular file is read: opening a FIFO (or the
    pipe of a process substitution) without O_NONBLOCK waits for a writer that may never come,
    and a device may never end. `check_size`, when given, sees the size before the read and may
    refuse it."""
    if not os.path.lexists(path):
        raise Failure(f"{what} not found: {shown(path)}")
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as e:
        raise Failure(f"{what} unreadable: {shown(path)} ({e.strerror or e})") from None
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode):
            kind = next((name for test, name in KINDS if test(mode)), "not a regular file")
            raise Failure(f"{what} is not a regular file: {shown(path)} ({kind})")
        if check_size is not None:
            check_size(os.fstat(fd).st_size)
        with os.fdopen(fd, "rb", closefd=False) as f:
            return f.read()
    except OSError as e:
        raise Failure(f"{what} unreadable: {shown(path)} ({e.strerror or e})") from None
    finally:
        os.close(fd)


def refuse_clash(written, inputs):
    """Refuses a file the build would write that is one of its inputs (the same file under
    another name, through a link, counts too): the build would destroy the publisher's data."""
    for path, what in inputs:
        try:
            same = os.path.samefile(written, path)
        except OSError:  # one does not exist yet (the sample, made when the build starts)
            same = os.path.realpath(written) == os.path.realpath(path)
        if same:
            raise Failure(f"invalid output: writing {shown(written)} would overwrite the {what} {shown(path)}")


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


def remove_quietly(path):
    """Removes a file if it can: called on the way out of a failure, which it must not hide."""
    try:
        os.unlink(path)
    except OSError:
        pass

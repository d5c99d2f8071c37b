"""Whole files as bytes, for the Python side of the tests: the builder's tests and the files of
the end-to-end runs."""


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    """Writes `data` as the whole file; returns the path."""
    with open(path, "wb") as f:
        f.write(data)
    return path

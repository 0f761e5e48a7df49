"""Registry files that change while a launcher reads them (Linux): a FIFO
whose writer goes away once the launcher has read what it wrote."""

import contextlib
import fcntl
import os
import threading
from pathlib import Path


# Linux's number, for Python 3.9 (the build root's), which lacks the name.
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def _write_all(fd, data):
    """Writes data to fd, blocking while it is full, then closes fd."""
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    finally:
        os.close(fd)


def _read_to_end(path):
    """Reads the FIFO at path until it has no writer, without waiting for
    one to come."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    try:
        os.set_blocking(fd, True)
        while os.read(fd, 1 << 16):
            pass
    finally:
        os.close(fd)


@contextlib.contextmanager
def fifo_with_writer(path, data):
    """A FIFO at path whose reader gets data and then its end, whoever else
    has it open and whenever the reader comes. The writer is there from
    the start, so that a reader never finds none, and writes data in one
    blocking write longer than the FIFO holds: done only once a reader has
    taken all but the last of it, its end then closes, and that reader
    reads the rest and the end. What no reader took is read here when the
    block ends."""
    os.mkfifo(path)
    # Opened for reading and writing, it needs no reader to open; it is
    # never read from.
    fd = os.open(path, os.O_RDWR)
    holds = fcntl.fcntl(fd, F_SETPIPE_SZ, 1)  # a page, the least
    if len(data) <= holds:
        os.close(fd)
        raise ValueError(f"{len(data)} bytes fit in the FIFO's {holds}")
    writer = threading.Thread(target=_write_all, args=(fd, data))
    writer.start()
    try:
        yield Path(path)
    finally:
        _read_to_end(path)
        writer.join()

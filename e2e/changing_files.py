"""Registry files that change while a launcher reads them (Linux): a file
cut short once another process has it open, a sparse file, a FIFO whose
writer goes away once the launcher has read what it wrote."""

import contextlib
import fcntl
import os
import threading
import time
from pathlib import Path

from harness import RUN_TIMEOUT


def _read_by_another(path):
    """Whether a process other than this one has path open or mapped."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                    return True
            with open(f"/proc/{pid}/maps") as maps:
                if path in maps.read():
                    return True
        except OSError:
            continue  # gone, or not ours to look at
    return False


@contextlib.contextmanager
def once_read(path, action, timeout=RUN_TIMEOUT):
    """While the block runs, calls action() as soon as another process
    has the file at path open or mapped. Yields a list that then holds
    True."""
    path = str(Path(path).resolve())
    done, stop = [], threading.Event()

    def watch():
        deadline = time.monotonic() + timeout
        while not stop.is_set() and time.monotonic() < deadline:
            if _read_by_another(path):
                action()
                done.append(True)
                return
            time.sleep(0.001)

    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    try:
        yield done
    finally:
        stop.set()
        thread.join()


def sparse_registry(path, hole, tail):
    """A registry file of the header, a hole of `hole` zero bytes that
    takes no room on disk, and then the text `tail`."""
    with open(path, "wb") as file:
        file.write(b"REGEDIT4\r\n")
        file.seek(hole, os.SEEK_CUR)
        file.write(tail.encode("utf-8"))
    return Path(path)


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
    holds = fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, 1)  # a page, the least
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

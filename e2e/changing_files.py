"""Registry files that change while a launcher reads them (Linux): a file
cut short once another process has it open, a sparse file, a FIFO whose
writer goes away once it has been read."""

import contextlib
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


@contextlib.contextmanager
def fifo_with_writer(path, data):
    """A FIFO at path holding data, ended once another process opened it
    for reading. (Opened for reading and writing here, it takes the data
    without waiting for a reader.)"""
    os.mkfifo(path)
    fd = os.open(path, os.O_RDWR)
    os.write(fd, data)  # less than a pipe holds
    closed = []

    def close():
        if not closed:
            closed.append(True)
            os.close(fd)

    try:
        with once_read(path, close):
            yield Path(path)
    finally:
        close()

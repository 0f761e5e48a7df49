"""Callers and systems of other kinds than the tests' own (Linux): a caller
that leaves SIGCHLD ignored or holds descriptors above its limits, a
kernel or a seccomp profile that refuses close_range or every call newer
than Linux 3.10 (seccomp_wrapper.c)."""

import os
import resource
import signal
from pathlib import Path

import harness


def ignoring_child_signal():
    """A preexec_fn: the program starts with SIGCHLD ignored, a disposition
    that survives exec and that some daemons and service scripts leave."""
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)


def sigchld_ignored_reaches_java():
    """Whether an ignored SIGCHLD can reach the Java VM as a launcher
    passes it on: not under valgrind (LAUNCHER_WRAPPER), which keeps
    SIGCHLD for itself and starts a program with it at its default."""
    wrapper = harness.launcher_wrapper()
    return not (wrapper and Path(wrapper[0]).name == "valgrind")


def death_signal_comes_once():
    """Whether a killed launcher's Java VM gets the parent-death signal
    once: not under qemu-user (LAUNCHER_WRAPPER), whose second thread
    takes the VM over as the first ends, the kernel sending the signal as
    each ends."""
    wrapper = harness.launcher_wrapper()
    return not (wrapper and Path(wrapper[0]).name.startswith("qemu-"))


def sanitized(build):
    """Whether the build's programs carry the sanitizers' runtime, which
    must be loaded before any other allocator and reads /proc."""
    return b"-fsanitize" in (Path(build) / "CMakeCache.txt").read_bytes()


def wrapper_runs_without_proc():
    """Whether a launcher can run where /proc is not mounted as
    LAUNCHER_WRAPPER runs it: not under valgrind, which reads its own
    memory map there."""
    wrapper = harness.launcher_wrapper()
    return not (wrapper and Path(wrapper[0]).name == "valgrind")


# Descriptors that a caller opened before it lowered its descriptor limits
# to LOWERED_LIMIT: one below that limit, one above.
HELD_BELOW_AND_ABOVE = (700, 1500)
LOWERED_LIMIT = 1024


def holding_above_the_limits():
    """A preexec_fn (with close_fds=False): the program starts with
    HELD_BELOW_AND_ABOVE open, inheritable, and both descriptor limits
    lowered after they were opened. The hard limit must exceed them."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    highest = max(HELD_BELOW_AND_ABOVE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, highest + 1), hard))
    null = os.open(os.devnull, os.O_RDONLY)
    for fd in HELD_BELOW_AND_ABOVE:
        os.dup2(null, fd)
    os.close(null)
    resource.setrlimit(resource.RLIMIT_NOFILE, (LOWERED_LIMIT, LOWERED_LIMIT))


def on_ci():
    return os.environ.get("CI") == "true"


def skip_unless_ci(test, reason):
    """Skips the test for a reason of this machine; with CI=true, fails."""
    if on_ci():
        test.fail(f"{reason} (CI=true needs it)")
    test.skipTest(reason)


# Two of seccomp_wrapper's modes (e2e/seccomp_wrapper.c), each as a system
# an operator may have: a seccomp profile older than close_range, Linux 5.9
# or 5.10. (Linux 3.10 is the leg of seccomp_leg.py.)
CLOSE_RANGE_EPERM = "close_range=EPERM"
CLOSE_RANGE_EINVAL = "close_range=EINVAL"


def seccomp_wrapper(build, mode):
    """The command prefix that runs a program under seccomp_wrapper in
    mode, and None; or None and why the mode cannot be had here."""
    wrapper = Path(build) / "e2e" / "seccomp_wrapper"
    if not wrapper.is_file():
        return None, f"{wrapper} is missing: build the tree first"
    probe = harness.run([wrapper, "--probe", mode], timeout=30)
    if probe.status != 0:
        return None, probe.stderr.decode(errors="replace").strip()
    return [str(wrapper), mode], None

#!/usr/bin/env python3
"""A command, an end-to-end suite, run inside the build root
(tools/build_root.py): by the root's own Python, and with the programs
built against the root meeting its C library, glibc 2.31, rather than this
machine's newer one.

    python3 e2e/chroot_leg.py ROOT BUILD_DIR COMMAND...

COMMAND runs as root, chrooted into ROOT, in a private mount namespace of
its own: the host's /proc and /dev, the source tree and BUILD_DIR at the
paths they have here, and ROOT beneath an overlay whose writable layer is a
tmpfs. So the root, shared by every build on the machine, is left as it
was, and every mount goes with the namespace, whatever becomes of the run.
The root's minimal system has no services database: the host's
/etc/services (an empty one where the host has none) goes into the layer,
so that tarvo's port lookups read one, as on a full system, and the cases
that bind-mount their own over it find it there.

Where this cannot be set up here (not root, no mount namespace, no
overlay) it says so and ends with 77, which ctest counts as skipped; with
CI=true, with 1.
"""

import os
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

SKIPPED = 77
SOURCE = Path(__file__).resolve().parent.parent
# The root's own programs: the host's PATH may name directories it lacks.
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def mount_steps(root, view, layer, trees):
    """Shell steps that lay out view: root under an overlay whose upper
    layer lies in layer, the host's /proc and /dev, and trees (host
    directories) at their own paths."""
    def q(path):
        return shlex.quote(str(path))
    steps = [f"mount -t tmpfs -o mode=0755 chroot-leg {q(layer)}",
             f"mkdir {q(layer)}/upper {q(layer)}/work",
             f"mount -t overlay -o lowerdir={q(root)},upperdir={q(layer)}/upper"
             f",workdir={q(layer)}/work chroot-leg {q(view)}",
             f"mount --rbind /proc {q(view)}/proc",
             f"mount --rbind /dev {q(view)}/dev"]
    for tree in trees:
        steps += [f"mkdir -p {q(view)}{q(tree)}",
                  f"mount --bind {q(tree)} {q(view)}{q(tree)}"]
    services = f"{q(view)}/etc/services"
    steps.append(f"cp /etc/services {services}"
                 if Path("/etc/services").is_file() else f": > {services}")
    return steps


def in_root(root, trees, command):
    """The host command that runs command chrooted into root, with its
    scratch directory (to be removed once it has ended)."""
    scratch = Path(tempfile.mkdtemp(prefix="chroot-leg-"))
    view, layer = scratch / "view", scratch / "layer"
    view.mkdir()
    layer.mkdir()
    script = " && ".join(mount_steps(root, view, layer, trees) +
                         [f'exec chroot {shlex.quote(str(view))} "$@"'])
    return ["unshare", "--mount", "--propagation", "private", "--",
            "sh", "-c", script, "sh", *command], scratch


def run_in_root(root, trees, command, **popen):
    argv, scratch = in_root(root, trees, command)
    try:
        return subprocess.run(argv, check=False, **popen)
    finally:
        for directory in (scratch / "view", scratch / "layer", scratch):
            directory.rmdir()


def probe(root, trees):
    """(the C library that runs inside root, None), or (None, why the
    chroot cannot be set up here)."""
    if os.geteuid() != 0:
        return None, "chroot and mounts need root"
    if not (Path(root) / "usr/bin/python3").is_file():
        return None, f"no build root with python3 at {root}"
    try:
        done = run_in_root(root, trees, ["getconf", "GNU_LIBC_VERSION"],
                           capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, f"the chroot could not be set up: {error}"
    if done.returncode != 0:
        return None, (f"the chroot could not be set up: "
                      f"{done.stderr.strip() or f'status {done.returncode}'}")
    return done.stdout.strip(), None


def main(args):
    if len(args) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    root = str(Path(args[0]).resolve())
    trees = sorted({str(SOURCE), str(Path(args[1]).resolve())})
    command = args[2:]
    libc, reason = probe(root, trees)
    if reason is not None:
        if os.environ.get("CI") == "true":
            print(f"chroot leg: {reason}; CI=true needs it", file=sys.stderr)
            return 1
        print(f"chroot leg skipped: {reason}")
        return SKIPPED
    print(f"chroot leg: {shlex.join(command)} inside {root} ({libc})",
          flush=True)
    # TMPDIR may name a directory the root lacks; the rest of the caller's
    # environment (CI among it) goes in.
    env = {k: v for k, v in os.environ.items() if k != "TMPDIR"}
    env["PATH"] = PATH
    return run_in_root(root, trees, command, env=env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""The oldest Linux systems the built programs run on, measured from the
programs themselves.

    tools/linux_floor.py PROGRAM...            one line per floor
    tools/linux_floor.py --description PROGRAM...
                                               one sentence, for a package

The C library: a program needs the newest GLIBC_x.y version among the
symbol versions it imports (objdump -T). Any link against a recent glibc
takes __libc_start_main@GLIBC_2.34; the static libgcc unwinder takes
_dl_find_object@GLIBC_2.35.

The kernel: Linux 4.18, unless the programs import the C library's wrapper
of a system call that came later and has no fallback of ours. The
launchers call close_range themselves and fall back where it fails (an
end-to-end leg runs them with every call newer than 4.18 failing). The C
library's own uses of newer calls (clone3 in posix_spawn, faccessat2) fall
back by themselves and do not show here.
"""

import re
import subprocess
import sys

KERNEL_FLOOR = (4, 18)

# The C library's wrappers of system calls added after Linux 4.18, with the
# Linux version that added each.
NEWER_CALLS = {
    "pidfd_send_signal": (5, 1), "open_tree": (5, 2), "move_mount": (5, 2),
    "fsopen": (5, 2), "fsconfig": (5, 2), "fsmount": (5, 2),
    "fspick": (5, 2), "pidfd_open": (5, 3), "pidfd_getfd": (5, 6),
    "close_range": (5, 9), "process_madvise": (5, 10),
    "epoll_pwait2": (5, 11), "mount_setattr": (5, 12),
    "process_mrelease": (5, 15), "pidfd_spawn": (5, 3),
    "pidfd_spawnp": (5, 3), "pidfd_getpid": (5, 3), "mseal": (6, 10),
}

# Newer calls that the launchers make with a fallback of their own.
WITH_FALLBACK = {"close_range"}

_SYMBOL = re.compile(r"\*UND\*\s+\S+\s+\(?([A-Za-z_]+)_([0-9.]+)\)?\s+(\S+)$")


def imported(path):
    """[(name, library version name, version tuple)] of the versioned
    symbols a program takes from shared libraries."""
    out = subprocess.run(["objdump", "-T", str(path)], capture_output=True,
                         text=True, check=True,
                         env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout
    symbols = []
    for line in out.splitlines():
        match = _SYMBOL.search(line)
        if match:
            library, version, name = match.groups()
            symbols.append((name, library,
                            tuple(int(p) for p in version.split("."))))
    return symbols


def text(version):
    return ".".join(map(str, version))


def glibc_floor(paths):
    """(the newest GLIBC version the programs need, the symbols that need
    it)."""
    needs = {}
    for path in paths:
        for name, library, version in imported(path):
            if library == "GLIBC":
                needs.setdefault(version, set()).add(name)
    if not needs:
        raise ValueError("no GLIBC symbol versions: not a dynamic glibc program")
    newest = max(needs)
    return newest, sorted(needs[newest])


def kernel_floor(paths):
    """(the oldest Linux version, the newer calls imported: {name: (Linux
    version, whether the launchers fall back)})."""
    names = {name for path in paths for name, _, _ in imported(path)}
    calls = {name: (NEWER_CALLS[name], name in WITH_FALLBACK)
             for name in sorted(names & set(NEWER_CALLS))}
    floor = max([KERNEL_FLOOR] + [v for v, fallback in calls.values()
                                  if not fallback])
    return floor, calls


def lines(paths):
    glibc, symbols = glibc_floor(paths)
    kernel, calls = kernel_floor(paths)
    newer = ", ".join(f"{name} (Linux {text(v)}"
                      f"{', falls back' if fallback else ''})"
                      for name, (v, fallback) in calls.items()) or "none"
    return [f"GNU C library: {text(glibc)} or later (GLIBC_{text(glibc)}: "
            f"{', '.join(symbols)})",
            f"Linux: {text(kernel)} or later (system calls newer than "
            f"{text(KERNEL_FLOOR)} the programs make themselves: {newer})"]


def description(paths):
    glibc, _ = glibc_floor(paths)
    kernel, _ = kernel_floor(paths)
    return (f"The programs run on Linux {text(kernel)} or later with the GNU "
            f"C library {text(glibc)} or later.")


def main(args):
    if args[:1] == ["--description"] and len(args) > 1:
        print(description(args[1:]))
        return 0
    if not args or args[0].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 2
    print("\n".join(lines(args)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

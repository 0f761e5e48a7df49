#!/usr/bin/env python3
"""The oldest Linux systems the built programs run on, measured from the
programs themselves.

    tools/linux_floor.py PROGRAM...            one line per floor
    tools/linux_floor.py --description PROGRAM...
                                               one sentence, for a package
    tools/linux_floor.py --depends PROGRAM...  the Debian package's Depends
    tools/linux_floor.py --requires PROGRAM... the RPM package's Requires

The C library: a program needs the newest GLIBC_x.y version among the
symbol versions it imports (objdump -T, the aarch64 one for aarch64
programs). Linked against the build root's glibc 2.31
(tools/build_root.py), the newest is GLIBC_2.16 on x86_64 (__poll_chk,
from _FORTIFY_SOURCE) and GLIBC_2.17 on aarch64, where every symbol has
that version, the port's first; a link against glibc 2.34 or later would take
__libc_start_main@GLIBC_2.34 from its start files, and gcc 12's static
unwinder _dl_find_object@GLIBC_2.35.

The kernel: Linux 3.10, unless the programs make a system call that came
later and has no fallback of theirs. The calls they make are those of the
C library's functions they import and those they make through syscall(),
whose numbers are read from the instructions before each call of it and
named by the kernel's headers: close_range and getdents64 of the
launchers, futex of the C++ runtime's static guards. The one call newer
than 3.10 is close_range, which falls back where it fails (an end-to-end
leg runs the programs with every call newer than 3.10 failing). Neither the
start files nor the static C++ runtime hold a system call instruction of
their own: every call goes through the C library, whose own uses of newer
calls (clone3, faccessat2, getrandom) fall back by themselves and do not
show here.
"""

import re
import subprocess
import sys
import textwrap
from pathlib import Path

KERNEL_FLOOR = (3, 10)
# The oldest C library of the enterprise distributions in service: the one
# the shipped programs need may not be newer (e2e/native_files_test.py).
OLDEST_GLIBC = (2, 17)

# System calls added after Linux 3.10, with the version that added each
# (syscalls(2)), by the names of the C library's wrappers or of the calls
# themselves.
NEWER_CALLS = {
    "sched_setattr": (3, 14), "sched_getattr": (3, 14), "renameat2": (3, 15),
    "seccomp": (3, 17), "getrandom": (3, 17), "getentropy": (3, 17),
    "memfd_create": (3, 17), "kexec_file_load": (3, 17), "bpf": (3, 18),
    "execveat": (3, 19), "userfaultfd": (4, 3), "membarrier": (4, 3),
    "mlock2": (4, 4), "copy_file_range": (4, 5), "preadv2": (4, 6),
    "pwritev2": (4, 6), "pkey_mprotect": (4, 9), "pkey_alloc": (4, 9),
    "pkey_free": (4, 9), "statx": (4, 11), "io_pgetevents": (4, 18),
    "rseq": (4, 18), "pidfd_send_signal": (5, 1), "io_uring_setup": (5, 1),
    "io_uring_enter": (5, 1), "io_uring_register": (5, 1),
    "open_tree": (5, 2), "move_mount": (5, 2), "fsopen": (5, 2),
    "fsconfig": (5, 2), "fsmount": (5, 2), "fspick": (5, 2),
    "pidfd_open": (5, 3), "clone3": (5, 3), "pidfd_spawn": (5, 3),
    "pidfd_spawnp": (5, 3), "pidfd_getpid": (5, 3), "openat2": (5, 6),
    "pidfd_getfd": (5, 6), "faccessat2": (5, 8), "close_range": (5, 9),
    "process_madvise": (5, 10), "epoll_pwait2": (5, 11),
    "mount_setattr": (5, 12), "landlock_create_ruleset": (5, 13),
    "landlock_add_rule": (5, 13), "landlock_restrict_self": (5, 13),
    "quotactl_fd": (5, 14), "memfd_secret": (5, 14),
    "process_mrelease": (5, 15), "futex_waitv": (5, 16),
    "set_mempolicy_home_node": (5, 17), "cachestat": (6, 5),
    "fchmodat2": (6, 6), "map_shadow_stack": (6, 6), "futex_wake": (6, 7),
    "futex_wait": (6, 7), "futex_requeue": (6, 7), "statmount": (6, 8),
    "listmount": (6, 8), "lsm_get_self_attr": (6, 8),
    "lsm_set_self_attr": (6, 8), "lsm_list_modules": (6, 8),
    "mseal": (6, 10),
}

# Newer calls that the launchers make with a fallback of their own.
WITH_FALLBACK = {"close_range"}

# Per architecture (objdump's name of the file format): the kernel header
# that numbers the system calls, the instruction that loads a constant into
# syscall()'s first argument, and the system call instruction.
ARCHITECTURES = {
    "elf64-x86-64": (("/usr/include/x86_64-linux-gnu/asm/unistd_64.h",
                      "/usr/include/asm/unistd_64.h"),
                     re.compile(r"\bmov\s+\$0x([0-9a-f]+),%edi$"),
                     re.compile(r":\s+syscall\s*$")),
    "elf64-littleaarch64": (("/usr/include/asm-generic/unistd.h",),
                            re.compile(r"\bmov\s+[wx]0, #0x([0-9a-f]+)"),
                            re.compile(r":\s+svc\s")),
}
# How far before a call of syscall() its number may be loaded.
_LOOK_BACK = 8
_CALL = re.compile(r"\s(call|bl)\s+[0-9a-f]+ <syscall@plt>$")
_FORMAT = re.compile(r"file format (\S+)")

_SYMBOL = re.compile(r"\*UND\*\s+\S+\s+\(?([A-Za-z_]+)_([0-9.]+)\)?\s+(\S+)$")

# The objdump that reads a program, by its ELF machine (e_machine): this
# machine's own reads only its own architecture's code.
OBJDUMPS = {62: "objdump", 183: "aarch64-linux-gnu-objdump"}


def machine(path):
    """The ELF machine number of a program."""
    with open(path, "rb") as stream:
        header = stream.read(20)
    if len(header) < 20 or header[:4] != b"\x7fELF" or header[5] != 1:
        raise ValueError(f"{path}: not a little-endian ELF file")
    return int.from_bytes(header[18:20], "little")


def objdump(path, *options):
    """objdump's output for a program, in the C locale."""
    program = OBJDUMPS.get(machine(path))
    if program is None:
        raise ValueError(f"{path}: an architecture this script does not know")
    return subprocess.run([program, *options, str(path)], capture_output=True,
                          text=True, check=True,
                          env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout


def imported(path):
    """[(name, library version name, version tuple)] of the versioned
    symbols a program takes from shared libraries."""
    out = objdump(path, "-T")
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


def call_names(header):
    """{number: name} of the system calls a kernel header numbers."""
    names = {}
    for line in Path(header).read_text().splitlines():
        match = re.match(r"#define __NR(?:3264)?_(\w+)\s+(\d+)\s*$", line)
        if match:
            names[int(match.group(2))] = match.group(1)
    return names


def through_syscall(path):
    """The names of the system calls a program makes through syscall()."""
    out = objdump(path, "-d", "--no-show-raw-insn")
    lines = out.splitlines()
    file_format = _FORMAT.search(out)
    if file_format is None or file_format.group(1) not in ARCHITECTURES:
        raise ValueError(f"{path}: an architecture this script does not know")
    headers, load, instruction = ARCHITECTURES[file_format.group(1)]
    header = next((h for h in headers if Path(h).is_file()), None)
    if header is None:
        raise ValueError(f"no kernel header numbers the system calls of "
                         f"{path}: {', '.join(headers)} (linux-libc-dev)")
    names = call_names(header)
    found = set()
    for at, line in enumerate(lines):
        if instruction.search(line):
            raise ValueError(f"{path}: a system call not made through the C "
                             f"library: {line.strip()}")
        if not _CALL.search(line):
            continue
        loads = [load.search(earlier)
                 for earlier in reversed(lines[max(0, at - _LOOK_BACK):at])]
        number = next((int(m.group(1), 16) for m in loads if m), None)
        if number not in names:
            raise ValueError(f"{path}: a call of syscall() whose number cannot "
                             f"be read: {line.strip()}")
        found.add(names[number])
    return found


def kernel_floor(paths):
    """(the oldest Linux version, the newer calls the programs make: {name:
    (Linux version, whether the launchers fall back)})."""
    names = set()
    for path in paths:
        names |= {name for name, _, _ in imported(path)}
        names |= through_syscall(path)
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
            f"{text(KERNEL_FLOOR)} the programs make: {newer})"]


# Enterprise systems in service, their oldest kernel and C library, for
# the description: a system is named when both meet the floors.
SYSTEMS = (
    ("RHEL and CentOS 7", (3, 10), (2, 17)),
    ("RHEL, Rocky and Alma 8 to 10", (4, 18), (2, 28)),
    ("SLES 12 and 15", (3, 12), (2, 22)),
    ("Debian 10 to 13", (4, 19), (2, 28)),
    ("Ubuntu 18.04 to 24.04", (4, 15), (2, 27)),
)


def description(paths):
    glibc, _ = glibc_floor(paths)
    kernel, _ = kernel_floor(paths)
    named = [name for name, oldest_kernel, oldest_glibc in SYSTEMS
             if oldest_kernel >= kernel and oldest_glibc >= glibc]
    systems = f" Among them: {', '.join(named)}." if named else ""
    # Lines a package's description keeps as they are (rpmlint: 79 at most).
    return textwrap.fill(f"The programs run on Linux {text(kernel)} or later "
                         f"with the GNU C library {text(glibc)} or later."
                         f"{systems}", 72)


def depends(paths):
    """The Debian package's Depends: the C library from the measured floor
    (the C++ runtime is linked in)."""
    glibc, _ = glibc_floor(paths)
    return f"libc6 (>= {text(glibc)})"


_REFERENCES = re.compile(r"^  required from (\S+):$")
_REFERENCE = re.compile(r"^    0x[0-9a-f]+ 0x[0-9a-f]+ [0-9a-f]+ GLIBC_([0-9.]+)$")


def versions_needed(path):
    """(whether the program is 64-bit, {GLIBC version: the libraries it is
    needed of}), from its version references."""
    out = subprocess.run(["objdump", "-p", str(path)], capture_output=True,
                         text=True, check=True,
                         env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout
    file_format = _FORMAT.search(out)
    needed, library = {}, None
    for line in out.splitlines():
        match = _REFERENCES.match(line)
        if match:
            library = match.group(1)
            continue
        match = _REFERENCE.match(line)
        if match and library:
            version = tuple(int(p) for p in match.group(1).split("."))
            needed.setdefault(version, set()).add(library)
    return bool(file_format and file_format.group(1).startswith("elf64")), needed


def requires(paths):
    """The RPM package's Requires: the capability that rpm's own scan of
    the programs names for the newest C library version they need
    ("libc.so.6(GLIBC_2.16)(64bit)"), which the C library package of
    every RPM distribution provides, of the programs' word size, whatever
    the package's name there."""
    glibc, _ = glibc_floor(paths)
    found = set()
    for path in paths:
        is_64bit, needed = versions_needed(path)
        marker = "(64bit)" if is_64bit else ""
        found |= {f"{library}(GLIBC_{text(glibc)}){marker}"
                  for library in needed.get(glibc, ())}
    return ", ".join(sorted(found))


def main(args):
    if args[:1] == ["--description"] and len(args) > 1:
        print(description(args[1:]))
        return 0
    if args[:1] == ["--depends"] and len(args) > 1:
        print(depends(args[1:]))
        return 0
    if args[:1] == ["--requires"] and len(args) > 1:
        print(requires(args[1:]))
        return 0
    if not args or args[0].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 2
    print("\n".join(lines(args)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

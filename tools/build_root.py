#!/usr/bin/env python3
"""The Debian 11 (bullseye) root that the shipped Linux programs are built
against: its compiler, its C library (glibc 2.31) and its kernel headers,
driven from the host by the host's cmake and binutils
(cmake/toolchain-linux-x86_64.cmake).

    tools/build_root.py path        the root's path, made or not
    tools/build_root.py make        makes the root unless it is there, then
                                    prints its path
    tools/build_root.py packages    "package:arch version" of each package
                                    in the root, from its dpkg database

The root holds debootstrap's minbase and the packages of
tools/build-root.list. It is made once and kept in a cache directory, named
by a hash of that list and the suite, so that a changed list makes a new
root and an unchanged one is reused by every build of every checkout on the
machine: LAUNCHER_ROOT_CACHE, else /var/cache/talvane-launchers, readable by
every account (make reproduce builds as nobody against it). Making it needs
root (debootstrap, chroot); using it does not. Two runs at once make it
once (a lock), and a run that dies leaves no half-made root: it is made in a
directory of its own and renamed into place when complete.

LAUNCHER_ROOT_MIRROR names the Debian mirror (default deb.debian.org). When
the mirror no longer serves bullseye, an archive does, and a snapshot of the
date that the root records (build-root.info) gives the same package versions:
see README.md, "Verifying a release".

Exit status 0; 1 on a failure; 77 when the root is not there and cannot be
made by this account.
"""

import fcntl
import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

TOOLS = Path(__file__).resolve().parent
PACKAGE_LIST = TOOLS / "build-root.list"
SUITE = "bullseye"
ARCH = "amd64"
DEFAULT_CACHE = "/var/cache/talvane-launchers"
DEFAULT_MIRROR = "http://deb.debian.org/debian"
# What the root says of itself: the suite, the mirror and the date of the
# suite's Release file it was made from.
INFO = "build-root.info"
# Changed whenever the way the root is made changes, so that roots made the
# old way are not reused.
RECIPE = "1"
CANNOT = 77


class RootError(Exception):
    pass


def say(text):
    print(f"build-root: {text}", file=sys.stderr, flush=True)


def packages():
    """The packages of tools/build-root.list, in its order."""
    names = []
    for line in PACKAGE_LIST.read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            names.append(line)
    return names


def cache_dir():
    return Path(os.environ.get("LAUNCHER_ROOT_CACHE") or DEFAULT_CACHE)


def root_path():
    key = "\n".join([RECIPE, SUITE, ARCH, *sorted(packages())])
    digest = hashlib.sha256(key.encode()).hexdigest()[:16]
    return cache_dir() / f"{SUITE}-{ARCH}-{digest}"


def mounts_below(path):
    """Mount points at or below path, deepest first."""
    found = []
    with open("/proc/self/mounts") as mounts:
        for line in mounts:
            point = line.split()[1].replace("\\040", " ")
            if point == str(path) or point.startswith(f"{path}/"):
                found.append(point)
    return sorted(found, key=len, reverse=True)


def remove(path):
    """Removes a half-made root, unmounting first what debootstrap mounted
    in it (proc, sys) and left behind when it died."""
    for point in mounts_below(path):
        subprocess.run(["umount", "-l", point], check=False)
    shutil.rmtree(path, ignore_errors=True)


def relative_links(root):
    """Makes the absolute links of the root's libraries relative: read from
    outside, /lib/x86_64-linux-gnu/... would name the host's files (the
    linker follows libc.so's /lib64/ld-linux-x86-64.so.2 through them)."""
    for top in ("usr/lib", "usr/lib64"):
        for directory, subdirectories, files in os.walk(root / top):
            for name in subdirectories + files:
                link = Path(directory, name)
                target = os.readlink(link) if link.is_symlink() else ""
                if target.startswith("/"):
                    link.unlink()
                    link.symlink_to(os.path.relpath(f"{root}{target}", directory))


def release_date(root):
    """The Date of the suite's Release file that debootstrap used."""
    for release in sorted((root / "var/lib/apt/lists").glob("*Release")) + \
            sorted((root / "debootstrap").glob("*")):
        if release.is_file() and release.stat().st_size < (1 << 20):
            for line in release.read_text(errors="replace").splitlines():
                if line.startswith("Date:"):
                    return line.split(":", 1)[1].strip()
    return "unknown"


def make(root):
    mirror = os.environ.get("LAUNCHER_ROOT_MIRROR") or DEFAULT_MIRROR
    wanted = packages()
    scratch = root.with_name(f".making-{root.name}")
    remove(scratch)
    log = root.with_name(f"{root.name}.log")
    say(f"making {root} from {mirror} ({SUITE}, minbase and "
        f"{len(wanted)} packages: {', '.join(wanted)}); log in {log}")
    command = ["debootstrap", "--variant=minbase", f"--arch={ARCH}",
               "--keep-debootstrap-dir", f"--include={','.join(wanted)}",
               SUITE, str(scratch), mirror]
    with open(log, "w") as out:
        done = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, check=False)
    if done.returncode != 0:
        tail = log.read_text(errors="replace").splitlines()[-15:]
        remove(scratch)
        raise RootError(f"debootstrap failed (exit {done.returncode}); the end "
                        f"of {log}:\n" + "\n".join("    " + t for t in tail))
    relative_links(scratch)
    (scratch / INFO).write_text(f"suite: {SUITE}\narchitecture: {ARCH}\n"
                                f"mirror: {mirror}\n"
                                f"release date: {release_date(scratch)}\n")
    # The downloaded packages and debootstrap's own files are of no use to
    # a build.
    shutil.rmtree(scratch / "debootstrap")
    for deb in (scratch / "var/cache/apt/archives").glob("*.deb"):
        deb.unlink()
    scratch.chmod(0o755)
    scratch.rename(root)


def ensure():
    """The root, made if missing."""
    root = root_path()
    if (root / INFO).is_file():
        return root
    if os.geteuid() != 0:
        raise RootError(f"no build root at {root}, and making one needs root "
                        f"(debootstrap, chroot): run `tools/build_root.py make` "
                        f"as root", CANNOT)
    if shutil.which("debootstrap") is None:
        raise RootError("debootstrap is missing: tools/setup-deps.sh package "
                        "installs it")
    # Readable by every account, whatever umask the caller has.
    os.umask(0o022)
    root.parent.mkdir(parents=True, exist_ok=True)
    root.parent.chmod(0o755)
    with open(root.parent / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (root / INFO).is_file():
            make(root)
    return root


def listed(root):
    """"package:arch version" of each package in root, sorted."""
    done = subprocess.run(
        ["dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W",
         "-f=${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n"],
        capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise RootError(f"dpkg-query in {root}: {done.stderr.strip()}")
    return sorted(line[4:] for line in done.stdout.splitlines()
                  if line.startswith("ii "))


def info(root):
    """The root's build-root.info as a dictionary."""
    lines = (root / INFO).read_text().splitlines()
    return dict(line.split(": ", 1) for line in lines if ": " in line)


def main(args):
    if args not in (["path"], ["make"], ["packages"]):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        if args[0] == "path":
            print(root_path())
        elif args[0] == "make":
            print(ensure())
        else:
            root = root_path()
            if not (root / INFO).is_file():
                raise RootError(f"no build root at {root}", CANNOT)
            print("\n".join(listed(root)))
    except RootError as error:
        say(str(error.args[0]))
        return error.args[1] if len(error.args) > 1 else 1
    except OSError as error:
        say(str(error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

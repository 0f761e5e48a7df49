#!/usr/bin/env python3
"""Proves that the commit checked out builds the same bytes twice.

    tools/reproduce.py [--scratch DIR]      (make reproduce)

Clones HEAD twice, at paths of different lengths under DIR (default
build/reproduce, or a temporary directory when another account could not
reach it), and in each runs the steps of `make package` with the tests left
out of the build: one after the other, so at different times, and with
different time zones, umasks and locales, and as root the second as the
account nobody. Then compares the programs, the packages,
SHA256SUMS and TOOL-VERSIONS of the two, names each file that differs (and
what in it), and exits 1 if any does. Uncommitted changes are not in the
clones. The clones are removed when all is identical; the logs stay in DIR.

The Linux programs are built against the build root (tools/build_root.py),
made first by the caller where it is missing and used read-only by both
builds: nobody cannot make it. Where the caller cannot make it either (not
root), the run is skipped, saying why; with CI=true that is a failure.
"""

import argparse
import difflib
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from xml.etree import ElementTree

import archives
import build_root

REPO = Path(__file__).resolve().parent.parent

# `make package`'s steps, each tree configured without its tests (they take
# most of the build and go into no package). Its deps and Windows-tools
# checks are left to make.
STEPS = (
    ("cmake", "--preset", "linux-x86_64", "-DBUILD_TESTING=OFF"),
    ("cmake", "--build", "--preset", "linux-x86_64"),
    ("cpack", "--config", "build/linux-x86_64/CPackConfig.cmake"),
    ("cmake", "--preset", "linux-aarch64", "-DBUILD_TESTING=OFF"),
    ("cmake", "--build", "--preset", "linux-aarch64"),
    ("cpack", "--config", "build/linux-aarch64/CPackConfig.cmake"),
    ("cmake", "--preset", "windows-i686", "-DBUILD_TESTING=OFF"),
    ("cmake", "--build", "--preset", "windows-i686"),
    ("cpack", "--config", "build/windows-i686/CPackConfig.cmake"),
    ("tools/release.py", "sums"),
)

RELEASE_NOTES = ("packages/SHA256SUMS", "packages/TOOL-VERSIONS")

# Variables of the caller that would tie a build to it: make's job server
# and flags, its working directory.
DROPPED = ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "MAKEOVERRIDES", "PWD", "OLDPWD",
           "LANGUAGE")

OTHER_ACCOUNT = "nobody"


@dataclass
class Build:
    name: str
    clone: str        # below the scratch directory
    umask: int
    tz: str
    locale: str
    other_account: bool
    user: str = ""


BUILDS = (
    Build("a", "a/src", 0o022, "UTC0", "C", False),
    Build("b", "b/a-longer-directory-for-the-second-clone/talvane-launchers",
          0o077, "<+1345>-13:45", "C.UTF-8", True),
)


def say(text):
    print(f"reproduce: {text}", flush=True)


def git(*args):
    return subprocess.run(["git", "-C", str(REPO), *args], capture_output=True,
                          text=True, check=True).stdout.strip()


def reachable_by_others(path):
    """Whether an account that is neither owner nor group may enter path."""
    path = Path(path).resolve()
    while not path.exists():
        path = path.parent
    return all(p.stat().st_mode & 0o001 for p in [path, *path.parents])


def shared_path():
    """PATH without the directories another account cannot enter, so that
    both builds run the same programs."""
    kept = [d for d in os.environ.get("PATH", "").split(os.pathsep)
            if d and os.path.isdir(d) and reachable_by_others(d)]
    return os.pathsep.join(kept)


def environment(build, home, path):
    env = {k: v for k, v in os.environ.items() if k not in DROPPED}
    env.update(TZ=build.tz, LC_ALL=build.locale, LANG=build.locale, HOME=str(home),
               USER=build.user, LOGNAME=build.user, PATH=path)
    return env


def run(command, cwd, env, build, log, account=None):
    """Runs command under the build's umask (and account), output to log."""
    if account is not None:
        command = ["setpriv", f"--reuid={account.pw_uid}", f"--regid={account.pw_gid}",
                   "--clear-groups", "--", *command]
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    done = subprocess.run(command, cwd=cwd, env=env, stdout=log, stderr=subprocess.STDOUT,
                          stdin=subprocess.DEVNULL, check=False,
                          preexec_fn=lambda: os.umask(build.umask))
    return done.returncode


def tail(path, count=25):
    lines = path.read_text(errors="replace").splitlines()
    return "\n".join("    " + line for line in lines[-count:])


def build_once(build, scratch, commit, path, account):
    """Clones commit and runs STEPS in the clone; the clone, or None."""
    clone = scratch / build.clone
    home = scratch / f"home-{build.name}"
    clone.parent.mkdir(parents=True)
    home.mkdir()
    env = environment(build, home, path)
    log_path = scratch / f"{build.name}.log"
    say(f"build {build.name}: {clone}, as {build.user}, umask {build.umask:03o}, "
        f"TZ={build.tz}, LC_ALL={build.locale}, log {log_path}")
    started = time.monotonic()
    with open(log_path, "w") as log:
        # Cloned by the caller, then handed to the building account.
        steps = [(("git", "clone", "--quiet", "--no-local", "--no-checkout",
                   str(REPO), str(clone)), scratch, None),
                 (("git", "-C", str(clone), "checkout", "--quiet", "--detach", commit),
                  scratch, None)]
        if account is not None:
            top = scratch / build.clone.split("/")[0]
            steps.append((("chown", "-R", f"{account.pw_uid}:{account.pw_gid}",
                           str(top), str(home)), scratch, None))
        steps += [(step, clone, account) for step in STEPS]
        for command, cwd, user in steps:
            status = run(list(command), cwd, env, build, log, user)
            if status != 0:
                say(f"build {build.name}: `{' '.join(command)}` failed (exit {status});"
                    f" the end of {log_path}:\n{tail(log_path)}")
                return None
    say(f"build {build.name}: done in {minutes(time.monotonic() - started)}")
    return clone / "build"


def minutes(seconds):
    return f"{int(seconds // 60)}m{int(seconds % 60):02d}s"


def listed(build_dir):
    """The files a build's SHA256SUMS names, relative to its build dir."""
    sums = build_dir / "packages" / "SHA256SUMS"
    if not sums.is_file():
        return []
    return [line.split("  ", 1)[1] for line in sums.read_text().splitlines() if "  " in line]


def rpm_tags(path):
    """{tag: value} of an .rpm's header, as `rpm -qp --xml` writes it."""
    out = subprocess.run(["rpm", "-qp", "--xml", str(path)], capture_output=True,
                         text=True, check=True).stdout
    return {tag.get("name"): "|".join("".join(v.itertext()).strip() for v in tag)
            for tag in ElementTree.fromstring(out)}


def rpm_difference(first, second):
    try:
        a_tags, b_tags = rpm_tags(first), rpm_tags(second)
    except (OSError, subprocess.CalledProcessError, ElementTree.ParseError) as error:
        return f"headers not readable: {error}"
    changed = sorted(n for n in a_tags.keys() | b_tags.keys()
                     if a_tags.get(n) != b_tags.get(n))
    if not changed:
        return "same header, the signature or the payload differs"
    return "header tags differ: " + "; ".join(
        f"{n} {a_tags.get(n)!r:.60} / {b_tags.get(n)!r:.60}" for n in changed[:8])


def difference(first, second):
    """What differs between two files that are not the same bytes."""
    if first.name.endswith(".rpm"):
        return rpm_difference(first, second)
    note = ""
    try:
        a_members, b_members = archives.members(first), archives.members(second)
    except Exception as error:  # noqa: BLE001 - a damaged package differs too
        a_members = b_members = None
        note = f" (not readable as a package: {error})"
    if a_members is not None and b_members is not None:
        changed = sorted(n for n in a_members.keys() & b_members.keys()
                         if a_members[n] != b_members[n])
        only = sorted(a_members.keys() ^ b_members.keys())
        parts = []
        if changed:
            parts.append("members differ: " + ", ".join(changed[:8]) +
                         (" ..." if len(changed) > 8 else ""))
        if only:
            parts.append("in one build only: " + ", ".join(only[:8]))
        return "; ".join(parts) or "same members, different archive bytes"
    a_data, b_data = first.read_bytes(), second.read_bytes()
    if first.name in ("SHA256SUMS", "TOOL-VERSIONS"):
        lines = difflib.unified_diff(a_data.decode(errors="replace").splitlines(),
                                     b_data.decode(errors="replace").splitlines(),
                                     "a", "b", lineterm="", n=0)
        return "\n" + "\n".join("      " + line for line in list(lines)[:20])
    count = sum(x != y for x, y in zip(a_data, b_data))
    first_at = next((i for i, (x, y) in enumerate(zip(a_data, b_data)) if x != y),
                    min(len(a_data), len(b_data)))
    return (f"{count} of {min(len(a_data), len(b_data))} bytes differ, the first at "
            f"offset {first_at:#x}; sizes {len(a_data)} and {len(b_data)}{note}")


def compare(first, second):
    """Prints a line per file; the names of those that differ."""
    names = sorted(set(listed(first)) | set(listed(second))) + list(RELEASE_NOTES)
    differing = []
    for name in names:
        a_file, b_file = first / name, second / name
        if not (a_file.is_file() and b_file.is_file()):
            which = "a" if not a_file.is_file() else "b"
            print(f"  MISSING    {name}: not made by build {which}")
            differing.append(name)
        elif a_file.read_bytes() == b_file.read_bytes():
            print(f"  identical  {name}")
        else:
            print(f"  DIFFERENT  {name}: {difference(a_file, b_file)}")
            differing.append(name)
    return names, differing


def scratch_dir(requested, need_others):
    if requested is not None:
        return requested.resolve()
    default = REPO / "build" / "reproduce"
    if not need_others or reachable_by_others(default.parent):
        return default
    fallback = Path(tempfile.mkdtemp(prefix="reproduce-"))
    say(f"{OTHER_ACCOUNT} cannot reach {default}: working in {fallback}")
    return fallback


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scratch", type=Path,
                        help="where the clones go (default build/reproduce)")
    args = parser.parse_args()
    started = time.monotonic()

    account = None
    if os.geteuid() == 0 and shutil.which("setpriv"):
        account = pwd.getpwnam(OTHER_ACCOUNT)
    caller = pwd.getpwuid(os.geteuid()).pw_name
    for build in BUILDS:
        build.user = account.pw_name if build.other_account and account else caller
    if account is None:
        say("both builds run as the same account (as root, the second runs as "
            f"{OTHER_ACCOUNT})")

    try:
        root = build_root.ensure()
    except build_root.RootError as error:
        if os.environ.get("CI") == "true" or len(error.args) < 2:
            say(f"FAILED: the build root: {error.args[0]}")
            return 1
        say(f"skipped: the build root: {error.args[0]}")
        return 0
    say(f"build root, shared read-only by both builds: {root}")

    commit = git("rev-parse", "HEAD")
    say(f"commit {commit}")
    if git("status", "--porcelain"):
        say("the work tree has uncommitted changes: they are NOT in the clones, "
            "which hold the commit only")
    path = shared_path() if account else os.environ.get("PATH", "")
    if path != os.environ.get("PATH", ""):
        say(f"PATH for both builds, without what {OTHER_ACCOUNT} cannot enter: {path}")

    scratch = scratch_dir(args.scratch, account is not None)
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    scratch.chmod(0o755)

    trees = []
    for build in BUILDS:
        tree = build_once(build, scratch, commit, path,
                          account if build.other_account else None)
        if tree is None:
            say(f"FAILED: build {build.name} did not finish; scratch kept in {scratch}")
            return 1
        trees.append(tree)

    names, differing = compare(*trees)
    took = minutes(time.monotonic() - started)
    if differing:
        say(f"FAILED: {len(differing)} of {len(names)} files differ: "
            f"{', '.join(differing)} ({took}; the clones are kept in {scratch})")
        return 1
    for build in BUILDS:
        shutil.rmtree(scratch / build.clone.split("/")[0])
        shutil.rmtree(scratch / f"home-{build.name}")
    say(f"all {len(names)} files identical: the programs, the packages, SHA256SUMS "
        f"and TOOL-VERSIONS ({took})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

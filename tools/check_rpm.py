#!/usr/bin/env python3
"""The .rpm of each Linux build, as `make package` left it, checked the way
an RPM distribution's tools and an operator would see it.

    tools/check_rpm.py [--build-dir build]      (make package-check)

For each package: rpmlint reports nothing (tools/rpmlint.toml holds its
settings and why each message it lets pass is no fault); the header has the
.deb's name, version, summary, description and home page; the package owns
no directory but its own documentation's and licences'. Then, as root, it is installed into a scratch root with a
database of its own (rpm --root, without the C library it requires), `rpm
-V` finds every file as packaged, rpm's own scan of the installed programs
asks for no newer C library than the package's Requires, the installed
programs run a sample installation (a registry file and a stub Java VM),
and `rpm -e` leaves no file of the package behind. A package of another
architecture is installed with --ignorearch and its programs run under
qemu-user with the build root's libraries of that architecture, where both
are there (else that step is skipped, saying why).

Run by another account, the install is skipped, saying why; with CI=true
that is a failure.
"""

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
import build_root  # noqa: E402
import harness  # noqa: E402
import release  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
LINT_SETTINGS = REPO / "tools" / "rpmlint.toml"
# Inside the scratch root, as on the systems the package is for.
DBPATH = "/var/lib/rpm"
ELFDEPS = "/usr/lib/rpm/elfdeps"
_GLIBC = re.compile(r"^(\S+)\(GLIBC_([0-9.]+)\)(.*)$")


class CheckError(Exception):
    pass


def say(text):
    print(f"check_rpm: {text}", flush=True)


def run(command, env=None, check=True):
    """stdout of a command run in the C locale; a CheckError naming it and
    its output when it fails."""
    env = {**(os.environ if env is None else env), "LC_ALL": "C"}
    done = subprocess.run([str(c) for c in command], capture_output=True,
                          text=True, env=env, stdin=subprocess.DEVNULL,
                          check=False)
    if check and done.returncode != 0:
        raise CheckError(f"`{' '.join(map(str, command))}` failed "
                         f"(exit {done.returncode}):\n{done.stdout}{done.stderr}")
    return done.stdout


def query(package, tag):
    return run(["rpm", "-qp", "--qf", f"%{{{tag}}}", package])


def lint(package):
    out = run(["rpmlint", "-c", LINT_SETTINGS, package], check=False)
    messages = [line for line in out.splitlines() if re.search(r": [EW]: ", line)]
    if messages or not re.search(r" 0 errors, 0 warnings", out):
        raise CheckError("rpmlint:\n" + out)


def deb_fields(deb):
    """(name, version, summary, description, home page) of a .deb."""
    def field(name):
        return run(["dpkg-deb", "-f", deb, name]).rstrip("\n")
    summary, *rest = field("Description").split("\n")
    # Continuation lines start with a blank; " ." is an empty line.
    description = "\n".join("" if line == " ." else line[1:] for line in rest)
    return (field("Package"), field("Version"), summary, description,
            field("Homepage"))


def same_as_deb(package, deb):
    header = tuple(query(package, tag) for tag in
                   ("NAME", "VERSION", "SUMMARY", "DESCRIPTION", "URL"))
    expected = deb_fields(deb)
    names = ("name", "version", "summary", "description", "home page")
    differ = [f"{what}: .rpm {got!r}, .deb {want!r}"
              for what, got, want in zip(names, header, expected) if got != want]
    if differ:
        raise CheckError("the .rpm and the .deb differ:\n  " + "\n  ".join(differ))


def owns_no_directory(package):
    """The package owns no directory but its own, named after it (its
    documentation's and its licences')."""
    name = query(package, "NAME")
    listed = run(["rpm", "-qp", "--qf", "[%{FILEMODES:perms} %{FILENAMES}\n]",
                  package]).splitlines()
    owned = [line.split(" ", 1)[1] for line in listed if line.startswith("d")]
    others = [d for d in owned if Path(d).name != name]
    if others:
        raise CheckError(f"the package owns directories: {', '.join(others)}")


def glibc_needs(capabilities):
    """{(library, marker): newest GLIBC version} among rpm capabilities such
    as libc.so.6(GLIBC_2.16)(64bit)."""
    newest = {}
    for capability in capabilities:
        match = _GLIBC.match(capability.strip())
        if match:
            key = (match.group(1), match.group(3))
            version = tuple(int(p) for p in match.group(2).split("."))
            newest[key] = max(newest.get(key, version), version)
    return newest


def requires_enough(package, programs):
    """Whether the package's Requires names, in the form rpm's scan writes
    and the C library package provides, a C library at least as new as
    every one the installed programs need."""
    required = [r for r in run(["rpm", "-qp", "--requires", package]).splitlines()
                if not r.startswith("rpmlib(")]
    scanned = set(run([ELFDEPS, "--requires", *programs]).splitlines())
    stranger = set(required) - scanned
    if stranger:
        raise CheckError(f"Requires {sorted(stranger)}: not what rpm's scan of "
                         f"the programs names ({sorted(scanned)})")
    has, needs = glibc_needs(required), glibc_needs(scanned)
    for (library, marker), version in needs.items():
        floor = max((v for (_, m), v in has.items() if m == marker), default=None)
        if floor is None or floor < version:
            raise CheckError(f"the programs need {library}(GLIBC_"
                             f"{'.'.join(map(str, version))}){marker}; the "
                             f"package requires {sorted(required)}")


class ScratchRoot:
    """A directory that rpm installs into, with its own database."""

    def __init__(self, path):
        self.path = Path(path)
        self.rpm(["--initdb"])

    def rpm(self, args):
        return run(["rpm", "--root", self.path, "--dbpath", DBPATH, *args])

    def files(self):
        """Every file and link below the root, but rpm's database."""
        found = set()
        database = self.path / DBPATH.lstrip("/")
        for directory, dirs, names in os.walk(self.path):
            here = Path(directory)
            if here == database or database in here.parents:
                continue
            found |= {"/" + str((here / n).relative_to(self.path)) for n in names}
            found |= {"/" + str((here / d).relative_to(self.path)) for d in dirs
                      if (here / d).is_symlink()}
        return found


def emulator(architecture):
    """The command prefix and environment that run the package's programs
    here; a reason instead where they cannot run."""
    if architecture == platform.machine():
        return [], {}, None
    qemu = shutil.which(f"qemu-{architecture}")
    if qemu is None:
        return None, None, (f"{architecture} programs on this "
                            f"{platform.machine()} machine need "
                            f"qemu-{architecture} (qemu-user)")
    # The cross C library of the build root, which the programs were
    # linked against.
    libraries = build_root.root_path() / "usr" / f"{architecture}-linux-gnu"
    if not (libraries / "lib").is_dir():
        return None, None, f"the build root has no {libraries}"
    return [qemu], {"QEMU_LD_PREFIX": str(libraries)}, None


def runs_sample_installation(bin_dir, scratch, prefix, extra_env):
    """Each installed launcher starts the stub Java VM of a sample
    installation on its class with the operator's arguments, and ends with
    the status the stub gives."""
    opt, etc, var = (scratch / "install" / d for d in ("opt", "etc", "var"))
    jre = scratch / "install" / "jre"
    for directory in (opt, etc, var, jre / "bin"):
        directory.mkdir(parents=True)
    record = scratch / "stub-argv"
    java = jre / "bin" / "java"
    # A host program, as qemu-user starts what the launcher executes natively.
    java.write_text('#!/bin/sh\nprintf "%s\\0" "$@" > "$STUB_RECORD"\n'
                    'exit "$STUB_EXIT"\n')
    java.chmod(0o755)
    registry = harness.write_registry(scratch / "registry.reg", {
        harness.SITE_KEY: harness.site_values(str(opt), str(etc), str(var), str(jre)),
        harness.PROVIDER_KEY: harness.site_values(str(opt), str(etc), str(var)),
    })
    cases = (
        ("tarvo", ["list", "pool 1"], 7, 7, harness.TARVO_CLASS,
         f"-Dpellucor.optdir={opt}/{harness.PACKAGE}"),
        ("gorvanel", ["-l", "key 1"], 1, 1, harness.GORVANEL_CLASS,
         f"-Dqrvex.optdir={opt}"),
    )
    for program, args, stub_exit, status, java_class, option in cases:
        record.unlink(missing_ok=True)
        env = harness.clean_environment(TALVANE_REGISTRY=registry,
                                        STUB_RECORD=record, STUB_EXIT=stub_exit,
                                        **extra_env)
        result = harness.run([*prefix, bin_dir / program, *args], env=env)
        argv = record.read_bytes().decode().split("\0")[:-1] \
            if record.exists() else None
        if result.status != status or argv is None or \
                argv[-len(args) - 1:] != [java_class, *args] or option not in argv:
            raise CheckError(f"installed {program} {args}: {result.describe()}, "
                             f"expected status {status}; the Java VM got {argv}")


def install_and_remove(package, scratch):
    name = query(package, "NAME")
    architecture = query(package, "ARCH")
    # Its files and links: the directories it owns are its own
    # (owns_no_directory).
    listed = {line.split(" ", 1)[1] for line in run(
        ["rpm", "-qp", "--qf", "[%{FILEMODES:perms} %{FILENAMES}\n]", package]
    ).splitlines() if not line.startswith("d")}
    root = ScratchRoot(scratch / "root")
    foreign = [] if architecture == platform.machine() else ["--ignorearch"]
    # The scratch root holds no C library: what the package requires is
    # checked against the programs instead.
    root.rpm(["-i", "--nodeps", *foreign, package])
    installed = root.files()
    if installed != listed:
        raise CheckError(f"installed {sorted(installed)}, the package lists "
                         f"{sorted(listed)}")
    out = root.rpm(["-V", "--nodeps", name])
    if out:
        raise CheckError(f"rpm -V:\n{out}")
    programs = sorted(str(root.path / f.lstrip("/")) for f in listed
                      if f.startswith("/usr/bin/"))
    requires_enough(package, programs)
    prefix, extra_env, reason = emulator(architecture)
    if reason:
        say(f"{package.name}: the installed programs not run: {reason}")
    else:
        runs_sample_installation(root.path / "usr" / "bin", scratch, prefix, extra_env)
    root.rpm(["-e", name])
    left = root.files()
    if left:
        raise CheckError(f"rpm -e left {sorted(left)}")


def packages(build):
    """(.rpm, .deb) of each Linux tree of a release."""
    settings = [release.cpack_settings(build / tree) for tree in release.LINUX]
    return [(release.rpm_of(s), release.deb_of(s)) for s in settings]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPO / "build")
    args = parser.parse_args()
    as_root = os.geteuid() == 0
    try:
        for package, deb in packages(args.build_dir.resolve()):
            lint(package)
            same_as_deb(package, deb)
            owns_no_directory(package)
            if not as_root:
                say(f"{package.name}: rpmlint and the header pass; the install "
                    "into a scratch root skipped: rpm --root needs root")
                continue
            with tempfile.TemporaryDirectory(prefix="check-rpm-") as scratch:
                install_and_remove(package, Path(scratch))
            say(f"{package.name}: rpmlint, header, install, rpm -V, the programs "
                "and the removal pass")
    except (CheckError, release.ReleaseError, OSError) as error:
        say(f"FAILED: {error}")
        return 1
    if not as_root and os.environ.get("CI") == "true":
        say("FAILED: CI=true needs the install checks, as root")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

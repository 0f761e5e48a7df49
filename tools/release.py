#!/usr/bin/env python3
"""Release files that anyone can rebuild byte for byte from their commit.

    tools/release.py normalize --epoch SECONDS PACKAGE...
        Rewrites each .tar.gz, .deb and .zip in place with fixed member
        order, times (SECONDS), owners and modes (tools/archives.py). cpack
        runs it on the packages it made (cmake/normalize_packages.cmake).

    tools/release.py sums [--build-dir build]
        Writes BUILD/packages/SHA256SUMS over the programs, packages and
        bills of materials of the Linux builds against the build root and
        of the 32-bit Windows build, and the detached signatures of the
        ZIP's programs once they are signed (make sign; paths relative to
        BUILD: `cd build && sha256sum -c packages/SHA256SUMS` checks them)
        and, beside it, TOOL-VERSIONS: the commit, SOURCE_DATE_EPOCH, the
        versions of the tools that made them and of those that check them,
        every package of the build root (tools/build_root.py), and the
        oldest C library and kernel the Linux programs run on
        (tools/linux_floor.py). `make package` runs it last.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

import archives
import authenticode
import build_root
import linux_floor
import sbom

REPO = Path(__file__).resolve().parent.parent

# The build trees of a release (presets) and the programs of each.
LINUX = ("linux-x86_64", "linux-aarch64")
WINDOWS = "windows-i686"
TREES = (*LINUX, WINDOWS)
PROGRAMS = tuple(f"{tree}/bin/{program}" for tree in LINUX
                 for program in ("tarvo", "gorvanel")) + \
    (f"{WINDOWS}/bin/tarvo.exe", f"{WINDOWS}/bin/gorvanel.exe")


class ReleaseError(Exception):
    pass


# --- SHA256SUMS and TOOL-VERSIONS ------------------------------------------

def cpack_settings(tree):
    """The CPACK_* values cmake wrote into a build tree's CPackConfig.cmake."""
    config = tree / "CPackConfig.cmake"
    if not config.is_file():
        raise ReleaseError(f"{config} is missing: configure the tree first")
    return dict(re.findall(r'^set\((CPACK_\w+) "(.*)"\)$', config.read_text(), re.M))


def cache_settings(tree):
    """name -> value of a build tree's CMakeCache.txt, with the compilers
    that cmake found (CMakeFiles/<version>/CMake<LANG>Compiler.cmake)."""
    text = (tree / "CMakeCache.txt").read_text()
    found = dict(re.findall(r"^(\w+):\w+=(.*)$", text, re.M))
    for compiler in sorted(tree.glob("CMakeFiles/*/CMake*Compiler.cmake")):
        found.update(re.findall(r'^set\((CMAKE_\w+_COMPILER) "(.*)"\)$',
                                compiler.read_text(), re.M))
    return found


def the_one(pattern, directory):
    found = sorted(directory.glob(pattern))
    if len(found) != 1:
        what = ", ".join(p.name for p in found) or "none"
        raise ReleaseError(f"{directory}/{pattern}: one file expected, found {what}")
    return found[0]


def release_files(build):
    """The programs and packages of a release, as paths relative to build,
    and the SOURCE_DATE_EPOCH every tree was built with."""
    settings = {tree: cpack_settings(build / tree) for tree in TREES}
    epochs = {s.get("CPACK_LAUNCHERS_SOURCE_DATE_EPOCH") for s in settings.values()}
    if len(epochs) != 1 or None in epochs:
        raise ReleaseError(f"{', '.join(TREES)} were configured with different "
                           f"SOURCE_DATE_EPOCH values ({epochs}): configure "
                           "them all again")
    packages = []
    for tree, found in settings.items():
        directory = Path(found["CPACK_PACKAGE_DIRECTORY"])
        packages.append(bill_of(found))
        if tree == WINDOWS:
            packages.append(directory / (found["CPACK_PACKAGE_FILE_NAME"] + ".zip"))
            packages += detached_signatures(build, packages[-1])
            continue
        packages.append(directory / (found["CPACK_PACKAGE_FILE_NAME"] + ".tar.gz"))
        packages.append(deb_of(found))
        packages.append(rpm_of(found))
    files = [build / p for p in PROGRAMS] + packages
    missing = [str(f) for f in files if not f.is_file()]
    if missing:
        raise ReleaseError("missing: " + ", ".join(missing) +
                           " (make package builds them)")
    return [f.resolve().relative_to(build.resolve()) for f in files], epochs.pop()


def bill_of(settings):
    """The bill of materials beside a tree's packages, the same as in each
    of them (cmake/packaging.cmake)."""
    return Path(settings["CPACK_PACKAGE_DIRECTORY"]) / \
        (settings["CPACK_PACKAGE_FILE_NAME"] + ".cdx.json")


def zip_of(build):
    """The ZIP of the Windows build."""
    found = cpack_settings(build / WINDOWS)
    return Path(found["CPACK_PACKAGE_DIRECTORY"]) / (found["CPACK_PACKAGE_FILE_NAME"] + ".zip")


def detached_signatures(build, zip_path):
    """The detached signatures of the ZIP's programs (make sign) where the
    ZIP holds signed ones, else none."""
    if not zip_path.is_file():
        return []
    signed = [member for member, data in authenticode.programs(zip_path).items()
              if authenticode.is_signed(data)]
    return [authenticode.signature_path(build / "packages", zip_path, member)
            for member in signed]


def remake_bill(package, epoch):
    """The ZIP's bill of materials made again for the programs it holds
    (make sign put signed ones there): each program's SHA-256 is that of
    its bytes in the ZIP, in the bill beside the ZIP and in the one in it;
    nothing else changes."""
    beside = package.with_suffix(".cdx.json")
    document = json.loads(beside.read_text())
    held = {member.rsplit("/", 1)[-1]: data
            for member, data in authenticode.programs(package).items()}
    for component in document["components"]:
        if component["type"] == "application":
            digest = hashlib.sha256(held[component["name"]]).hexdigest()
            component["hashes"] = [{"alg": "SHA-256", "content": digest}]
    text = sbom.dumps(document)
    beside.unlink()  # a link to the rebuild's, where a release is verified
    beside.write_text(text)
    with zipfile.ZipFile(package) as archive:
        inside = [m for m in archive.namelist() if m.endswith("/sbom.cdx.json")]
    if len(inside) != 1:
        raise ReleaseError(f"{package.name}: one bill of materials expected in it")
    remade = package.with_name(package.stem + ".remade.zip")
    authenticode.remake_zip(package, {inside[0]: text.encode()}, int(epoch), remade)
    os.replace(remade, package)
    print(f"release: the bill of materials of {package.name} made again")


def deb_of(settings):
    """The .deb in a Linux tree's packages (the CPACK_* values of its
    CPackConfig.cmake): <name>_<version>_<architecture>.deb."""
    return the_one(f'{settings["CPACK_PACKAGE_NAME"]}_'
                   f'{settings["CPACK_PACKAGE_VERSION"]}_*.deb',
                   Path(settings["CPACK_PACKAGE_DIRECTORY"]))


def rpm_of(settings):
    """The .rpm in a Linux tree's packages: <name>-<version>-<release>.
    <architecture>.rpm."""
    return the_one(f'{settings["CPACK_PACKAGE_NAME"]}-'
                   f'{settings["CPACK_PACKAGE_VERSION"]}-*.'
                   f'{settings["CPACK_RPM_PACKAGE_ARCHITECTURE"]}.rpm',
                   Path(settings["CPACK_PACKAGE_DIRECTORY"]))


def root_of(compiler):
    """The build root that holds a compiler, or None."""
    for directory in Path(compiler).parents:
        if (directory / build_root.INFO).is_file():
            return directory
    return None


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def run(command):
    """stdout of a command run in the C locale, "" when it cannot run."""
    try:
        done = subprocess.run(command, capture_output=True, text=True,
                              env={**os.environ, "LC_ALL": "C"}, check=False)
    except OSError:
        return ""
    return done.stdout


def first_line(command):
    """The version line of a program; one that ends in a colon goes on
    on the next (osslsigncode's names the OpenSSL it uses there)."""
    lines = [line.strip() for line in run(command).splitlines()]
    if not lines:
        return "(no version)"
    if lines[0].endswith(":") and len(lines) > 1:
        return f"{lines[0]} {lines[1]}"
    return lines[0]


def tool_lines(build):
    """[(what, program, version)] of the tools that made the release files,
    the files whose Debian packages on this machine say the most about
    them, and the build roots the Linux trees were built in."""
    tools, files, roots = [], [], []
    for preset in TREES:
        cache = cache_settings(build / preset)
        compiler = cache["CMAKE_CXX_COMPILER"]
        root = root_of(compiler)
        if root is not None and root not in roots:
            roots.append(root)
        for what, key in (("C++ compiler", "CMAKE_CXX_COMPILER"),
                          ("C compiler", "CMAKE_C_COMPILER"),
                          ("resource compiler", "CMAKE_RC_COMPILER"),
                          ("linker", "CMAKE_LINKER"), ("archiver", "CMAKE_AR"),
                          ("strip", "CMAKE_STRIP")):
            program = shutil.which(cache.get(key) or "")
            if program:
                tools.append((f"{preset} {what}", in_root(program, root),
                              first_line([program, "--version"])))
                files.append(program)
        # The assembler and linker the compiler runs (a build root's
        # compiler takes this machine's, from PATH or from the -B of the
        # tree's flags).
        flags = cache.get("CMAKE_CXX_FLAGS", "").split()
        for what, name in (("assembler", "as"), ("linker run by the compiler", "ld")):
            program = shutil.which(
                run([compiler, *flags, f"-print-prog-name={name}"]).strip())
            if program:
                tools.append((f"{preset} {what}", in_root(program, root),
                              first_line([program, "--version"])))
                files.append(program)
        # What the compiler links into each program from its own libraries.
        for library in ("libstdc++.a", "libgcc.a", "crt1.o", "crt2.o",
                        "libkernel32.a", "libc_nonshared.a", "libc.so.6"):
            found = run([compiler, f"-print-file-name={library}"]).strip()
            if os.path.isabs(found):
                files.append(found)
    linux = cache_settings(build / LINUX[0])
    settings = cpack_settings(build / LINUX[0])
    python = settings["CPACK_LAUNCHERS_PYTHON"]
    zlib = run([python, "-c", "import zlib; print(zlib.ZLIB_RUNTIME_VERSION)"]).strip()
    for what, program in (("cmake", linux["CMAKE_COMMAND"]),
                          ("cpack", linux["CMAKE_CPACK_COMMAND"]),
                          ("dpkg", "dpkg"), ("rpmbuild", "rpmbuild"),
                          # It puts the signatures into the Windows programs
                          # (make sign) and, for anyone checking a release,
                          # the published ones into the rebuilt programs.
                          ("osslsigncode", "osslsigncode")):
        program = shutil.which(program)
        if program:
            tools.append((what, program, first_line([program, "--version"])))
            files.append(program)
    tools.append(("python3 (archives, manual pages, notices, bills)", python,
                  first_line([python, "--version"]) + f", zlib {zlib}"))
    files.append(python)
    # What make package-check checks the packages with.
    for what, program in (("lintian", "lintian"), ("rpmlint", "rpmlint"),
                          ("Node.js (the bills' validation)", "node")):
        program = shutil.which(program)
        if program:
            tools.append((what, program, first_line([program, "--version"])))
            files.append(program)
    tools += validator_lines()
    # A build root's files belong to its packages, listed whole.
    files = [f for f in files if not any(Path(f).is_relative_to(r) for r in roots)]
    return tools, files, roots


def validator_lines():
    """The CycloneDX library and its schema validators that check the
    bills (tools/sbom/package-lock.json), as installed."""
    modules = sbom.validator_dir() / "node_modules"
    lock = json.loads(sbom.LOCKFILE.read_text())
    wanted = lock["packages"][""]["dependencies"]
    lines = []
    for name in sorted(wanted):
        try:
            version = json.loads((modules / name / "package.json").read_text())["version"]
        except (OSError, ValueError, KeyError):
            version = "not installed (tools/setup-deps.sh test installs it)"
        lines.append((f"bill validation (npm): {name}", str(modules / name), version))
    return lines


def in_root(program, root):
    """A program's path, a build root's written as <build root>: the root
    lies where the machine keeps it."""
    if root is not None and Path(program).is_relative_to(root):
        return "<build root>/" + str(Path(program).relative_to(root))
    return program


def root_lines(root):
    """What TOOL-VERSIONS says of a build root: where it came from and
    every package in it, from its own dpkg database."""
    try:
        info = build_root.info(root)
        packages = build_root.listed(root)
    except (OSError, build_root.RootError) as error:
        raise ReleaseError(f"the build root {root}: {error}") from error
    return ["", f"Build root of the Linux programs (tools/build_root.py): Debian "
                f"{info.get('suite')} {info.get('architecture')}, from "
                f"{info.get('mirror')}, the suite's Release of "
                f"{info.get('release date')}; its packages:"] + \
        [f"  {p}" for p in packages]


def debian_packages(files):
    """"package version" of each Debian package that owns one of files."""
    paths = set()
    for name in files:
        found = shutil.which(name) if not os.path.isabs(name) else name
        if found:
            for path in {os.path.normpath(found), os.path.realpath(found)}:
                paths.add(path)
                # With /bin and /lib links to /usr, dpkg may know either name.
                if re.match(r"/usr/(s?bin|lib)", path):
                    paths.add(path[len("/usr"):])
    owners = set()
    for line in run(["dpkg", "-S", *sorted(paths)]).splitlines():
        if ": " in line and not line.startswith("diversion"):
            owners.update(p.strip() for p in line.split(": ", 1)[0].split(","))
    if not owners:
        return []
    listed = run(["dpkg-query", "-W", "-f=${Package}:${Architecture} ${Version}\n",
                  *sorted(owners)])
    return sorted(set(listed.splitlines()))


def source_line():
    """The commit the source tree is at, or that it is no git checkout."""
    if not (REPO / ".git").exists():
        return "no git checkout"
    commit = run(["git", "-C", str(REPO), "rev-parse", "HEAD"]).strip()
    if not commit:
        return "a git checkout whose commit git could not read"
    dirty = run(["git", "-C", str(REPO), "status", "--porcelain"]).strip()
    return f"commit {commit}" + (", with uncommitted changes" if dirty else "")


def sums_text(build, files):
    """SHA256SUMS of files, paths relative to build."""
    return "".join(f"{sha256(build / f)}  {f}\n" for f in sorted(files))


def write_sums(build, tool_versions=True):
    """SHA256SUMS and, unless told otherwise, TOOL-VERSIONS. make sign
    writes the sums only: TOOL-VERSIONS is the build's, and it names the
    osslsigncode that the signing and any check of it use."""
    files, epoch = release_files(build)
    out = build / "packages"
    out.mkdir(exist_ok=True)
    # Signatures of what these sums no longer list: the old SHA256SUMS's,
    # and those of programs that an unsigned ZIP no longer holds.
    listed = {(build / f).resolve() for f in files}
    for stale in [out / "SHA256SUMS.asc",
                  *out.glob("*" + authenticode.SIGNATURE_SUFFIX)]:
        if stale.resolve() not in listed:
            stale.unlink(missing_ok=True)
    sums = sums_text(build, files)
    (out / "SHA256SUMS").write_text(sums)
    print(f"release: {out / 'SHA256SUMS'}:")
    print(sums, end="")
    if not tool_versions:
        return

    tools, owned, roots = tool_lines(build)
    when = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(int(epoch)))
    lines = ["# What made the files in SHA256SUMS. The same commit built with other",
             "# versions of these tools may give other bytes.",
             f"source: {source_line()}",
             f"SOURCE_DATE_EPOCH: {epoch} ({when})",
             "", "Debian packages:"]
    lines += [f"  {p}" for p in debian_packages(owned)] or ["  (none found: not Debian?)"]
    lines += ["", "Tools:"]
    lines += [f"  {what}: {program}: {version}" for what, program, version in tools]
    for root in roots:
        lines += root_lines(root)
    # The oldest systems the Linux programs run on, from their symbol
    # versions and system calls (tools/linux_floor.py): what the README's
    # table explains.
    for tree in LINUX:
        programs = [build / p for p in PROGRAMS if p.startswith(f"{tree}/")]
        try:
            floor = linux_floor.lines(programs)
        except (OSError, ValueError, subprocess.CalledProcessError) as error:
            raise ReleaseError(f"the Linux programs' floor: {error}") from error
        lines += ["", f"The Linux programs of {tree} run on:"]
        lines += [f"  {line}" for line in floor]
    (out / "TOOL-VERSIONS").write_text("\n".join(lines) + "\n")
    print(f"release: tool versions in {out / 'TOOL-VERSIONS'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    normalize_command = commands.add_parser("normalize")
    normalize_command.add_argument("--epoch", type=int, required=True)
    normalize_command.add_argument("packages", nargs="+", type=Path)
    sums_command = commands.add_parser("sums")
    sums_command.add_argument("--build-dir", type=Path, default=REPO / "build")
    args = parser.parse_args()
    try:
        if args.command == "normalize":
            for package in args.packages:
                try:
                    archives.normalize(package, args.epoch)
                except (archives.ArchiveError, OSError, tarfile.TarError,
                        zipfile.BadZipFile) as error:
                    raise ReleaseError(f"{package}: {error}") from error
        else:
            write_sums(args.build_dir)
    except ReleaseError as error:
        print(f"release: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

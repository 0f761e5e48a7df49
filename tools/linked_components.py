#!/usr/bin/env python3
"""The code of others that the link put into a build tree's programs,
found from the linker's own maps, and what its packages say of it.

    tools/linked_components.py [--sysroot ROOT] BUILD_TREE
        prints, as JSON, each Debian package that a program of the tree
        was linked from: its version, architecture, licence, copyright file
        and the archive members and object files the link took from it

Every link of a program writes BUILD_TREE/link-maps/<program>.map
(CMakeLists.txt). Each archive member ("libstdc++.a(eh_throw.o)") and
object file ("crt1.o") that map names from outside the build tree is
mapped to the package that installed it by dpkg's database: the build
root's (--sysroot, the root the Linux programs were linked against),
else this machine's (the Windows programs' mingw-w64 runtime). Each shared
library a program needs (DT_NEEDED) is mapped the same way, from the file
the linker read it from. Versions and architectures come from the same
database, copyright files from the packages' /usr/share/doc, and licences
from LICENCES below: a package the link used that has no entry there is an
error, so that a new component cannot go out without its licence.

No path of the build root or of the build tree reaches the output: files
are named as inside the root.
"""

import argparse
import json
import os
import re
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path

MAPS = "link-maps"


@dataclass(frozen=True)
class Licence:
    """What the copyright file of a source package says of the parts that
    programs link from it."""
    spdx: str         # SPDX expression
    dep5: str         # the same as a Debian machine-readable copyright file
                      # names it
    common: tuple     # full texts in /usr/share/common-licenses
    notice: str       # where the copyright notice stands in the package's
                      # copyright file: a pattern whose group 1 it is
    texts: tuple = ()  # patterns of full texts in the copyright file that
                       # common-licenses does not hold


# The GCC runtime (libstdc++, libgcc, libgcc_eh, libssp, the crtbegin and
# crtend objects). gcc-10-base's copyright file (the same text in
# gcc-10-cross-base and gcc-mingw-w64-base): "The following runtime
# libraries are licensed under the terms of the GNU General Public License
# (v3 or later) with version 3.1 of the GCC Runtime Library Exception
# (included in this file): libgcc (..., gcc/crtstuff.c, ...), ... libssp,
# libstdc++-v3".
_GCC_RUNTIME = Licence(
    spdx="GPL-3.0-or-later WITH GCC-exception-3.1",
    dep5="GPL-3+ with GCC-Runtime-Library-3.1 exception",
    common=("GPL-3",),
    notice=r"GCC is (Copyright \(C\) .*?Free Software Foundation, Inc\.)",
    texts=(r"(GCC RUNTIME LIBRARY EXCEPTION\n.*?requirements of the license of GCC\.)",))

# The C library's start files (crt1.o, crti.o, crtn.o), its
# libc_nonshared.a and, loaded at run time, libc.so.6. libc6's copyright
# file: "Most of the GNU C library is under the following copyright: ...
# GNU Lesser General Public License ... version 2.1 of the License, or (at
# your option) any later version"; the cross packages carry the same file.
_GLIBC = Licence(
    spdx="LGPL-2.1-or-later",
    dep5="LGPL-2.1+",
    common=("LGPL-2.1",),
    notice=r"Most of the GNU C library is under the following copyright:\s*\n\s*"
           r"(Copyright \(C\) [^\n]*)")

# mingw-w64's runtime (crt2.o, libmingw32, libmingwex, libmsvcrt, the
# import libraries of the Windows DLLs). Its copyright file is in the
# machine-readable format, one paragraph per group of source files: the
# runtime's (mingw-w64-crt/, without the profiler and the test cases,
# which the programs do not link) are under ZPL-2.1 (Files: *) and the
# licences below, those without an SPDX identifier named after their
# License paragraph in that file, which the packages carry whole.
_MINGW_W64 = Licence(
    spdx="ZPL-2.1 AND BSD-3-Clause AND ISC AND "
         "LicenseRef-mingw-w64-public-domain AND LicenseRef-mingw-w64-Lucent AND "
         "LicenseRef-mingw-w64-David-Gay AND LicenseRef-mingw-w64-Permissive-Sun AND "
         "LicenseRef-mingw-w64-Keith-Marshall AND "
         "LicenseRef-mingw-w64-BSD-2-clause-NetBSD",
    dep5="ZPL-2.1 and BSD-3-clause and ISC and public-domain and Lucent and "
         "David-Gay and Permissive-Sun and Keith-Marshall and BSD-2-clause-NetBSD",
    common=(),
    notice=r"\nFiles: \*\nCopyright: ([^\n]+)")

# Debian source package -> the licence of what the programs link from its
# binary packages.
LICENCES = {
    "gcc-10": _GCC_RUNTIME,
    "gcc-10-cross": _GCC_RUNTIME,
    "gcc-mingw-w64": _GCC_RUNTIME,
    "glibc": _GLIBC,
    "cross-toolchain-base": _GLIBC,
    "mingw-w64": _MINGW_W64,
}


class LinkError(Exception):
    pass


@dataclass
class Package:
    name: str
    architecture: str
    version: str
    source: str
    distro: str
    copyright: str            # the copyright file, as inside the root
    licence: Licence
    linkage: str              # "static", or "dynamic" for a shared library
    files: set = field(default_factory=set)     # "archive(member)", objects
    programs: set = field(default_factory=set)

    @property
    def purl(self):
        quote = lambda text: re.sub(r"[^A-Za-z0-9.~_-]",  # noqa: E731
                                    lambda m: "%%%02X" % ord(m.group()), text)
        return (f"pkg:deb/debian/{quote(self.name)}@{quote(self.version)}"
                f"?arch={self.architecture}&distro={self.distro}")


# --- The linker's map -------------------------------------------------------

_MEMBER = re.compile(r"^(\S+?)\(([^()\s]+)\)(?=\s|$)")
_LOAD = re.compile(r"^LOAD (/\S+)$")
_OBJECT = re.compile(r"\.(o|obj|oS)$")


def map_inputs(text):
    """(archive members [(archive, member)], files the link loaded) of a GNU
    ld map file, paths as the linker wrote them."""
    members, loaded, in_members = [], [], False
    for line in text.splitlines():
        if line.startswith("Archive member included"):
            in_members = True
            continue
        if in_members and line and not line[0].isspace():
            match = _MEMBER.match(line)
            if match:
                members.append(match.groups())
                continue
            in_members = False
        match = _LOAD.match(line)
        if match:
            loaded.append(match.group(1))
    return members, loaded


def needed_libraries(program):
    """The DT_NEEDED names of an ELF program; none of a Windows one."""
    with open(program, "rb") as stream:
        if stream.read(4) != b"\x7fELF":
            return []
    out = subprocess.run(["objdump", "-p", str(program)], capture_output=True,
                         text=True, check=True, env={**os.environ, "LC_ALL": "C"}).stdout
    return re.findall(r"^\s+NEEDED\s+(\S+)$", out, re.M)


# --- dpkg -------------------------------------------------------------------

class Packages:
    """dpkg's database of a root ("/" for this machine's)."""

    def __init__(self, root):
        self.root = dpkg_root(Path(root or "/").resolve())
        self.admin = [f"--admindir={self.root}/var/lib/dpkg"] if root else []
        self.distro = release_codename(self.root)

    def inside(self, path):
        """A path as the linker wrote it, as inside the root; LinkError for
        a file from outside the root."""
        normal = Path(os.path.normpath(path))
        for root in dict.fromkeys((self.root, Path(os.path.realpath(self.root)))):
            if normal.is_relative_to(root):
                return "/" + str(normal.relative_to(root))
        raise LinkError(f"{path}: linked from outside {self.root}")

    def candidates(self, path):
        """The names dpkg may know a file by: as given, with its links
        resolved inside the root, with or without /usr (merged /usr)."""
        names = [path]
        real = Path(os.path.realpath(self.root / path.lstrip("/")))
        if real.is_relative_to(self.root):
            names.append("/" + str(real.relative_to(self.root)))
        for name in list(names):
            if name.startswith("/usr/"):
                names.append(name[len("/usr"):])
            else:
                names.append("/usr" + name)
        return list(dict.fromkeys(names))

    def owners(self, paths):
        """{path: package name} of each path, as inside the root."""
        asked = {p: self.candidates(p) for p in paths}
        names = sorted({n for c in asked.values() for n in c})
        out = subprocess.run(["dpkg-query", *self.admin, "-S", *names],
                             capture_output=True, text=True, check=False,
                             env={**os.environ, "LC_ALL": "C"}).stdout
        found = {}
        for line in out.splitlines():
            if ": " not in line or line.startswith("diversion"):
                continue
            owner, name = line.split(": ", 1)
            found[name] = owner.split(",")[0].strip().split(":")[0]
        owners = {}
        for path, names in asked.items():
            owner = next((found[n] for n in names if n in found), None)
            if owner is None:
                raise LinkError(f"{path}: no package of {self.root} installed it")
            owners[path] = owner
        return owners

    def describe(self, names):
        """{name: (architecture, version, source package)}."""
        out = subprocess.run(
            ["dpkg-query", *self.admin, "-W",
             "-f=${Package}\t${Architecture}\t${Version}\t${source:Package}\n",
             *sorted(names)], capture_output=True, text=True, check=True,
            env={**os.environ, "LC_ALL": "C"}).stdout
        return {line.split("\t")[0]: tuple(line.split("\t")[1:])
                for line in out.splitlines()}

    def copyright_file(self, name):
        """The package's copyright file, as inside the root; read with
        read()."""
        path = f"/usr/share/doc/{name}/copyright"
        self.read(path)
        return path

    def read(self, path):
        """A file of the root, its links resolved inside it."""
        real = Path(os.path.realpath(self.root / path.lstrip("/")))
        if not real.is_relative_to(self.root) or not real.is_file():
            raise LinkError(f"{path}: not in {self.root}")
        return real.read_text(encoding="utf-8", errors="replace")


def dpkg_root(sysroot):
    """The directory whose dpkg database installed a sysroot: the sysroot
    itself, or the build root that holds it (a cross C library below
    /usr/<triplet>)."""
    for directory in (sysroot, *sysroot.parents):
        if (directory / "var/lib/dpkg/status").is_file():
            return directory
    raise LinkError(f"{sysroot}: in no root with a dpkg database")


def release_codename(root):
    try:
        text = (root / "etc/os-release").read_text()
    except OSError:
        return "unknown"
    match = re.search(r'^VERSION_CODENAME="?([^"\n]*)"?$', text, re.M)
    return match.group(1) if match and match.group(1) else "unknown"


# --- The programs' components ----------------------------------------------

def _links(path):
    """path and each link it leads through: the link may name a library by
    its development link (libm.so on aarch64), whose target's name
    (libm.so.6) is the one the program needs."""
    chain = [path]
    while os.path.islink(chain[-1]) and len(chain) < 8:
        target = os.readlink(chain[-1])
        chain.append(os.path.join(os.path.dirname(chain[-1]), target))
    return chain


def program_inputs(tree, packages, program):
    """{file as inside the root: what of it the link used} of one program:
    archive members ("archive(member)"), object files, and the shared
    libraries it needs."""
    map_file = tree / MAPS / f"{program.name.split('.')[0]}.map"
    if not map_file.is_file():
        raise LinkError(f"{map_file}: missing (every link writes it)")
    members, loaded = map_inputs(map_file.read_text())
    tree_dirs = [tree.resolve(), tree.absolute()]
    own = lambda path: not os.path.isabs(path) or any(  # noqa: E731
        Path(os.path.normpath(path)).is_relative_to(d) for d in tree_dirs)
    used = {}
    for archive, member in members:
        if not own(archive):
            path = packages.inside(archive)
            used.setdefault((path, "static"), set()).add(f"{path}({member})")
    for path in loaded:
        if not own(path) and _OBJECT.search(path):
            inside = packages.inside(path)
            used.setdefault((inside, "static"), set()).add(inside)
    needed = needed_libraries(program)
    for name in needed:
        found = [link for p in loaded for link in _links(p)
                 if os.path.basename(link) == name]
        if not found:
            raise LinkError(f"{program.name} needs {name}, which its link map "
                            "does not name")
        inside = packages.inside(found[0])
        used.setdefault((inside, "dynamic"), set()).add(name)
    return used


def find(tree, sysroot=None, programs=None):
    """[Package] linked into the programs of a build tree (bin/*, or the
    given files of the same names), in name order."""
    tree = Path(tree)
    packages = Packages(sysroot)
    if programs is None:
        programs = sorted(p for p in (tree / "bin").iterdir()
                          if (tree / MAPS / f"{p.name.split('.')[0]}.map").is_file())
    found = {}
    for program in map(Path, programs):
        used = program_inputs(tree, packages, program)
        owners = packages.owners(sorted({path for path, _ in used}))
        for (path, linkage), files in used.items():
            key = (owners[path], linkage)
            package = found.setdefault(key, {"files": set(), "programs": set()})
            package["files"] |= files
            package["programs"].add(program.name)
    described = packages.describe({name for name, _ in found})
    result = []
    for (name, linkage), used in sorted(found.items()):
        architecture, version, source = described[name]
        licence = LICENCES.get(source or name)
        if licence is None:
            raise LinkError(f"{name} {version} (source package {source or name}) "
                            f"is linked into {', '.join(sorted(used['programs']))} "
                            "and has no licence in tools/linked_components.py's "
                            "LICENCES")
        result.append(Package(name, architecture, version, source or name,
                              packages.distro, packages.copyright_file(name),
                              licence, linkage, used["files"], used["programs"]))
    return result, packages


def as_json(found):
    return [{"name": p.name, "version": p.version, "architecture": p.architecture,
             "source": p.source, "purl": p.purl, "licence": p.licence.spdx,
             "linkage": p.linkage, "copyright": p.copyright,
             "programs": sorted(p.programs), "files": sorted(p.files)}
            for p in found]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sysroot", default=None)
    parser.add_argument("tree", type=Path)
    args = parser.parse_args()
    try:
        found, _ = find(args.tree, args.sysroot or None)
    except (LinkError, OSError, subprocess.CalledProcessError) as error:
        print(f"linked_components: {error}", file=sys.stderr)
        return 1
    print(json.dumps(as_json(found), indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())

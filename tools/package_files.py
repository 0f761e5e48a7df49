#!/usr/bin/env python3
"""The files a package carries besides the programs, made when cpack
installs the programs into it (install rules of cmake/packaging.cmake),
from what the link used (tools/linked_components.py):

    package_files.py bill --tree T [--sysroot R] --prefix P --bill FILE
                          --copy FILE --name N --version V --platform X
                          --epoch S --homepage U PROGRAM...
        the bill of materials (tools/sbom.py) of the installed programs
        P/PROGRAM..., as stripped, into P/FILE and into --copy, the one
        beside the packages
    package_files.py notices --tree T [--sysroot R] --out FILE
        THIRD-PARTY-NOTICES: the copyright file of each package linked
        into the programs, whole, and the full text of each licence they
        refer to in /usr/share/common-licenses
    package_files.py debian --tree T [--sysroot R] --doc DIR --name N
                            --version V --epoch S --contact C --homepage U
        the .deb's copyright file, in Debian's machine-readable format, and
        its changelog.gz
    package_files.py man --out DIR PAGE...
        the manual pages compressed as distributions ship them (gzip -9n)

Every file is written with mode 0644 and every directory made with 0755,
whatever the umask: the .rpm keeps the modes it finds.
"""

import argparse
import gzip
import os
import re
import subprocess
import sys
import time
from pathlib import Path

import linked_components
import sbom

REPO = Path(__file__).resolve().parent.parent
DEP5_FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
COMMON_LICENSES = "/usr/share/common-licenses"
OWN = linked_components.Licence(
    spdx="Apache-2.0", dep5="Apache-2.0", common=("Apache-2.0",), notice="")
OWNER = "Talvane launcher maintainers"
DAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct",
          "Nov", "Dec")


def write(path, data):
    path = Path(path)
    make_dirs(path.parent)
    path.write_bytes(data if isinstance(data, bytes) else data.encode())
    path.chmod(0o644)


def make_dirs(path):
    missing = []
    while not path.exists():
        missing.append(path)
        path = path.parent
    for directory in reversed(missing):
        directory.mkdir()
        directory.chmod(0o755)


def commit():
    """The commit of the source tree, or None outside a git checkout."""
    if not (REPO / ".git").exists():
        return None
    done = subprocess.run(["git", "-C", str(REPO), "rev-parse", "HEAD"],
                          capture_output=True, text=True, check=False)
    return done.stdout.strip() or None


def static(packages):
    return [p for p in packages if p.linkage == "static"]


def extract(pattern, text, where):
    match = re.search(pattern, text, re.S)
    if not match:
        raise linked_components.LinkError(
            f"{where}: nothing matches {pattern!r} (tools/linked_components.py's "
            "LICENCES): the package's copyright file changed")
    return match.group(1)


# --- THIRD-PARTY-NOTICES ----------------------------------------------------

def rule(title):
    return f"{'=' * 78}\n{title}\n{'=' * 78}\n\n"


def notices(packages, root):
    linked = static(packages)
    lines = ["THIRD-PARTY NOTICES", "",
             "The programs of this package are linked statically with parts of the",
             "packages below, as their link used them (sbom.cdx.json names each",
             "archive member and object file). The rest of their code is the",
             "project's, under the Apache License 2.0 (LICENSE).", ""]
    lines += [f"  {p.name} {p.version} (Debian {p.distro}, {p.architecture}): "
              f"{p.licence.spdx}" for p in linked]
    lines += ["", "What follows: each package's copyright file as Debian ships it,",
              "then the full text of each licence named above that the files",
              f"refer to in {COMMON_LICENSES}.", "", ""]
    texts, common = {}, []
    for package in linked:
        text = root.read(package.copyright)
        texts.setdefault(text, []).append(package)
        common += [c for c in package.licence.common if c not in common]
    parts = ["\n".join(lines)]
    for text, owners in texts.items():
        names = ", ".join(p.name for p in owners)
        parts.append(rule(f"{owners[0].copyright} ({names})") + text.rstrip() + "\n\n")
    for name in common:
        path = f"{COMMON_LICENSES}/{name}"
        parts.append(rule(path) + root.read(path).rstrip() + "\n\n")
    return "".join(parts).rstrip() + "\n"


# --- The .deb's copyright file and changelog --------------------------------

def field(text):
    """A multi-line field's continuation: blank lines as " ."."""
    return "\n".join(f" {line}" if line.strip() else " ." for line in text.splitlines())


def licence_paragraph(licence, root, packages):
    body = []
    for name in licence.common:
        body.append(f"On Debian systems, the full text of this licence is in "
                    f"{COMMON_LICENSES}/{name}.")
    for pattern in licence.texts:
        for package in packages:
            if package.licence is licence:
                body.append(extract(pattern, root.read(package.copyright),
                                    package.copyright).strip())
                break
    return f"License: {licence.dep5}\n" + field("\n\n".join(body)) + "\n"


def debian_copyright(packages, root, name, contact, homepage):
    linked = static(packages)
    licences = list(dict.fromkeys([OWN] + [p.licence for p in linked]))
    notices_ = list(dict.fromkeys(
        " ".join(extract(p.licence.notice, root.read(p.copyright), p.copyright).split())
        for p in linked))
    components = "\n".join(f"{p.name} {p.version} ({p.architecture}): {p.licence.dep5}"
                           for p in linked)
    paragraphs = [
        f"Format: {DEP5_FORMAT}\nUpstream-Name: {name}\nUpstream-Contact: {contact}\n"
        f"Source: {homepage}\n",
        f"Files: *\nCopyright: {OWNER}\nLicense: {OWN.dep5}\n",
        "Files: usr/bin/*\n"
        f"Copyright: {OWNER}\n" + "".join(f" {n}\n" for n in notices_) +
        f"License: {' and '.join(l.dep5 for l in licences)}\n"
        "Comment: The programs are linked statically with parts of these packages\n"
        f" of Debian {linked[0].distro if linked else ''}, as their link used them "
        "(sbom.cdx.json\n beside this file names each archive member and object file):\n" +
        field(components) + "\n",
    ]
    paragraphs += [licence_paragraph(l, root, linked) for l in licences]
    return "\n".join(paragraphs)


def changelog(name, version, contact, epoch):
    when = time.gmtime(epoch)
    date = (f"{DAYS[when.tm_wday]}, {when.tm_mday:02d} {MONTHS[when.tm_mon - 1]} "
            f"{when.tm_year} {time.strftime('%H:%M:%S', when)} +0000")
    return (f"{name} ({version}) unstable; urgency=medium\n\n"
            f"  * Version {version}.\n\n"
            f" -- {contact}  {date}\n")


def gzipped(data):
    """gzip -9n: no name, no time."""
    return gzip.compress(data, compresslevel=9, mtime=0)


# --- Commands ---------------------------------------------------------------

def command_bill(args, packages):
    prefix = Path(args.prefix)
    programs = [(Path(p).name, p, prefix / p) for p in args.programs]
    document = sbom.bill(args.name, args.version, args.platform, args.epoch, commit(),
                         args.homepage, programs, packages)
    text = sbom.dumps(document)
    write(prefix / args.bill, text)
    write(args.copy, text)


def command_notices(args, packages, root):
    write(args.out, notices(packages, root))


def command_debian(args, packages, root):
    doc = Path(args.doc)
    write(doc / "copyright",
          debian_copyright(packages, root, args.name, args.contact, args.homepage))
    write(doc / "changelog.gz",
          gzipped(changelog(args.name, args.version, args.contact, args.epoch).encode()))


def command_man(args):
    for page in args.pages:
        write(Path(args.out) / (Path(page).name + ".gz"), gzipped(Path(page).read_bytes()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    linked = argparse.ArgumentParser(add_help=False)
    linked.add_argument("--tree", type=Path, required=True)
    linked.add_argument("--sysroot", default="")
    described = argparse.ArgumentParser(add_help=False)
    for option in ("--name", "--version", "--homepage"):
        described.add_argument(option, required=True)
    described.add_argument("--epoch", type=int, required=True)
    bill = commands.add_parser("bill", parents=[linked, described])
    for option in ("--prefix", "--bill", "--copy", "--platform"):
        bill.add_argument(option, required=True)
    bill.add_argument("programs", nargs="+")
    notices_command = commands.add_parser("notices", parents=[linked])
    notices_command.add_argument("--out", required=True)
    debian = commands.add_parser("debian", parents=[linked, described])
    debian.add_argument("--doc", required=True)
    debian.add_argument("--contact", required=True)
    man = commands.add_parser("man")
    man.add_argument("--out", required=True)
    man.add_argument("pages", nargs="+")
    args = parser.parse_args()
    try:
        if args.command == "man":
            command_man(args)
            return 0
        programs = None
        if args.command == "bill":
            programs = [Path(args.prefix) / p for p in args.programs]
        packages, root = linked_components.find(args.tree, args.sysroot or None, programs)
        if args.command == "bill":
            command_bill(args, packages)
        elif args.command == "notices":
            command_notices(args, packages, root)
        else:
            command_debian(args, packages, root)
    except (linked_components.LinkError, OSError, ValueError,
            subprocess.CalledProcessError) as error:
        print(f"package_files: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

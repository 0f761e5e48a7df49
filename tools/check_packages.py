#!/usr/bin/env python3
"""The packages of a release, as `make package` left them, checked as an
operator's intake would take them in.

    tools/check_packages.py [--build-dir build]      (make package-check)

For each build tree of the release (tools/release.py):
- lintian on its .deb reports no error and no warning;
- the bill of materials beside its packages is valid CycloneDX 1.6 and its
  licences valid SPDX expressions, as the CycloneDX library reads them
  (tools/sbom/validate.js, installed by tools/setup-deps.sh test);
- the bill's components are what the programs were linked from, read anew
  from their link maps (tools/linked_components.py), program by program;
- each package holds that bill, the programs whose SHA-256 it gives, and
  the licences: LICENSE and THIRD-PARTY-NOTICES (the ZIP, the .tar.gz,
  and the .rpm, marked %license), or the .deb's copyright file in Debian's
  machine-readable format, with a standalone paragraph for each licence
  it names, and its changelog.gz.

Each failure is named, with the tool's own words; the exit status is 1.
"""

import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
from pathlib import Path

import archives
import linked_components
import release
import sbom

REPO = Path(__file__).resolve().parent.parent
VALIDATOR = REPO / "tools" / "sbom" / "validate.js"
LICENCE_FILES = ("LICENSE", "THIRD-PARTY-NOTICES")
DEP5_FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"


class CheckError(Exception):
    pass


def say(text):
    print(f"check_packages: {text}", flush=True)


def run(command, env=None):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True,
                          env={**os.environ, **(env or {}), "LC_ALL": "C"},
                          stdin=subprocess.DEVNULL, check=False)
    return done.returncode, done.stdout + done.stderr


def lintian(deb):
    status, out = run(["lintian", "--fail-on", "error,warning", deb])
    if status != 0 or re.search(r"^[EW]: ", out, re.M):
        raise CheckError(f"lintian {deb.name} (exit {status}):\n{out}")


def validate(bills):
    modules = sbom.validator_dir() / "node_modules"
    if not modules.is_dir():
        raise CheckError(f"no CycloneDX library in {modules}: as root, run "
                         "tools/setup-deps.sh test")
    status, out = run(["node", VALIDATOR, *bills], env={"NODE_PATH": str(modules)})
    if status != 0:
        raise CheckError(f"the CycloneDX library refuses a bill:\n{out}")


def bill_components(bill):
    """{purl: (linkage, files, programs)} of a bill's linked packages."""
    found = {}
    programs = {d["ref"]: set(d.get("dependsOn", ())) for d in bill["dependencies"]}
    for component in bill["components"]:
        if "purl" not in component:
            continue
        properties = component.get("properties", ())
        value = lambda name: [p["value"] for p in properties  # noqa: E731
                              if p["name"] == sbom.PROPERTY + name]
        files = value("linked-file") + value("needed")
        users = {ref for ref, needs in programs.items() if component["purl"] in needs}
        found[component["purl"]] = (value("linkage")[0], sorted(files), sorted(users))
    return found


def linked_now(tree, root, program_names):
    packages, _ = linked_components.find(tree, root,
                                         [tree / "bin" / n for n in program_names])
    return {p.purl: (p.linkage, sorted(p.files), sorted(p.programs)) for p in packages}


def agrees_with_link(bill, tree, root):
    """The bill names every package the link maps name, with the same
    files, for the same programs, and no other."""
    programs = [c["name"] for c in bill["components"] if c["type"] == "application"]
    listed, linked = bill_components(bill), linked_now(tree, root, programs)
    differ = [f"{purl}: the bill says {listed.get(purl)}, the link {linked.get(purl)}"
              for purl in sorted(listed.keys() | linked.keys())
              if listed.get(purl) != linked.get(purl)]
    if differ:
        raise CheckError(f"the bill and the link maps of {tree.name} differ:\n  " +
                         "\n  ".join(differ))


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def archive_files(package):
    """{path as installed, without the package's top directory: content}."""
    found = {}
    for name, (_, content) in archives.members(package).items():
        name = re.sub(r"^data\.tar\.\w+/", "", name)
        if name.startswith("control.tar.") or name == "debian-binary":
            continue
        parts = name.lstrip("./").split("/")
        if package.name.endswith(".deb"):
            found["/" + "/".join(parts)] = content
        else:
            found["/".join(parts[1:])] = content
    return found


def holds(files, bill_text, bill, package):
    """The package holds the bill and the programs it hashes."""
    copies = [p for p, c in files.items() if p.endswith("sbom.cdx.json")]
    if len(copies) != 1 or files[copies[0]] != bill_text:
        raise CheckError(f"{package.name}: holds {copies or 'no bill'}, not the "
                         "bill beside it")
    for component in bill["components"]:
        if component["type"] != "application":
            continue
        path = next(p["value"] for p in component["properties"]
                    if p["name"] == sbom.PROPERTY + "path")
        held = [c for p, c in files.items() if p == path or p.endswith("/" + path)]
        digest = component["hashes"][0]["content"]
        if len(held) != 1 or sha256(held[0]) != digest:
            raise CheckError(f"{package.name}: its {path} is not the one the bill "
                             f"hashes ({digest})")


def full_texts(files, package):
    for name in LICENCE_FILES:
        held = [c for p, c in files.items() if p.split("/")[-1] == name]
        if len(held) != 1 or not held[0].strip():
            raise CheckError(f"{package.name}: no {name}")
    licence = next(c for p, c in files.items() if p.split("/")[-1] == "LICENSE")
    if licence != (REPO / "LICENSE").read_bytes():
        raise CheckError(f"{package.name}: its LICENSE is not the project's")


def dep5(files, package, name):
    """The .deb's copyright file is machine-readable, each licence it names
    has its paragraph; its changelog is there."""
    text = files.get(f"/usr/share/doc/{name}/copyright", b"").decode()
    if f"/usr/share/doc/{name}/changelog.gz" not in files:
        raise CheckError(f"{package.name}: no changelog.gz")
    paragraphs = [p for p in text.split("\n\n") if p.strip()]
    if not paragraphs or not paragraphs[0].startswith(f"Format: {DEP5_FORMAT}\n"):
        raise CheckError(f"{package.name}: its copyright file is not in the "
                         "machine-readable format")
    named, standalone = set(), set()
    for paragraph in paragraphs[1:]:
        licence = re.search(r"^License: (.+)$", paragraph, re.M)
        if licence is None:
            raise CheckError(f"{package.name}: a copyright paragraph without "
                             f"License:\n{paragraph}")
        if paragraph.startswith("Files:"):
            named.update(licence.group(1).split(" and "))
        else:
            standalone.add(licence.group(1))
    if named - standalone:
        raise CheckError(f"{package.name}: its copyright file names "
                         f"{sorted(named - standalone)} without their text")


def rpm_holds(package, bill_text, bill):
    """The .rpm holds the bill and the programs it hashes (its file digests,
    SHA-256) and the licence texts, marked %license."""
    status, out = run(["rpm", "-qp", "--qf", "%{FILEDIGESTALGO}\n"
                       "[%{FILENAMES}\t%{FILEDIGESTS}\t%{FILEFLAGS:fflags}\n]", package])
    if status != 0:
        raise CheckError(f"rpm -qp {package.name}:\n{out}")
    algorithm, *lines = out.splitlines()
    if algorithm != "8":
        raise CheckError(f"{package.name}: file digests of algorithm {algorithm}, "
                         "not SHA-256 (8)")
    entries = {path: (digest, flags) for path, digest, flags in
               (line.split("\t") for line in lines)}
    wanted = {p: sha256(bill_text) for p in entries if p.endswith("/sbom.cdx.json")}
    for component in bill["components"]:
        if component["type"] == "application":
            path = next(p["value"] for p in component["properties"]
                        if p["name"] == sbom.PROPERTY + "path")
            wanted["/usr/" + path] = component["hashes"][0]["content"]
    if len(wanted) != 3 or any(entries.get(p, ("",))[0] != d for p, d in wanted.items()):
        raise CheckError(f"{package.name}: holds {sorted(entries)}, not the bill's "
                         "programs and the bill as hashed")
    for name in LICENCE_FILES:
        marked = [p for p, (_, flags) in entries.items()
                  if p.endswith("/" + name) and "l" in flags]
        if len(marked) != 1:
            raise CheckError(f"{package.name}: no {name} marked %license")


def check_tree(build, tree):
    settings = release.cpack_settings(build / tree)
    bill_path = release.bill_of(settings)
    bill_text = bill_path.read_bytes()
    bill = json.loads(bill_text)
    compiler = release.cache_settings(build / tree)["CMAKE_CXX_COMPILER"]
    agrees_with_link(bill, build / tree, release.root_of(compiler))
    directory = Path(settings["CPACK_PACKAGE_DIRECTORY"])
    name = settings["CPACK_PACKAGE_NAME"]
    if tree == release.WINDOWS:
        packages = [directory / (settings["CPACK_PACKAGE_FILE_NAME"] + ".zip")]
    else:
        packages = [directory / (settings["CPACK_PACKAGE_FILE_NAME"] + ".tar.gz"),
                    release.deb_of(settings)]
        rpm_holds(release.rpm_of(settings), bill_text, bill)
    for package in packages:
        files = archive_files(package)
        holds(files, bill_text, bill, package)
        if package.name.endswith(".deb"):
            dep5(files, package, name)
            lintian(package)
        else:
            full_texts(files, package)
    checked = [p.name for p in packages]
    if tree != release.WINDOWS:
        checked.append(release.rpm_of(settings).name)
    return bill_path, checked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPO / "build")
    args = parser.parse_args()
    build = args.build_dir.resolve()
    try:
        bills = []
        for tree in release.TREES:
            bill, packages = check_tree(build, tree)
            bills.append(bill)
            say(f"{tree}: the bill agrees with the link maps; {', '.join(packages)} "
                "hold it, its programs and their licences"
                f"{'' if tree == release.WINDOWS else '; lintian passes'}")
        validate(bills)
        say("the bills are valid CycloneDX 1.6 with SPDX licences")
    except (CheckError, release.ReleaseError, linked_components.LinkError,
            archives.ArchiveError, OSError, ValueError, KeyError) as error:
        say(f"FAILED: {error}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

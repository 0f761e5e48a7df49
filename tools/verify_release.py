#!/usr/bin/env python3
"""Checks a signed release against the commit it was built from.

    tools/verify_release.py --release DIR --ca CA.pem --openpgp-key KEY.asc
                            [--rebuilt BUILD] [--scratch DIR]
    (make verify-release RELEASE=DIR CA=CA.pem OPENPGP_KEY=KEY.asc)

DIR holds the published files: SHA256SUMS, SHA256SUMS.asc, TOOL-VERSIONS
and every file that SHA256SUMS lists, each under the path it is listed by
(as in the build directory that make sign leaves) or by its name alone.

1. Rebuilds the release: make package's steps (tools/reproduce.py's) in a
   fresh clone of the commit that TOOL-VERSIONS names, with its
   SOURCE_DATE_EPOCH; or takes BUILD, where make package has already
   rebuilt it.
2. Redoes what make sign does after signing: attaches each published
   detached signature to the rebuilt ZIP's program (osslsigncode
   attach-signature), makes the ZIP again, then its bill of materials. An
   .rpm's signature cannot be made again without the key: the rebuilt
   .rpm's lead, header and payload must be the published one's, and its
   signature header the same but for the signatures that rpmsign adds.
   Then writes SHA256SUMS over these files (tools/release.py).
3. Compares every file with the published one, byte for byte, SHA256SUMS
   included; shows where TOOL-VERSIONS differs, which no signature covers,
   without counting it: the same bytes made by tools at other paths are
   the same release.
4. Checks the signatures: each Windows program's against the certificate
   authority CA.pem (osslsigncode verify), SHA256SUMS.asc (gpg) and each
   .rpm's (rpm -K) against the OpenPGP public key, imported into a keyring
   and an rpm database of their own in the scratch directory.

Prints a line per file and per signature; exits 1 if anything differs or a
signature fails, 2 when the release directory lacks what it needs.
"""

import argparse
import os
import pwd
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import authenticode
import build_root
import release
import reproduce

REPO = Path(__file__).resolve().parent.parent
NOTES = ("SHA256SUMS", "SHA256SUMS.asc", "TOOL-VERSIONS")
# Signature header tags that rpmsign adds: the DSA and RSA signatures of the
# header, of header and payload, and the space it takes them from.
RPM_SIGNATURE_TAGS = {267, 268, 1002, 1005}
RPM_RESERVED_SPACE = 1008
# The trailer of the signature header's region, which counts its entries.
RPM_HEADER_SIGNATURES = 62


class VerifyError(Exception):
    pass


def say(text):
    print(f"verify: {text}", flush=True)


# --- The published release ---------------------------------------------------

class Published:
    """The files of a published release directory."""

    def __init__(self, directory):
        self.directory = directory
        self.notes = {}
        for name in NOTES:
            found = [p for p in (directory / "packages" / name, directory / name)
                     if p.is_file()]
            if not found:
                raise VerifyError(f"{directory} holds no {name}")
            self.notes[name] = found[0]
        self.listed = [line.split("  ", 1)[1] for line in
                       self.notes["SHA256SUMS"].read_text().splitlines() if "  " in line]
        text = self.notes["TOOL-VERSIONS"].read_text()
        commit = re.search(r"^source: commit ([0-9a-f]{40})(.*)$", text, re.M)
        epoch = re.search(r"^SOURCE_DATE_EPOCH: ([0-9]+)", text, re.M)
        if commit is None or epoch is None:
            raise VerifyError(f"{self.notes['TOOL-VERSIONS']} names no commit "
                              "and SOURCE_DATE_EPOCH")
        self.commit, self.epoch = commit.group(1), epoch.group(1)
        # Built from a work tree with changes: no clone of the commit
        # rebuilds it, though a rebuild of the same tree may.
        self.clean = not commit.group(2)

    def path(self, relative):
        """A listed file: under its listed path, else by its name; None."""
        for candidate in (self.directory / relative,
                          self.directory / Path(relative).name):
            if candidate.is_file():
                return candidate
        return None


# --- The .rpm's signature header ---------------------------------------------

def rpm_value(data, at, kind, count):
    sizes = {0: 0, 1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1}
    if kind in sizes:
        return data[at:at + sizes[kind] * count]
    end = at
    for _ in range(1 if kind == 6 else count):
        end = data.index(b"\0", end) + 1
    return data[at:end]


def rpm_parts(data):
    """(lead, {signature tag: (type, value)}, header and payload) of an .rpm."""
    if data[:4] != b"\xed\xab\xee\xdb" or data[96:99] != b"\x8e\xad\xe8":
        raise VerifyError("not an .rpm")
    count, size = struct.unpack_from(">II", data, 96 + 8)
    store = 96 + 16 + 16 * count
    tags = {}
    for i in range(count):
        tag, kind, offset, items = struct.unpack_from(">IIII", data, 96 + 16 + 16 * i)
        tags[tag] = (kind, rpm_value(data, store + offset, kind, items))
    end = store + size
    return data[:96], tags, data[end + (-end % 8):]


def rpm_difference(rebuilt, published):
    """None when the published .rpm is the rebuilt one signed, else what
    differs."""
    lead, tags, rest = rpm_parts(rebuilt)
    p_lead, p_tags, p_rest = rpm_parts(published)
    if lead != p_lead:
        return "the leads differ"
    if rest != p_rest:
        return "the headers or payloads differ"
    ignored = RPM_SIGNATURE_TAGS | {RPM_RESERVED_SPACE, RPM_HEADER_SIGNATURES}
    changed = sorted(t for t in (tags.keys() | p_tags.keys()) - ignored
                     if tags.get(t) != p_tags.get(t))
    if changed:
        return f"signature header tags {changed} differ"
    if not RPM_SIGNATURE_TAGS & p_tags.keys():
        return "the published .rpm is not signed"
    return None


# --- Steps ------------------------------------------------------------------

def rebuild(published, scratch):
    """make package's steps in a fresh clone of the published commit: the
    clone's build directory."""
    if not published.clean:
        raise VerifyError(f"{published.notes['TOOL-VERSIONS']}: the release was "
                          f"built from a work tree with changes to commit "
                          f"{published.commit}, which no clone of it rebuilds")
    try:
        subprocess.run(["git", "-C", str(REPO), "cat-file", "-e",
                        published.commit + "^{commit}"], check=True,
                       capture_output=True)
    except subprocess.CalledProcessError:
        raise VerifyError(f"{REPO} does not hold commit {published.commit}: "
                          "fetch it first") from None
    try:
        build_root.ensure()
    except build_root.RootError as error:
        raise VerifyError(f"the build root: {error.args[0]}") from None
    os.environ["SOURCE_DATE_EPOCH"] = published.epoch
    user = pwd.getpwuid(os.geteuid()).pw_name
    build = reproduce.Build("rebuild", "rebuild/src", 0o022, "UTC0", "C", False, user)
    tree = reproduce.build_once(build, scratch, published.commit,
                                os.environ.get("PATH", ""), None)
    if tree is None:
        raise VerifyError("the rebuild failed")
    return tree


def redo(rebuilt, published, ca, scratch):
    """The files of the release as make sign leaves them, redone from the
    rebuilt ones and the published signatures (checked against ca as they
    are attached) in scratch/redone, with links to what is taken unchanged:
    (that directory, the files' relative paths, {relative path: why it
    could not be redone})."""
    files, epoch = release.release_files(rebuilt)
    if any(f.name.endswith(authenticode.SIGNATURE_SUFFIX) for f in files):
        raise VerifyError(f"{rebuilt} holds a signed release: the rebuild is "
                          "make package's, unsigned")
    redone = scratch / "redone"
    zip_relative = release.zip_of(rebuilt).resolve().relative_to(rebuilt.resolve())
    differences = {}
    for relative in files:
        target = redone / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.symlink_to((rebuilt / relative).resolve())

    signed = {}
    for member, data in authenticode.programs(rebuilt / zip_relative).items():
        signature = authenticode.signature_path(Path("packages"), zip_relative, member)
        files.append(signature)
        source = published.path(signature)
        if source is None:
            differences[str(signature)] = "not published"
            continue
        (redone / signature).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, redone / signature)
        name = member.rsplit("/", 1)[-1]
        (scratch / name).write_bytes(data)
        try:
            authenticode.attach(scratch / name, source, scratch / f"signed-{name}", ca)
            signed[member] = (scratch / f"signed-{name}").read_bytes()
        except authenticode.SigningError as error:
            last = str(error).strip().splitlines()[-1]
            differences[str(zip_relative)] = (f"the published signature of {member} "
                                              f"does not fit the rebuilt program ({last})")
    (redone / zip_relative).unlink()
    authenticode.remake_zip(rebuilt / zip_relative, signed, int(epoch),
                            redone / zip_relative)
    release.remake_bill(redone / zip_relative, epoch)

    for relative in files:
        if not relative.name.endswith(".rpm"):
            continue
        source = published.path(relative)
        if source is None:
            continue
        why = rpm_difference((rebuilt / relative).read_bytes(), source.read_bytes())
        if why is None:
            (redone / relative).unlink()
            (redone / relative).symlink_to(source.resolve())
        else:
            differences[str(relative)] = why
    (redone / "packages").mkdir(exist_ok=True)
    (redone / "packages" / "SHA256SUMS").write_text(release.sums_text(redone, files))
    shutil.copyfile(rebuilt / "packages" / "TOOL-VERSIONS",
                    redone / "packages" / "TOOL-VERSIONS")
    return redone, [str(f) for f in files], differences


def compare(redone, files, published, differences):
    """Prints a line per file; the number of files that differ.
    TOOL-VERSIONS is shown, not counted: no signature covers it, and it
    says where the rebuild's tools differ from the release's (their paths
    may, the bytes they make being the same)."""
    names = sorted(set(files) | set(published.listed))
    names += ["packages/SHA256SUMS", "packages/TOOL-VERSIONS"]
    failed = 0
    for name in names:
        mine = redone / name
        theirs = (published.notes[Path(name).name] if name.startswith("packages/")
                  and Path(name).name in NOTES else published.path(name))
        why = differences.get(name)
        if why is None and (theirs is None or not mine.exists()):
            why = "not published" if theirs is None else "not in the rebuilt release"
        if why is None and mine.read_bytes() != theirs.read_bytes():
            why = reproduce.difference(mine.resolve(), theirs)
        if why is None:
            print(f"  identical  {name}")
        elif name.endswith("/TOOL-VERSIONS"):
            print(f"  differs    {name} (counted as no difference): {why}")
        else:
            print(f"  DIFFERENT  {name}: {why}")
            failed += 1
    return failed


def run(command, **kwargs):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True,
                          env={**os.environ, "LC_ALL": "C"}, check=False, **kwargs)
    return done.returncode, done.stdout + done.stderr


def check_signatures(published, files, ca, key, scratch):
    """Prints a line per signature checked; the number that fail."""
    failed = 0

    def result(ok, what, output=""):
        nonlocal failed
        print(f"  {'good' if ok else 'BAD '}       {what}")
        if not ok:
            failed += 1
            print("    " + "\n    ".join(output.strip().splitlines()[-6:]))

    zip_path = published.path(next(f for f in files if f.endswith(".zip")))
    signed = authenticode.programs(zip_path) if zip_path else {}
    for member, data in signed.items():
        program = scratch / "published" / member
        program.parent.mkdir(parents=True, exist_ok=True)
        program.write_bytes(data)
        ok, output = authenticode.verify(program, ca)
        result(ok, f"{member}: Authenticode, against {ca}", output)

    home = scratch / "gnupg"
    home.mkdir(mode=0o700)
    gpg = ["gpg", "--homedir", home, "--batch"]
    try:
        status, output = run([*gpg, "--import", key])
        if status != 0:
            raise VerifyError(f"gpg cannot import {key}:\n{output}")
        status, output = run([*gpg, "--status-fd", "1", "--verify",
                              published.notes["SHA256SUMS.asc"],
                              published.notes["SHA256SUMS"]])
        result(status == 0 and "[GNUPG:] VALIDSIG" in output,
               "SHA256SUMS.asc: OpenPGP, against the key", output)
    finally:
        run(["gpgconf", "--homedir", home, "--kill", "all"])

    database = scratch / "rpmdb"
    status, output = run(["rpm", "--dbpath", database, "--initdb"])
    if status == 0:
        status, output = run(["rpm", "--dbpath", database, "--import", key])
    if status != 0:
        raise VerifyError(f"rpm cannot import {key}:\n{output}")
    for relative in (f for f in files if f.endswith(".rpm")):
        package = published.path(relative)
        if package is None:
            continue
        status, output = run(["rpm", "--dbpath", database, "-K", package])
        result(status == 0 and re.search(r"\bsignatures OK", output) is not None,
               f"{Path(relative).name}: rpm -K, against the key", output)
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--release", type=Path, required=True,
                        help="the published files")
    parser.add_argument("--ca", type=Path, required=True,
                        help="the certificate authority of the Windows programs' signatures (PEM)")
    parser.add_argument("--openpgp-key", type=Path, required=True,
                        help="the OpenPGP public key of SHA256SUMS and the .rpm packages")
    parser.add_argument("--rebuilt", type=Path,
                        help="a build directory where make package has rebuilt the commit")
    parser.add_argument("--scratch", type=Path,
                        help="where the rebuild goes (default build/verify)")
    args = parser.parse_args()
    for what, path in (("--release", args.release), ("--ca", args.ca),
                       ("--openpgp-key", args.openpgp_key)):
        if not path.exists():
            say(f"{what} {path}: no such file or directory")
            return 2
    scratch = (args.scratch or REPO / "build" / "verify").resolve()
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    try:
        published = Published(args.release.resolve())
    except VerifyError as error:
        say(str(error))
        return 2
    say(f"release {published.directory}: commit {published.commit}, "
        f"SOURCE_DATE_EPOCH {published.epoch}")
    try:
        rebuilt = args.rebuilt.resolve() if args.rebuilt else rebuild(published, scratch)
        say(f"the files redone from the rebuild in {rebuilt}, against the published:")
        redone, files, differences = redo(rebuilt, published, args.ca.resolve(),
                                          scratch)
        differing = compare(redone, files, published, differences)
        say("the signatures:")
        bad = check_signatures(published, files, args.ca.resolve(),
                               args.openpgp_key.resolve(), scratch)
    except (VerifyError, release.ReleaseError, authenticode.SigningError,
            OSError) as error:
        say(f"FAILED: {error}")
        return 1
    if differing or bad:
        say(f"FAILED: {differing} files differ, {bad} signatures fail "
            f"(scratch kept in {scratch})")
        return 1
    shutil.rmtree(scratch, ignore_errors=True)
    say(f"the release is what commit {published.commit} builds, signed with the "
        "keys named")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""The Windows programs of a release ZIP and their Authenticode signatures.

programs(zip) reads the programs a ZIP holds; is_signed(data) tells whether
a program carries a signature; signature_paths() names the detached
signature of each program beside SHA256SUMS; remake_zip() makes the ZIP
again with other bytes for some members, normalised as cpack's was
(tools/archives.py). Signer, sign(), extract(), attach() and verify() run
osslsigncode.
"""

import os
import struct
import subprocess
import sys
import zipfile
from dataclasses import dataclass, field
from pathlib import Path

import archives

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
import pe_file  # noqa: E402

# A detached Authenticode signature: the DER PKCS#7 SignedData that
# osslsigncode extract-signature writes.
SIGNATURE_SUFFIX = ".p7s"
# The data directory of the attribute certificates: its first field is a
# file offset, not an RVA, and a signed program's is not empty.
CERTIFICATE_TABLE = 4
RT_VERSION = 16
# Variables that hold a secret: never handed on to a child process.
SECRETS = ("SIGN_PIN", "SIGN_PASSWORD")


class SigningError(Exception):
    pass


def programs(zip_path):
    """{member name: bytes} of the Windows programs in a ZIP."""
    with zipfile.ZipFile(zip_path) as archive:
        return {m.filename: archive.read(m) for m in archive.infolist()
                if m.filename.lower().endswith(".exe")}


def is_signed(data):
    """Whether a program's certificate table holds anything."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    _, size = struct.unpack_from("<II", data, directories + 8 * CERTIFICATE_TABLE)
    return size != 0


def description(data):
    """The FileDescription of a program's version resource: what the
    signature calls it."""
    found = pe_file.PeFile(data).resources().get((RT_VERSION, 1))
    if not found:
        raise SigningError("the program has no version resource")
    root = pe_file.VersionNode(found[0], 0)
    for table in root.child("StringFileInfo").children:
        for string in table.children:
            if string.key == "FileDescription":
                return string.value
    raise SigningError("the version resource has no FileDescription")


def signature_path(packages, zip_path, member):
    """Where the detached signature of a ZIP's program lies: beside
    SHA256SUMS, named after the ZIP and the program."""
    stem = zip_path.name.removesuffix(".zip")
    return Path(packages) / f"{stem}.{member.rsplit('/', 1)[-1]}{SIGNATURE_SUFFIX}"


def signature_paths(packages, zip_path):
    """{member: its signature's path} for each program of the ZIP."""
    return {member: signature_path(packages, zip_path, member)
            for member in programs(zip_path)}


def remake_zip(zip_path, replacements, epoch, out):
    """Writes to out (a .zip) the ZIP with the members named in
    replacements holding those bytes, normalised as cpack's ZIP is."""
    with zipfile.ZipFile(zip_path) as source, zipfile.ZipFile(out, "w") as target:
        for member in source.infolist():
            target.writestr(member, replacements.get(member.filename,
                                                     source.read(member)))
    archives.normalize(Path(out), epoch)


# --- osslsigncode ------------------------------------------------------------

@dataclass
class Signer:
    """What osslsigncode signs with: its arguments (key and certificates)
    and the PIN or password it reads from its standard input (-readpass -),
    never from its command line."""
    what: str
    arguments: list
    secret: bytes = field(repr=False, default=b"")


def child_environment(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in SECRETS}
    env.update(extra or {})
    return env


def osslsigncode(arguments, stdin=b""):
    done = subprocess.run(["osslsigncode", *map(str, arguments)], input=stdin,
                          capture_output=True, env=child_environment(),
                          check=False)
    output = (done.stdout + done.stderr).decode(errors="replace")
    return done.returncode, output


def sign(signer, unsigned, signed, description_text, url, timestamp_url=None):
    """Signs the program unsigned into signed: SHA-256, the program's
    description and the project's URL, an RFC 3161 time-stamp when a
    server is named."""
    arguments = ["sign", *signer.arguments, "-readpass", "-", "-h", "sha256",
                 "-n", description_text, "-i", url]
    if timestamp_url:
        arguments += ["-ts", timestamp_url]
    status, output = osslsigncode(arguments + ["-in", unsigned, "-out", signed],
                                  stdin=signer.secret)
    if status != 0:
        Path(signed).unlink(missing_ok=True)
        raise SigningError(f"osslsigncode could not sign {Path(unsigned).name} "
                           f"with {signer.what}:\n{output}")


def extract(signed, signature):
    status, output = osslsigncode(["extract-signature", "-in", signed,
                                   "-out", signature])
    if status != 0:
        raise SigningError(f"osslsigncode extract-signature {signed}:\n{output}")


def attach(unsigned, signature, out, ca_file):
    """The unsigned program with the detached signature in place; it is
    checked against ca_file as it is attached."""
    status, output = osslsigncode(["attach-signature", "-sigin", signature,
                                   "-CAfile", ca_file, "-in", unsigned,
                                   "-out", out])
    if status != 0:
        raise SigningError(f"osslsigncode attach-signature {signature}:\n{output}")


def verify(program, ca_file):
    """(passed, osslsigncode's output) of the program's signature checked
    against the certificate authority in ca_file."""
    status, output = osslsigncode(["verify", "-CAfile", ca_file, "-in", program])
    return status == 0, output

#!/usr/bin/env python3
"""Signs the release that `make package` left in the build directory.

    tools/sign_release.py [--build-dir build]        (make sign)

In this order: signs the stripped Windows programs that the ZIP holds
(osslsigncode: SHA-256, the program's description, the project's URL, an
RFC 3161 time-stamp where a server is named), keeps each one's detached
signature beside SHA256SUMS, makes the ZIP again with the signed programs
(normalised as cpack's), makes its bill of materials again, signs every
.rpm (rpmsign, with the legacy header-and-payload signature too, which the
rpm of RHEL 7 and SLES 12 checks), writes SHA256SUMS (tools/release.py)
and signs it (gpg, detached and armoured: SHA256SUMS.asc).

What it signs with comes from the environment, and a secret never from a
command line:

  the Authenticode key, in a PKCS#11 token:
    SIGN_PKCS11_MODULE   the token's PKCS#11 module (a shared library)
    SIGN_PKCS11_KEY      the key's pkcs11: URI (RFC 7512), no PIN in it
    SIGN_PIN_FILE        a file holding the token's PIN, or SIGN_PIN
    SIGN_CERT            the certificate chain, PEM, the signer's first
    SIGN_PKCS11_ENGINE   optional: OpenSSL's engine for PKCS#11
                         (libengine-pkcs11-openssl's, found by its name)
  or in a PKCS#12 file, which holds the certificate chain too:
    SIGN_PKCS12          the file
    SIGN_PASSWORD_FILE   a file holding its password, or SIGN_PASSWORD
  SIGN_TIMESTAMP_URL     optional: an RFC 3161 time-stamp server

  the OpenPGP key, an RSA one (the rpm of RHEL 7 and SLES 12 knows no
  other), in gpg's keyring:
    GPG_KEY              its fingerprint, key id or user id
    GNUPGHOME            optional: gpg's home directory
    GPG_PASSPHRASE_FILE  optional: a file holding its passphrase (gpg's
                         loopback pinentry)

A PIN or password reaches osslsigncode on its standard input, a passphrase
reaches gpg as a file name. Without all it needs it says what is missing
and changes nothing (exit 2). Everything is signed in a scratch directory
first, and put in place only once all of it is.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

import authenticode
import release

REPO = Path(__file__).resolve().parent.parent
# The public key algorithm that gpg --with-colons calls RSA.
OPENPGP_RSA = {"1", "2", "3"}


class SignError(Exception):
    pass


@dataclass
class Keys:
    signer: authenticode.Signer
    timestamp_url: str
    gpg_key: str
    gpg_passphrase_file: str


def say(text):
    print(f"sign: {text}", flush=True)


def secret(env, file_variable, variable, what, problems):
    """The secret from the file named by file_variable, else from variable
    itself; None (and a problem said) when neither gives one."""
    if env.get(file_variable):
        try:
            return Path(env[file_variable]).read_bytes().rstrip(b"\r\n")
        except OSError as error:
            problems.append(f"{file_variable}: {error}")
            return None
    if variable in env:
        return env[variable].encode()
    problems.append(f"{file_variable} (a file holding {what}) or {variable}")
    return None


def a_file(env, variable, what, problems):
    value = env.get(variable, "")
    if not value:
        problems.append(f"{variable} ({what})")
    elif not Path(value).is_file():
        problems.append(f"{variable}: {value} is no file")
    return value


def authenticode_signer(env, problems):
    token = env.get("SIGN_PKCS11_MODULE") or env.get("SIGN_PKCS11_KEY")
    if token and env.get("SIGN_PKCS12"):
        problems.append("one Authenticode key: SIGN_PKCS11_* or SIGN_PKCS12, not both")
        return None
    if token:
        module = a_file(env, "SIGN_PKCS11_MODULE", "the token's PKCS#11 module", problems)
        key = env.get("SIGN_PKCS11_KEY", "")
        if not key.startswith("pkcs11:"):
            problems.append("SIGN_PKCS11_KEY (the key's pkcs11: URI)")
        elif re.search(r"[;?&]pin-value=", key):
            problems.append("SIGN_PKCS11_KEY holds the PIN, which would reach a "
                            "command line: name it in SIGN_PIN_FILE instead")
        cert = a_file(env, "SIGN_CERT", "the certificate chain, PEM", problems)
        pin = secret(env, "SIGN_PIN_FILE", "SIGN_PIN", "the token's PIN", problems)
        arguments = ["-pkcs11module", module, "-certs", cert, "-key", key]
        if env.get("SIGN_PKCS11_ENGINE"):
            arguments = ["-pkcs11engine", env["SIGN_PKCS11_ENGINE"], *arguments]
        return authenticode.Signer(f"the key {key}", arguments, pin or b"")
    if env.get("SIGN_PKCS12"):
        p12 = a_file(env, "SIGN_PKCS12", "a PKCS#12 file", problems)
        password = secret(env, "SIGN_PASSWORD_FILE", "SIGN_PASSWORD",
                          "its password", problems)
        return authenticode.Signer(f"the key of {p12}", ["-pkcs12", p12],
                                   password or b"")
    problems.append("the Authenticode key: SIGN_PKCS11_MODULE, SIGN_PKCS11_KEY, "
                    "SIGN_CERT and SIGN_PIN_FILE (or SIGN_PIN) for a key in a "
                    "token, or SIGN_PKCS12 and SIGN_PASSWORD_FILE (or "
                    "SIGN_PASSWORD) for a PKCS#12 file")
    return None


def gpg(*arguments, passphrase_file="", check=True):
    """Runs gpg in batch mode, the passphrase (if any) read from its file."""
    command = ["gpg", "--batch"]
    if passphrase_file:
        command += ["--pinentry-mode", "loopback", "--passphrase-file", passphrase_file]
    done = subprocess.run([*command, *arguments], capture_output=True, text=True,
                          env=authenticode.child_environment(), check=False)
    if check and done.returncode != 0:
        raise SignError(f"`gpg {' '.join(arguments)}` failed:\n{done.stderr}")
    return done


def openpgp_key(env, problems):
    key = env.get("GPG_KEY", "")
    if not key:
        problems.append("GPG_KEY (the OpenPGP key of SHA256SUMS and the .rpm "
                        "packages, in gpg's keyring; GNUPGHOME names another)")
        return ""
    passphrase_file = env.get("GPG_PASSPHRASE_FILE", "")
    if passphrase_file and not Path(passphrase_file).is_file():
        problems.append(f"GPG_PASSPHRASE_FILE: {passphrase_file} is no file")
    if shutil.which("gpg") is None:
        problems.append("gpg (gnupg)")
        return key
    listed = gpg("--with-colons", "--list-secret-keys", "--", key, check=False)
    keys = [line.split(":") for line in listed.stdout.splitlines()
            if line.startswith("sec:")]
    if len(keys) != 1:
        problems.append(f"GPG_KEY: {len(keys)} secret keys match {key!r} in "
                        f"{env.get('GNUPGHOME', '~/.gnupg')}, one wanted")
    elif keys[0][3] not in OPENPGP_RSA:
        problems.append(f"GPG_KEY: {key} is no RSA key, which the rpm of RHEL 7 "
                        "and SLES 12 needs")
    return key


def keys_from(env):
    """The keys the environment names, or the list of what is missing."""
    problems = []
    signer = authenticode_signer(env, problems)
    key = openpgp_key(env, problems)
    for tool, package in (("osslsigncode", "osslsigncode"), ("rpmsign", "rpm")):
        if shutil.which(tool) is None:
            problems.append(f"{tool} ({package})")
    if problems:
        return None, problems
    return Keys(signer, env.get("SIGN_TIMESTAMP_URL", ""), key,
                env.get("GPG_PASSPHRASE_FILE", "")), []


def sign_rpm(path, keys):
    """Signs an .rpm in place with the OpenPGP key: the header signature and
    the legacy one of header and payload."""
    extra = "--batch"
    if keys.gpg_passphrase_file:
        extra += (" --pinentry-mode loopback --passphrase-file "
                  f"%{{shescape:{keys.gpg_passphrase_file}}}")
    command = ["rpmsign", "--addsign", "--rpmv3",
               "--define", f"_gpg_name {keys.gpg_key}",
               "--define", f"__gpg {shutil.which('gpg')}",
               "--define", "_gpg_digest_algo sha256",
               "--define", f"_gpg_sign_cmd_extra_args {extra}", str(path)]
    done = subprocess.run(command, capture_output=True, text=True,
                          env=authenticode.child_environment(), check=False)
    if done.returncode != 0:
        raise SignError(f"rpmsign {path.name} failed:\n{done.stdout}{done.stderr}")


def sign_sums(sums, signature, keys):
    gpg("--yes", "--local-user", keys.gpg_key, "--digest-algo", "SHA256",
        "--armor", "--detach-sign", "--output", str(signature), str(sums),
        passphrase_file=keys.gpg_passphrase_file)


def check_recorded_osslsigncode(build):
    """TOOL-VERSIONS, which make package wrote, must name the osslsigncode
    that signs: a check of the release attaches the signatures with it."""
    version = release.first_line(["osslsigncode", "--version"])
    notes = build / "packages" / "TOOL-VERSIONS"
    text = notes.read_text() if notes.is_file() else ""
    if not re.search(rf"^  osslsigncode: .*: {re.escape(version)}$", text, re.M):
        raise SignError(f"{notes} does not name this osslsigncode ({version}): "
                        "make package again")


def sign_release(build, keys):
    files, epoch = release.release_files(build)
    check_recorded_osslsigncode(build)
    zip_path = release.zip_of(build)
    rpms = [build / f for f in files if f.name.endswith(".rpm")]
    url = release.cpack_settings(build / release.WINDOWS).get("CPACK_PACKAGE_HOMEPAGE_URL")
    if not url:
        raise SignError("the Windows tree's CPackConfig.cmake names no home page")
    unsigned = authenticode.programs(zip_path)
    signed_already = [m for m, data in unsigned.items() if authenticode.is_signed(data)]
    if signed_already:
        raise SignError(f"{zip_path.name} holds signed programs already "
                        f"({', '.join(signed_already)}): make package makes it anew")
    packages = build / "packages"
    scratch = Path(tempfile.mkdtemp(prefix=".signing-", dir=packages))
    try:
        # The gpg key and its passphrase first: a failure then costs nothing.
        probe = scratch / "probe"
        probe.write_text("probe\n")
        sign_sums(probe, scratch / "probe.asc", keys)

        signed, signatures = {}, {}
        for member, data in unsigned.items():
            name = member.rsplit("/", 1)[-1]
            (scratch / name).write_bytes(data)
            text = authenticode.description(data)
            authenticode.sign(keys.signer, scratch / name, scratch / f"signed-{name}",
                              text, url, keys.timestamp_url)
            signature = authenticode.signature_path(scratch, zip_path, member)
            authenticode.extract(scratch / f"signed-{name}", signature)
            signed[member] = (scratch / f"signed-{name}").read_bytes()
            signatures[member] = signature
            say(f"signed {member} ({text}, {url}) with {keys.signer.what}")
        new_zip = scratch / zip_path.name
        authenticode.remake_zip(zip_path, signed, int(epoch), new_zip)
        for rpm in rpms:
            shutil.copy2(rpm, scratch / rpm.name)
            sign_rpm(scratch / rpm.name, keys)
            say(f"signed {rpm.name} with the OpenPGP key {keys.gpg_key}")

        # Into place: the ZIP, then what follows from it.
        for signature in signatures.values():
            os.replace(signature, packages / signature.name)
        os.replace(new_zip, zip_path)
        release.remake_bill(zip_path, epoch)
        for rpm in rpms:
            os.replace(scratch / rpm.name, rpm)
        release.write_sums(build, tool_versions=False)
        sign_sums(packages / "SHA256SUMS", scratch / "SHA256SUMS.asc", keys)
        os.replace(scratch / "SHA256SUMS.asc", packages / "SHA256SUMS.asc")
        say(f"signed {packages / 'SHA256SUMS'}: {packages / 'SHA256SUMS.asc'}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPO / "build")
    args = parser.parse_args()
    keys, problems = keys_from(os.environ)
    # Read once: no program started from here on gets them.
    for variable in authenticode.SECRETS:
        os.environ.pop(variable, None)
    if keys is None:
        print("sign: nothing signed, nothing changed; make sign needs:",
              *problems, sep="\n  ", file=sys.stderr)
        return 2
    try:
        sign_release(args.build_dir.resolve(), keys)
    except (SignError, authenticode.SigningError, release.ReleaseError, OSError) as error:
        say(f"FAILED: {error}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

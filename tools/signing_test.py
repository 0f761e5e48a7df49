#!/usr/bin/env python3
"""make sign and tools/verify_release.py with real parts: a throw-away
certificate authority and code-signing certificate (openssl), the key in a
SoftHSM2 token (a real PKCS#11 module) or in a PKCS#12 file, an OpenPGP
RSA key with a passphrase, each in a directory of the test's own, and an
rpm database of its own. Nothing touches this machine's keyrings or
tokens.

    python3 tools/signing_test.py [--build-dir build] [-v]    (make sign-check)

It signs a copy of the release that make package left in BUILD, and builds
the Windows programs of the same source once more in a scratch copy of it:
the published signature attached to those must give the signed bytes. One
case of each end-to-end suite runs under Wine on the signed programs: the
signed 32-bit programs of the ZIP where this machine runs 32-bit ones, else
the 64-bit test build signed with the same key (tools/windows-leg.sh
decides; the output says which). A missing tool skips it all (exit 77),
except with CI=true.
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

TOOLS = Path(__file__).resolve().parent
REPO = TOOLS.parent
sys.path.insert(0, str(TOOLS))
import authenticode  # noqa: E402
import release  # noqa: E402

BUILD = REPO / "build"
SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN = "release-test"
KEY_LABEL = "codesign"
# Secrets that must reach no command line of make sign's.
PIN = "pin-7QxZ31vK"
P12_PASSWORD = "p12-Hw4Rt8Lm"
PASSPHRASE = "passphrase-Kd82Lw"
GPG_USER = "Release test <release-test@talvane.example>"
LOGGED_TOOLS = ("osslsigncode", "gpg", "rpmsign")
# One case of each Wine suite: the sample installation's Java command.
WINE_CASES = (
    ("tarvo_wine_test.py", "SampleInstallationTest."
     "test_java_runs_with_the_documented_arguments_and_environment"),
    ("gorvanel_wine_test.py", "SampleInstallationTest."
     "test_java_gets_the_documented_command_line"),
)

SCRATCH = None
FIXTURE = {}


def say(text):
    print(f"signing_test: {text}", file=sys.stderr, flush=True)


def run(command, check=True, **kwargs):
    done = subprocess.run([str(c) for c in command], capture_output=True,
                          text=True, check=False, **kwargs)
    if check and done.returncode != 0:
        raise AssertionError(f"`{' '.join(map(str, command))}` failed "
                             f"({done.returncode}):\n{done.stdout}{done.stderr}")
    return done


def missing_tools():
    missing = [tool for tool in ("openssl", "osslsigncode", "softhsm2-util",
                                 "pkcs11-tool", "gpg", "gpgconf", "rpmsign",
                                 "rpm", "git", "cmake", "cpack")
               if shutil.which(tool) is None]
    if not Path(SOFTHSM_MODULE).is_file():
        missing.append(SOFTHSM_MODULE + " (softhsm2)")
    if not list(Path("/usr/lib").glob("*/engines-3/pkcs11.so")):
        missing.append("OpenSSL's PKCS#11 engine (libengine-pkcs11-openssl)")
    return missing


# --- Keys ---------------------------------------------------------------------

def make_certificates(directory):
    """A certificate authority and a code-signing certificate it issued:
    (CA certificate, signer's key, signer's certificate chain)."""
    ca_key, ca = directory / "ca.key", directory / "ca.pem"
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-keyout", ca_key, "-out", ca, "-subj", "/CN=Throw-away release test CA",
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    key, request, cert = directory / "signer.key", directory / "signer.csr", \
        directory / "signer.pem"
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
         "-out", request, "-subj", "/CN=Throw-away release signer"])
    extensions = directory / "signer.ext"
    extensions.write_text("basicConstraints=CA:FALSE\n"
                          "keyUsage=critical,digitalSignature\n"
                          "extendedKeyUsage=codeSigning\n")
    run(["openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
         "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", cert])
    chain = directory / "chain.pem"
    chain.write_text(cert.read_text() + ca.read_text())
    return ca, key, cert, chain


def make_token(directory, key, cert):
    """A SoftHSM2 token of the test's own holding the key and certificate."""
    tokens = directory / "tokens"
    tokens.mkdir()
    conf = directory / "softhsm2.conf"
    conf.write_text(f"directories.tokendir = {tokens}\n"
                    "objectstore.backend = file\nlog.level = ERROR\n")
    os.environ["SOFTHSM2_CONF"] = str(conf)
    run(["softhsm2-util", "--init-token", "--free", "--label", TOKEN,
         "--pin", PIN, "--so-pin", PIN + "-so"])
    der_key, der_cert = directory / "signer.key.der", directory / "signer.der"
    run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", key, "-outform", "DER",
         "-out", der_key])
    run(["openssl", "x509", "-in", cert, "-outform", "DER", "-out", der_cert])
    for kind, path in (("privkey", der_key), ("cert", der_cert)):
        run(["pkcs11-tool", "--module", SOFTHSM_MODULE, "--token-label", TOKEN,
             "--login", "--pin", PIN, "--write-object", path, "--type", kind,
             "--id", "01", "--label", KEY_LABEL])
    der_key.unlink()


def make_pkcs12(directory, key, cert, ca):
    p12, password = directory / "signer.p12", directory / "p12-password"
    password.write_text(P12_PASSWORD + "\n")
    run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert,
         "-certfile", ca, "-out", p12, "-passout", f"file:{password}"])
    return p12, password


def make_openpgp_key(directory):
    """An RSA key with a passphrase in a gpg home of the test's own: (home,
    passphrase file, fingerprint, public key file)."""
    home = directory / "gnupg"
    home.mkdir(mode=0o700)
    passphrase = directory / "gpg-passphrase"
    passphrase.write_text(PASSPHRASE + "\n")
    gpg = ["gpg", "--homedir", home, "--batch"]
    run([*gpg, "--pinentry-mode", "loopback", "--passphrase-file", passphrase,
         "--quick-gen-key", GPG_USER, "rsa2048", "sign", "2d"])
    listed = run([*gpg, "--with-colons", "--list-secret-keys"]).stdout
    fingerprint = next(line.split(":")[9] for line in listed.splitlines()
                       if line.startswith("fpr:"))
    public = directory / "openpgp.asc"
    public.write_text(run([*gpg, "--armor", "--export", fingerprint]).stdout)
    return home, passphrase, fingerprint, public


def logging_shims(directory):
    """A directory of stand-ins that write their command line to a log and
    run the real tool."""
    shims, log = directory / "shims", directory / "command-lines"
    shims.mkdir()
    for tool in LOGGED_TOOLS:
        shim = shims / tool
        shim.write_text(f"#!/bin/sh\n"
                        f"printf '%s\\n' \"{tool} $*\" >> '{log}'\n"
                        f"exec '{shutil.which(tool)}' \"$@\"\n")
        shim.chmod(0o755)
    return shims, log


# --- Releases -------------------------------------------------------------------

def copy_release(build, target):
    """What release.py reads of make package's result, copied to target, the
    CPack settings naming the copy's packages."""
    for tree in release.TREES:
        source = build / tree
        for relative in ["CPackConfig.cmake", "CMakeCache.txt",
                         *(p.relative_to(source) for p in
                           source.glob("CMakeFiles/*/CMake*Compiler.cmake")),
                         *(p.relative_to(source) for p in (source / "bin").iterdir()
                           if p.is_file()),
                         *(p.relative_to(source) for p in (source / "packages").iterdir()
                           if p.is_file())]:
            (target / tree / relative).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source / relative, target / tree / relative)
        config = target / tree / "CPackConfig.cmake"
        config.write_text(config.read_text().replace(str(source), str(target / tree)))
    shutil.copytree(build / "packages", target / "packages")


def fresh_windows_build(directory, epoch):
    """The ZIP of a second build of the Windows programs: the source as in
    the work tree, copied, built and packed without tests."""
    source = directory / "fresh" / "launchers"
    listed = run(["git", "-C", REPO, "ls-files", "-z", "--cached", "--others",
                  "--exclude-standard"]).stdout.split("\0")
    for name in filter(None, listed):
        if (REPO / name).is_file() and not name.startswith("build/"):
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(REPO / name, source / name)
    env = {**os.environ, "SOURCE_DATE_EPOCH": str(epoch)}
    for step in (["cmake", "--preset", "windows-i686", "-DBUILD_TESTING=OFF"],
                 ["cmake", "--build", "--preset", "windows-i686"],
                 ["cpack", "--config", "build/windows-i686/CPackConfig.cmake"]):
        run(step, cwd=source, env=env)
    return release.zip_of(source / "build")


def file_digests(directory):
    return {p: hashlib.sha256(p.read_bytes()).hexdigest()
            for p in sorted(directory.rglob("*")) if p.is_file()}


def with_changed_byte(path, out, at=None):
    data = bytearray(path.read_bytes())
    at = len(data) // 2 if at is None else at
    data[at] ^= 0x01
    out.write_bytes(bytes(data))
    return out


def sign_environment(authenticode_key):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("SIGN_", "GPG_"))}
    env.update(authenticode_key)
    env.update(GPG_KEY=FIXTURE["fingerprint"], GNUPGHOME=str(FIXTURE["gnupg"]),
               GPG_PASSPHRASE_FILE=str(FIXTURE["gpg_passphrase"]))
    return env


def token_key():
    return {"SIGN_PKCS11_MODULE": SOFTHSM_MODULE,
            "SIGN_PKCS11_KEY": f"pkcs11:token={TOKEN};object={KEY_LABEL};type=private",
            "SIGN_CERT": str(FIXTURE["chain"]), "SIGN_PIN": PIN}


def pkcs12_key():
    return {"SIGN_PKCS12": str(FIXTURE["p12"]),
            "SIGN_PASSWORD_FILE": str(FIXTURE["p12_password"])}


def setUpModule():
    started = time.monotonic()
    FIXTURE["ca"], key, cert, FIXTURE["chain"] = make_certificates(SCRATCH)
    make_token(SCRATCH, key, cert)
    FIXTURE["p12"], FIXTURE["p12_password"] = make_pkcs12(SCRATCH, key, cert,
                                                          FIXTURE["ca"])
    key.unlink()
    (FIXTURE["gnupg"], FIXTURE["gpg_passphrase"], FIXTURE["fingerprint"],
     FIXTURE["openpgp"]) = make_openpgp_key(SCRATCH)
    _, epoch = release.release_files(BUILD)
    say(f"keys made in {time.monotonic() - started:.0f} s")
    started = time.monotonic()
    FIXTURE["fresh_zip"] = fresh_windows_build(SCRATCH, epoch)
    say(f"the Windows programs built once more in {time.monotonic() - started:.0f} s")
    line = run([TOOLS / "windows-leg.sh"]).stdout.strip()
    FIXTURE["leg"] = line.split(":", 1)[0]
    say(f"Wine leg {line}")


def tearDownModule():
    run(["gpgconf", "--homedir", FIXTURE.get("gnupg", SCRATCH), "--kill", "all"],
        check=False)


# --- Cases ----------------------------------------------------------------------

class SignedRelease:
    """A copy of the release signed by make sign's script with the key that
    key() names; its programs, and the commands it ran."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix=cls.__name__ + "-", dir=SCRATCH))
        cls.release = cls.scratch / "build"
        copy_release(BUILD, cls.release)
        shims, cls.log = logging_shims(cls.scratch)
        env = sign_environment(cls.key())
        env["PATH"] = f"{shims}{os.pathsep}{env['PATH']}"
        done = run([sys.executable, "-B", TOOLS / "sign_release.py", "--build-dir",
                    cls.release], check=False, env=env)
        if done.returncode != 0:
            raise AssertionError(f"make sign failed:\n{done.stdout}{done.stderr}")
        cls.zip = release.zip_of(cls.release)
        cls.programs = authenticode.programs(cls.zip)

    def program_file(self, member, data=None):
        path = self.scratch / "programs" / member.rsplit("/", 1)[-1]
        path.parent.mkdir(exist_ok=True)
        path.write_bytes(self.programs[member] if data is None else data)
        return path

    def test_programs_verify_against_the_ca_and_not_with_a_changed_byte(self):
        self.assertEqual(len(self.programs), 2)
        for member in self.programs:
            with self.subTest(program=member):
                program = self.program_file(member)
                ok, output = authenticode.verify(program, FIXTURE["ca"])
                self.assertTrue(ok, output)
                changed = with_changed_byte(program, program.with_suffix(".changed"))
                ok, output = authenticode.verify(changed, FIXTURE["ca"])
                self.assertFalse(ok, output)

    def test_the_zips_bills_name_the_signed_bytes(self):
        # Beside the ZIP and in it: each program's SHA-256 is that of the
        # signed program the ZIP holds.
        with zipfile.ZipFile(self.zip) as archive:
            inside = [archive.read(m) for m in archive.namelist()
                      if m.endswith("/sbom.cdx.json")]
        beside = self.zip.with_suffix(".cdx.json").read_bytes()
        self.assertEqual(inside, [beside])
        named = {c["name"]: c["hashes"][0]["content"]
                 for c in json.loads(beside)["components"]
                 if c["type"] == "application"}
        self.assertEqual(named, {m.rsplit("/", 1)[-1]: hashlib.sha256(d).hexdigest()
                                 for m, d in self.programs.items()})

    def test_signature_on_a_fresh_build_gives_the_signed_bytes(self):
        fresh = authenticode.programs(FIXTURE["fresh_zip"])
        self.assertEqual(fresh.keys(), self.programs.keys())
        for member, data in fresh.items():
            with self.subTest(program=member):
                unsigned = self.program_file(member, data)
                signature = authenticode.signature_path(
                    self.release / "packages", self.zip, member)
                out = unsigned.with_suffix(".attached")
                authenticode.attach(unsigned, signature, out, FIXTURE["ca"])
                self.assertEqual(out.read_bytes(), self.programs[member])

    def test_no_secret_reaches_a_command_line(self):
        lines = self.log.read_text().splitlines()
        self.assertEqual({line.split(" ", 1)[0] for line in lines},
                         set(LOGGED_TOOLS))
        for secret in (PIN, P12_PASSWORD, PASSPHRASE):
            self.assertEqual([line for line in lines if secret in line], [])

    def test_signed_programs_run_under_wine(self):
        leg = FIXTURE["leg"]
        if leg == "none":
            if os.environ.get("CI") == "true":
                self.fail("CI=true needs the signed programs run under Wine")
            self.skipTest("no Wine loader runs here")
        tree = wine_tree(leg)
        wine_build = self.scratch / f"wine-{leg}"
        (wine_build / "bin").mkdir(parents=True)
        (wine_build / "e2e").mkdir()
        for name in ("tarvo.exe", "gorvanel.exe"):
            if leg == "i686":
                member = next(m for m in self.programs if m.endswith("/" + name))
                (wine_build / "bin" / name).write_bytes(self.programs[member])
            else:
                unsigned = tree / "bin" / name
                authenticode.sign(authenticode_signer(self.key()), unsigned,
                                  wine_build / "bin" / name,
                                  authenticode.description(unsigned.read_bytes()),
                                  "https://launchers.talvane.example/")
            ok, output = authenticode.verify(wine_build / "bin" / name, FIXTURE["ca"])
            self.assertTrue(ok, output)
        shutil.copy2(tree / "e2e" / "java.exe", wine_build / "e2e" / "java.exe")
        shutil.copy2(tree / "wine.json", wine_build / "wine.json")
        (wine_build / "wineprefix").symlink_to(tree / "wineprefix")
        say(f"{type(self).__name__}: Wine runs the signed "
            + ("32-bit programs of the ZIP" if leg == "i686"
               else "64-bit test build (this machine runs no 32-bit program)"))
        for script, case in WINE_CASES:
            with self.subTest(case=script):
                done = run([sys.executable, "-B", REPO / "e2e" / script,
                            "--build-dir", wine_build, "-v", case], check=False)
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


def wine_tree(leg):
    """The Windows build of the leg, its stub java.exe and Wine prefix
    made where the Windows leg of make test has not made them."""
    tree = BUILD / f"windows-{leg}"
    if not (tree / "e2e" / "java.exe").is_file():
        run(["cmake", "--preset", f"windows-{leg}"], cwd=REPO)
        run(["cmake", "--build", "--preset", f"windows-{leg}"], cwd=REPO)
    run([sys.executable, "-B", REPO / "e2e" / "wine_prefix.py", "prefix", tree])
    return tree


def authenticode_signer(key):
    problems = []
    import sign_release
    signer = sign_release.authenticode_signer(key, problems)
    if problems:
        raise AssertionError(problems)
    return signer


class TokenSigningTest(SignedRelease, unittest.TestCase):
    """The key in the SoftHSM2 token, its PIN in the environment."""
    key = staticmethod(token_key)

    def test_verification_passes_and_fails_on_a_changed_byte(self):
        command = [sys.executable, "-B", TOOLS / "verify_release.py",
                   "--release", self.release, "--ca", FIXTURE["ca"],
                   "--openpgp-key", FIXTURE["openpgp"], "--rebuilt", BUILD,
                   "--scratch", self.scratch / "verify"]
        done = run(command, check=False)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        signature = next((self.release / "packages").glob("*.p7s"))
        original = signature.read_bytes()
        self.addCleanup(signature.write_bytes, original)
        with_changed_byte(signature, signature, at=len(original) - 1)
        done = run(command, check=False)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)

    def test_openpgp_signatures_pass_and_fail_on_a_changed_byte(self):
        home = self.scratch / "verifier-gnupg"
        home.mkdir(mode=0o700)
        self.addCleanup(run, ["gpgconf", "--homedir", home, "--kill", "all"],
                        check=False)
        gpg = ["gpg", "--homedir", home, "--batch"]
        run([*gpg, "--import", FIXTURE["openpgp"]])
        sums = self.release / "packages" / "SHA256SUMS"
        asc = sums.with_name("SHA256SUMS.asc")
        self.assertEqual(run([*gpg, "--verify", asc, sums], check=False).returncode, 0)
        changed = with_changed_byte(sums, self.scratch / "SHA256SUMS")
        self.assertNotEqual(run([*gpg, "--verify", asc, changed],
                                check=False).returncode, 0)

        database = self.scratch / "rpmdb"
        run(["rpm", "--dbpath", database, "--initdb"])
        run(["rpm", "--dbpath", database, "--import", FIXTURE["openpgp"]])
        package = next(self.release.glob("linux-x86_64/packages/*.rpm"))
        done = run(["rpm", "--dbpath", database, "-K", package], check=False)
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertIn("signatures OK", done.stdout)
        changed = with_changed_byte(package, self.scratch / package.name)
        done = run(["rpm", "--dbpath", database, "-K", changed], check=False)
        self.assertNotEqual(done.returncode, 0, done.stdout)


class Pkcs12SigningTest(SignedRelease, unittest.TestCase):
    """The key in a PKCS#12 file, its password in a file."""
    key = staticmethod(pkcs12_key)


class WithoutAKeyTest(unittest.TestCase):
    def test_nothing_changes(self):
        # The Authenticode key alone: the OpenPGP key is missing.
        scratch = Path(tempfile.mkdtemp(prefix="no-key-", dir=SCRATCH))
        copy_release(BUILD, scratch / "build")
        before = file_digests(scratch / "build")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("SIGN_", "GPG_"))}
        env.update(token_key())
        done = run([sys.executable, "-B", TOOLS / "sign_release.py", "--build-dir",
                    scratch / "build"], check=False, env=env)
        self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
        self.assertIn("GPG_KEY", done.stderr)
        self.assertEqual(file_digests(scratch / "build"), before)


def main():
    global SCRATCH, BUILD
    if "--build-dir" in sys.argv:
        at = sys.argv.index("--build-dir")
        BUILD = Path(sys.argv[at + 1]).resolve()
        del sys.argv[at:at + 2]
    missing = missing_tools()
    if missing:
        if os.environ.get("CI") == "true":
            say(f"CI=true needs: {', '.join(missing)}")
            return 1
        say(f"skipped: missing {', '.join(missing)}")
        return 77
    try:
        release.release_files(BUILD)
    except release.ReleaseError as error:
        say(f"no release to sign in {BUILD}: {error}")
        return 1
    SCRATCH = BUILD / "sign-check"
    shutil.rmtree(SCRATCH, ignore_errors=True)
    SCRATCH.mkdir(parents=True)
    started = time.monotonic()
    program = unittest.main(exit=False)
    say(f"done in {time.monotonic() - started:.0f} s")
    ok = program.result.wasSuccessful()
    if ok:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

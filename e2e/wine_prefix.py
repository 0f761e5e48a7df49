"""A Wine prefix for the Windows build's end-to-end tests.

Run as a script it serves the build (the fixtures of the Wine tests):
  wine_prefix.py prefix BUILD        create the prefix of a Windows build once
  wine_prefix.py stop-server BUILD   end the wineserver of that prefix
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import callers
import harness


# The locale that gives a Wine process the ANSI code page 932, its Unix
# text staying UTF-8.
JAPANESE_LOCALE = "ja_JP.UTF-8"


class LocaleUnavailable(Exception):
    """The locale cannot be made on this machine; the message says why."""


def windows_path(path):
    """The Windows name of a host path through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class WinePrefix:
    """A Wine prefix of our own for one Windows build, made once by wineboot
    and reused. The build names the Wine loader and the prefix's
    architecture (wine.json): a bare `wine` would pick the 32-bit loader."""

    STAMP = "e2e-ready"
    SERVICES = Path("drive_c/windows/system32/drivers/etc/services")

    def __init__(self, path, loader, arch):
        self.path = Path(path).resolve()
        self.loader = loader
        self.arch = arch

    @classmethod
    def of_build(cls, build):
        config = json.loads(harness.built_file(build, "wine.json").read_text())
        return cls(Path(build) / "wineprefix", config["loader"],
                   config["arch"])

    def env(self, **extra):
        env = harness.clean_environment(
            WINEPREFIX=str(self.path), WINEARCH=self.arch, WINEDEBUG="-all",
            # Programs started inside Wine get the same loader.
            WINELOADER=self.loader,
            # No Gecko/Mono installers: they would ask on a display.
            WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("DISPLAY", None)
        env.update({k: str(v) for k, v in extra.items()})
        return env

    @property
    def services_file(self):
        return self.path / self.SERVICES

    @property
    def _pristine_services(self):
        return self.path / "e2e-services.orig"

    def ensure(self):
        """Creates the prefix unless an earlier run completed it. Returns
        the seconds spent creating it (0 when it was there)."""
        if (self.path / self.STAMP).exists():
            return 0.0
        for tool in (self.loader, "wineserver"):
            if shutil.which(tool) is None:
                raise RuntimeError(f"{tool} is not installed")
        started = time.monotonic()
        if self.path.exists():
            self.stop_server()
            shutil.rmtree(self.path)
        result = harness.run([self.loader, "wineboot", "--init"],
                             env=self.env(), timeout=600)
        if result.status != 0:
            raise RuntimeError("wineboot failed: " + result.describe())
        # The prefix is complete on disk only once its server has ended.
        self.stop_server()
        shutil.copy2(self.services_file, self._pristine_services)
        (self.path / self.STAMP).write_text("ready\n")
        return time.monotonic() - started

    def start_server(self):
        """A server of our own, kept running between the tests' Wine runs,
        so that no Wine run starts one that outlives it."""
        # It ends by itself a while after its last client, should a test
        # die before stopping it.
        harness.run(["wineserver", "-p60"], env=self.env(), timeout=60)

    def stop_server(self):
        harness.run(["wineserver", "--kill"], env=self.env(), timeout=60)
        harness.run(["wineserver", "--wait"], env=self.env(), timeout=60)

    def fixtures(self):
        """setUpModule and tearDownModule of a suite run in this prefix."""
        def set_up():
            self.ensure()
            self.start_server()
        return set_up, self.stop_server

    def wine(self, argv, env=None, cwd=None, timeout=harness.RUN_TIMEOUT):
        """Runs a Windows program: argv[0] its path (host or Windows)."""
        full_env = self.env(**(env or {}))
        return harness.run([self.loader] + [str(a) for a in argv],
                           env=full_env, cwd=cwd, timeout=timeout)

    def start(self, argv, env=None):
        """Starts a Windows program, its output discarded: a Popen."""
        return subprocess.Popen(
            [self.loader] + [str(a) for a in argv],
            env=self.env(**(env or {})), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def japanese_environment(self):
        """Environment entries that run a Wine process in code page 932.
        Wine takes its ANSI code page from the process's locale, and the
        locale must exist for Unix text to be read as UTF-8: localedef
        compiles it once into the build tree, named by LOCPATH. Raises
        LocaleUnavailable when it cannot be made."""
        locales = self.path.parent / "locales"
        if not (locales / JAPANESE_LOCALE / "LC_CTYPE").is_file():
            _compile_locale(locales, JAPANESE_LOCALE)
        return {"LOCPATH": str(locales), "LANG": JAPANESE_LOCALE,
                "LC_ALL": JAPANESE_LOCALE}

    def import_registry(self, reg_file):
        result = self.wine(["regedit", "/S", windows_path(reg_file)])
        if result.status != 0:
            raise RuntimeError("regedit failed: " + result.describe())

    def map_drive(self, letter, target):
        """Drive letter: now names the host directory target."""
        link = self.path / "dosdevices" / (letter.lower() + ":")
        self.unmap_drive(letter)
        link.symlink_to(Path(target).resolve())

    def fresh_drive(self, test, letter, prefix):
        """A new host directory as drive letter: for the test's time, then
        unmapped and removed."""
        root = Path(tempfile.mkdtemp(prefix=prefix))
        test.addCleanup(shutil.rmtree, root, ignore_errors=True)
        self.map_drive(letter, root)
        test.addCleanup(self.unmap_drive, letter)
        return root

    def unmap_drive(self, letter):
        link = self.path / "dosdevices" / (letter.lower() + ":")
        if link.is_symlink() or link.exists():
            link.unlink()

    def set_services(self, extra_lines=""):
        """The Windows services database: the prefix's own entries plus
        extra_lines. Wine's sockets read this file, not the host's."""
        text = self._pristine_services.read_bytes()
        # In the file's own line ends: Wine reads aliases up to a CR LF.
        extra = extra_lines.replace("\r\n", "\n").replace("\n", "\r\n")
        self.services_file.write_bytes(text + extra.encode("ascii"))

    def restore_services(self):
        shutil.copy2(self._pristine_services, self.services_file)


class JapaneseCodePage:
    """Mixed into a Wine suite's unittest.TestCase, which gives
    self.prefix (the WinePrefix) and self.record (the stub's record file,
    D:\\record): self.japanese is the environment of a run in code page
    932. Skipped (failed with CI=true) where the locale cannot be made."""

    def setUp(self):
        try:
            self.japanese = self.prefix.japanese_environment()
        except LocaleUnavailable as error:
            callers.skip_unless_ci(self, str(error))
        super().setUp()

    def direct_arguments(self, java, args):
        """The arguments that java, the stub, gets when started directly
        with args in code page 932; each must be its text in that code
        page, or the locale did not take effect."""
        self.record.unlink(missing_ok=True)
        env = harness.stub_environment(r"D:\record")
        env.update(self.japanese)
        result = self.prefix.wine([java] + list(args), env=env)
        self.assertEqual(result.status, 0, result.describe())
        records = harness.read_records(self.record)
        self.assertEqual(len(records), 1, "java.exe should have run once")
        self.assertEqual(records[0].argv[1:],
                         [arg.encode("cp932") for arg in args])
        return records[0].argv[1:]


def _compile_locale(locales, name):
    """Compiles the locale name (language_TERRITORY.CHARSET) from the
    locales package's source into locales/name. Made beside it and moved
    in whole, so that a run cut short or a suite alongside never sees half
    a locale."""
    source, charset = name.split(".")
    if shutil.which("localedef") is None:
        raise LocaleUnavailable("localedef is not installed (libc-bin)")
    if not Path("/usr/share/i18n/locales", source).is_file():
        raise LocaleUnavailable(
            f"/usr/share/i18n/locales/{source} is missing (locales)")
    locales.mkdir(parents=True, exist_ok=True)
    scratch = Path(tempfile.mkdtemp(prefix=name + ".", dir=locales))
    try:
        result = harness.run(["localedef", "-i", source, "-f", charset,
                              scratch / name], timeout=300)
        if result.status != 0:
            raise LocaleUnavailable("localedef failed: " + result.describe())
        try:
            os.rename(scratch / name, locales / name)
        except OSError:
            if not (locales / name / "LC_CTYPE").is_file():
                raise
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main(args):
    if len(args) == 2 and args[0] == "prefix":
        prefix = WinePrefix.of_build(args[1])
        seconds = prefix.ensure()
        state = f"created in {seconds:.1f} s" if seconds else "already there"
        print(f"Wine prefix {prefix.path} ({prefix.arch}, {prefix.loader}):"
              f" {state}")
        return 0
    if len(args) == 2 and args[0] == "stop-server":
        WinePrefix.of_build(args[1]).stop_server()
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

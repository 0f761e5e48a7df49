"""A Wine prefix for the Windows build's end-to-end tests.

Run as a script it serves the build (the fixtures of the Wine tests):
  wine_prefix.py prefix BUILD        create the prefix of a Windows build once
  wine_prefix.py stop-server BUILD   end the wineserver of that prefix
"""

import json
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import harness


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

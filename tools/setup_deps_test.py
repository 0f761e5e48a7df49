#!/usr/bin/env python3
"""tools/setup-deps.sh and tools/windows-leg.sh against stand-ins for apt-get,
dpkg and dpkg-query that fail the way real mirrors and machines have: a
package list that cannot be fetched, a resolver that refuses until pinned to
the release, a package that cannot be had, a kernel or Wine loader that
cannot run 32-bit programs. The stand-ins record every call; nothing real is
installed. The install cases need root, as the script itself does.

    python3 tools/setup_deps_test.py [-v]
"""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

TOOLS = Path(__file__).resolve().parent

# Only these host programs are reachable: a requirement met by a command is
# then met only by what the stand-ins say is installed.
HOST_PROGRAMS = ("bash", "sort", "grep", "dirname", "mktemp", "chmod", "rm",
                 "timeout", "cat", "python3", "sha256sum", "cut", "cp", "mv",
                 "mkdir")

STAND_IN = r'''#!/usr/bin/env python3
import os, sys
state = os.environ["FAKE_APT_STATE"]
def lines(name):
    path = os.path.join(state, name)
    return open(path).read().split() if os.path.exists(path) else []
def add(name, items):
    with open(os.path.join(state, name), "a") as f:
        f.writelines(item + "\n" for item in items)
tool, args = os.path.basename(sys.argv[0]), sys.argv[1:]
add("calls", [" ".join([tool] + args)])
if tool == "dpkg-query":
    if args[-1] not in lines("installed"):
        sys.exit(1)
    print("install ok installed", end="")
elif tool == "dpkg" and args[0] == "--print-foreign-architectures":
    print("\n".join(lines("architectures")))
elif tool == "dpkg" and args[0] == "--add-architecture":
    add("architectures", args[1:2])
elif tool == "apt-get" and args[0] == "update":
    if os.environ.get("FAKE_APT_UPDATE_FAILS"):
        print("E: Failed to fetch .../binary-i386/Packages.xz  File has "
              "unexpected size (1000 != 2000). Mirror sync in progress?",
              file=sys.stderr)
        sys.exit(100)
elif tool == "apt-get" and args[0] == "install":
    packages = [a for a in args[1:] if not a.startswith("-")]
    pinned = "-t" in args
    if pinned:
        packages.remove(args[args.index("-t") + 1])
    unavailable = set(os.environ.get("FAKE_APT_UNAVAILABLE", "").split(","))
    if unavailable & set(packages):
        print("E: Unable to locate package", file=sys.stderr)
        sys.exit(100)
    if os.environ.get("FAKE_APT_BREAKS_UNLESS_PINNED") and not pinned:
        print("E: Error, pkgProblemResolver::Resolve generated breaks",
              file=sys.stderr)
        sys.exit(100)
    add("installed", packages)
elif tool == "npm" and args[0] == "ci":
    library = os.path.join("node_modules", "@cyclonedx", "cyclonedx-library")
    os.makedirs(library)
    open(os.path.join(library, "package.json"), "w").close()
'''

DEMO_PACKAGES = {"cmake", "g++", "make", "default-jdk-headless"}


def release_codename():
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            return line.split("=", 1)[1].strip('"')
    return ""


class Machine:
    """A scratch PATH with the stand-ins and a few host programs."""

    def __init__(self, root):
        self.state = root / "state"
        self.bin = root / "bin"
        self.state.mkdir()
        self.bin.mkdir()
        self.cache = root / "cache"
        for tool in ("apt-get", "dpkg", "dpkg-query", "npm"):
            (self.bin / tool).write_text(STAND_IN)
            (self.bin / tool).chmod(0o755)
        for program in HOST_PROGRAMS:
            (self.bin / program).symlink_to(shutil.which(program))
        # A program this kernel cannot start, and one that starts.
        self.cannot_run = root / "cannot-run"
        self.cannot_run.write_bytes(b"\x7fELF\x01\x01\x01" + bytes(80))
        self.cannot_run.chmod(0o755)
        self.runs = self.bin / "true-program"
        self.runs.write_text("#!/bin/sh\nexit 0\n")
        self.runs.chmod(0o755)

    def run(self, script, *args, **env):
        full_env = {"PATH": str(self.bin), "FAKE_APT_STATE": str(self.state),
                    "PROBE_32BIT_PROGRAM": str(self.cannot_run),
                    "LAUNCHER_ROOT_CACHE": str(self.cache)}
        full_env.update(env)
        return subprocess.run([str(TOOLS / script)] + list(args),
                              env=full_env, capture_output=True, text=True,
                              timeout=120)

    def read(self, name):
        path = self.state / name
        return path.read_text().splitlines() if path.exists() else []

    def installed(self):
        return set(self.read("installed"))

    def apt_calls(self):
        return [c for c in self.read("calls") if c.startswith("apt-get")]

    def npm_calls(self):
        return [c for c in self.read("calls") if c.startswith("npm")]


class SetupCase(unittest.TestCase):
    def setUp(self):
        root = Path(tempfile.mkdtemp(prefix="setup-deps-"))
        self.addCleanup(shutil.rmtree, root)
        self.machine = Machine(root)

    def setup_deps(self, *targets, **env):
        result = self.machine.run("setup-deps.sh", *targets, **env)
        self.describe = f"{result.stdout}\n{result.stderr}"
        return result


@unittest.skipUnless(os.geteuid() == 0, "installs only as root")
class InstallTest(SetupCase):
    def test_demo_installs_only_its_own_tools_and_then_calls_no_apt(self):
        result = self.setup_deps("demo")
        self.assertEqual(result.returncode, 0, self.describe)
        self.assertEqual(self.machine.installed(), DEMO_PACKAGES)
        calls = self.machine.apt_calls()
        self.assertEqual(self.setup_deps("demo").returncode, 0, self.describe)
        self.assertEqual(self.machine.apt_calls(), calls, "apt called again")

    def test_a_package_list_that_cannot_be_fetched_is_only_a_warning(self):
        result = self.setup_deps("demo", FAKE_APT_UPDATE_FAILS="1")
        self.assertEqual(result.returncode, 0, self.describe)
        self.assertEqual(self.machine.installed(), DEMO_PACKAGES)

    def test_resolver_breaks_are_tried_again_pinned_to_the_release(self):
        result = self.setup_deps("demo", FAKE_APT_BREAKS_UNLESS_PINNED="1")
        self.assertEqual(result.returncode, 0, self.describe)
        self.assertEqual(self.machine.installed(), DEMO_PACKAGES)
        pinned = [c for c in self.machine.apt_calls() if " -t " in c]
        self.assertEqual(len(pinned), 1, self.describe)
        self.assertIn(f" -t {release_codename()} ", pinned[0])

    def test_packages_that_cannot_be_had_stop_the_set_up_naming_them(self):
        result = self.setup_deps("demo",
                                 FAKE_APT_UNAVAILABLE="default-jdk-headless")
        self.assertEqual(result.returncode, 1, self.describe)
        message = result.stderr.splitlines()[-1]
        self.assertIn("default-jdk-headless", message)
        self.assertIn("apt-get install", message)

    def test_32bit_wine_is_wanted_only_where_32bit_programs_run(self):
        self.assertEqual(self.setup_deps("test").returncode, 0, self.describe)
        self.assertNotIn("wine32:i386", self.machine.installed())
        self.assertEqual(self.machine.read("architectures"), [])
        self.assertIn("wine64", self.machine.installed())

    def test_the_bill_validator_is_installed_from_the_lockfile_once(self):
        self.assertEqual(self.setup_deps("test").returncode, 0, self.describe)
        self.assertEqual(len(self.machine.npm_calls()), 1, self.describe)
        self.assertIn("npm ci ", self.machine.npm_calls()[0])
        calls = self.machine.apt_calls() + self.machine.npm_calls()
        self.assertEqual(self.setup_deps("test").returncode, 0, self.describe)
        self.assertEqual(self.machine.apt_calls() + self.machine.npm_calls(),
                         calls, "apt or npm called again")

    def test_a_32bit_wine_that_cannot_be_had_leaves_the_rest(self):
        runs = str(self.machine.runs)
        result = self.setup_deps("test", PROBE_32BIT_PROGRAM=runs,
                                 FAKE_APT_UNAVAILABLE="wine32:i386")
        self.assertEqual(result.returncode, 0, self.describe)
        self.assertIn("wine64", self.machine.installed())
        self.assertNotIn("wine32:i386", self.machine.installed())
        self.assertEqual(self.machine.read("architectures"), ["i386"])
        self.assertEqual(self.setup_deps("test", PROBE_32BIT_PROGRAM=runs)
                         .returncode, 0, self.describe)
        self.assertIn("wine32:i386", self.machine.installed())


class WindowsLegTest(SetupCase):
    def leg(self, loader32, loader64):
        result = self.machine.run("windows-leg.sh",
                                  WINE_LOADER_I686=str(loader32),
                                  WINE_LOADER_X86_64=str(loader64))
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.split(":", 1)[0]

    def test_the_leg_follows_the_loaders_that_really_run(self):
        runs, cannot = self.machine.runs, self.machine.cannot_run
        self.assertEqual(self.leg(runs, runs), "i686")
        self.assertEqual(self.leg(cannot, runs), "x86_64")
        self.assertEqual(self.leg(cannot, cannot), "none")


if __name__ == "__main__":
    unittest.main()

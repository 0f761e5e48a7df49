#!/usr/bin/env python3
"""tools/build_root.py against a stand-in for debootstrap that lays out
the little a root needs here (the loader's absolute link, as Debian 11
has it) or dies half-way. Nothing is downloaded. Making a root needs root,
as the script itself does.

    python3 tools/build_root_test.py [-v]
"""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TOOLS = Path(__file__).resolve().parent

STAND_IN = r'''#!/bin/sh
# debootstrap [OPTION...] SUITE TARGET MIRROR
eval "target=\${$(($# - 1))}"
echo "$*" >> "$FAKE_DEBOOTSTRAP_CALLS"
mkdir -p "$target/usr/lib/x86_64-linux-gnu" "$target/usr/lib64" \
         "$target/var/lib/apt/lists"
ln -s usr/lib "$target/lib"
: > "$target/usr/lib/x86_64-linux-gnu/ld-2.31.so"
ln -s /lib/x86_64-linux-gnu/ld-2.31.so "$target/usr/lib64/ld-linux-x86-64.so.2"
printf 'Origin: Debian\nDate: Sat, 09 Aug 2025 09:16:30 UTC\n' \
  > "$target/var/lib/apt/lists/mirror_dists_bullseye_Release"
mkdir -p "$target/debootstrap"
[ -z "$FAKE_DEBOOTSTRAP_FAILS" ] || exit 1
'''


@unittest.skipUnless(os.geteuid() == 0, "making a root needs root")
class BuildRootTest(unittest.TestCase):

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.scratch = Path(scratch.name)
        bin_dir = self.scratch / "bin"
        bin_dir.mkdir()
        (bin_dir / "debootstrap").write_text(STAND_IN)
        (bin_dir / "debootstrap").chmod(0o755)
        self.calls = self.scratch / "calls"
        self.env = dict(os.environ, LAUNCHER_ROOT_CACHE=str(self.scratch / "cache"),
                        FAKE_DEBOOTSTRAP_CALLS=str(self.calls),
                        PATH=f"{bin_dir}:{os.environ['PATH']}")

    def build_root(self, *args, **env):
        return subprocess.run([sys.executable, "-B", str(TOOLS / "build_root.py"),
                               *args], env={**self.env, **env}, text=True,
                              capture_output=True, check=False)

    def debootstrap_runs(self):
        return len(self.calls.read_text().splitlines()) if self.calls.exists() else 0

    def test_made_once_with_links_inside_it_then_reused(self):
        made = self.build_root("make")
        self.assertEqual(made.returncode, 0, made.stderr)
        root = Path(made.stdout.strip())
        self.assertEqual(root, Path(self.build_root("path").stdout.strip()))
        loader = root / "usr/lib64/ld-linux-x86-64.so.2"
        self.assertFalse(os.readlink(loader).startswith("/"))
        self.assertEqual(loader.resolve(),
                         (root / "usr/lib/x86_64-linux-gnu/ld-2.31.so").resolve())
        self.assertIn("release date: Sat, 09 Aug 2025 09:16:30 UTC",
                      (root / "build-root.info").read_text())
        self.assertEqual(root.stat().st_mode & 0o777, 0o755)
        again = self.build_root("make")
        self.assertEqual((again.returncode, again.stdout), (0, made.stdout))
        self.assertEqual(self.debootstrap_runs(), 1)

    def test_a_failed_debootstrap_leaves_no_root_behind(self):
        failed = self.build_root("make", FAKE_DEBOOTSTRAP_FAILS="1")
        self.assertEqual(failed.returncode, 1)
        root = Path(self.build_root("path").stdout.strip())
        self.assertEqual(sorted(p.name for p in root.parent.iterdir()
                                if p.name != ".lock" and not p.name.endswith(".log")),
                         [])
        made = self.build_root("make")
        self.assertEqual((made.returncode, made.stdout.strip()), (0, str(root)))
        self.assertEqual(self.debootstrap_runs(), 2)


if __name__ == "__main__":
    unittest.main()

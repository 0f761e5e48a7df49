#!/usr/bin/env python3
"""tools/linked_components.py against a link map that took one archive
member more, of a package the programs do not link (GoogleTest's static
library, in the build root): that package shows up, with its version from
the root's own dpkg database, and without a licence it stops the packages.
The build tree's own archives stay out.

    python3 tools/linked_components_test.py [-v]      (make package-check)

Needs the build root (tools/build_root.py), which make package-check has.
"""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import build_root
import linked_components

ROOT = build_root.root_path()
EXTRA_PACKAGE = "libgtest-dev"


def root_file(package, name):
    """The file of a package of the root whose name ends with name."""
    listed = subprocess.run(["dpkg-query", f"--admindir={ROOT}/var/lib/dpkg", "-L",
                             package], capture_output=True, text=True,
                            check=True).stdout.split()
    return next(f for f in listed if f.endswith(name))


def version(package):
    return subprocess.run(["dpkg-query", f"--admindir={ROOT}/var/lib/dpkg", "-W",
                           "-f=${Version}", package], capture_output=True,
                          text=True, check=True).stdout


@unittest.skipUnless((ROOT / "var/lib/dpkg/status").is_file(),
                     f"no build root at {ROOT} (tools/build_root.py make)")
class ExtraMemberTest(unittest.TestCase):
    def setUp(self):
        self.tree = Path(tempfile.mkdtemp(prefix="linked-components-"))
        self.addCleanup(shutil.rmtree, self.tree)
        # Not an ELF program: no shared library needed, only what the map names.
        (self.tree / "bin").mkdir()
        (self.tree / "bin" / "prog").write_text("")
        (self.tree / "link-maps").mkdir()
        start = root_file("libc6-dev", "/Scrt1.o")
        runtime = root_file("libstdc++-10-dev", "/libstdc++.a")
        self.extra = root_file(EXTRA_PACKAGE, "/libgtest.a")
        # As ld writes it: the root's paths as the compiler named them.
        (self.tree / "link-maps" / "prog.map").write_text(
            "Archive member included to satisfy reference by file (symbol)\n\n"
            "libplatform.a(trace.cpp.o)\n"
            "                              CMakeFiles/prog.dir/main.cpp.o (f())\n"
            f"{ROOT}/usr/bin/../lib/gcc/../..{runtime}(eh_throw.o)\n"
            "                              libplatform.a(trace.cpp.o) (__cxa_throw)\n"
            f"{ROOT}{self.extra}(gtest-all.cc.o)\n"
            "                              CMakeFiles/prog.dir/main.cpp.o (g())\n"
            "\nDiscarded input sections\n\n"
            f"LOAD {ROOT}{start}\nLOAD CMakeFiles/prog.dir/main.cpp.o\n"
            f"LOAD libplatform.a\nLOAD {ROOT}{runtime}\nLOAD {ROOT}{self.extra}\n")

    def test_an_extra_member_shows_up_and_needs_a_licence(self):
        with self.assertRaises(linked_components.LinkError) as raised:
            linked_components.find(self.tree, ROOT)
        self.assertIn(EXTRA_PACKAGE, str(raised.exception))
        licence = linked_components.Licence("BSD-3-Clause", "BSD-3-clause", (), "")
        with mock.patch.dict(linked_components.LICENCES, {"googletest": licence}):
            found, _ = linked_components.find(self.tree, ROOT)
        by_name = {p.name: p for p in found}
        self.assertEqual(sorted(by_name), ["libc6-dev", EXTRA_PACKAGE, "libstdc++-10-dev"])
        extra = by_name[EXTRA_PACKAGE]
        self.assertEqual(extra.version, version(EXTRA_PACKAGE))
        self.assertEqual(extra.files, {f"{self.extra}(gtest-all.cc.o)"})
        self.assertEqual(extra.programs, {"prog"})
        self.assertIn("libstdc++.a(eh_throw.o)",
                      " ".join(by_name["libstdc++-10-dev"].files))


if __name__ == "__main__":
    unittest.main()

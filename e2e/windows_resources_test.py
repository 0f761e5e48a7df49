#!/usr/bin/env python3
"""What Windows itself reads of the programs' resources: resource_probe.exe,
under Wine, asks the version API and the resource API about each program.

    python3 e2e/windows_resources_test.py [--build-dir build/windows-i686] [-v]
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import wine_prefix  # noqa: E402
from pe_file import execution_level  # noqa: E402
from windows_files_test import (BUILD, FIXED_INFO_SIGNATURE,  # noqa: E402
                                PROGRAMS, VERSION_NUMBERS, VFT_APP,
                                VOS_NT_WINDOWS32, expected_strings)

PREFIX = wine_prefix.WinePrefix.of_build(BUILD)


class VersionApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.probe = harness.built_file(BUILD, "e2e/resource_probe.exe")
        cls.programs = {p: harness.built_file(BUILD, f"bin/{p}.exe")
                        for p in PROGRAMS}
        PREFIX.ensure()
        PREFIX.start_server()

    @classmethod
    def tearDownClass(cls):
        PREFIX.stop_server()

    def probe_program(self, program):
        result = PREFIX.wine([self.probe,
                              wine_prefix.windows_path(self.programs[program])])
        self.assertEqual(result.status, 0, result.describe())
        lines = result.stdout.decode("utf-8").splitlines()
        return dict(line.split("=", 1) for line in lines)

    def test_windows_reads_the_version_and_the_manifest(self):
        dotted = ".".join(map(str, VERSION_NUMBERS))
        for program in PROGRAMS:
            with self.subTest(program=program):
                found = self.probe_program(program)
                manifest = bytes.fromhex(found.pop("manifest"))
                self.assertEqual(execution_level(manifest),
                                 ("asInvoker", "false"))
                self.assertEqual(found, {
                    "Signature": f"{FIXED_INFO_SIGNATURE:08x}",
                    "FileVersion#": dotted,
                    "ProductVersion#": dotted,
                    "FileOS": f"{VOS_NT_WINDOWS32:08x}",
                    "FileType": str(VFT_APP),
                    "Translation": "040904b0",
                    **expected_strings(program)})


if __name__ == "__main__":
    unittest.main()

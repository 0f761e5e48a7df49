#!/usr/bin/env python3
"""The Windows programs as files, read without running them: the "asInvoker"
manifest, the version information, which system calls each imports, and
the hardening that operators' security scans look for.

    python3 e2e/windows_files_test.py [--build-dir build/windows-i686] [-v]
"""

import re
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from pe_file import (DYNAMIC_BASE, HIGH_ENTROPY_VA,  # noqa: E402
                     MACHINE_AMD64, NX_COMPAT, PeFile, VersionNode,
                     execution_level, version_numbers)

BUILD = harness.build_dir("windows-i686")

PROGRAMS = ("tarvo", "gorvanel")
DESCRIPTIONS = {"tarvo": "SAN manager command launcher",
                "gorvanel": "Information command launcher"}

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_INFO_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1

# The system calls that only one of the programs makes.
OWN_CALLS = {
    "tarvo": {"SetEnvironmentVariableA", "system", "WSAStartup",
              "getservbyname", "ntohs", "WSACleanup"},
    "gorvanel": {"CreateProcessA", "WaitForSingleObject",
                 "GetExitCodeProcess", "TerminateProcess",
                 "AllocateAndInitializeSid", "LookupAccountSidA", "FreeSid",
                 "OpenProcessToken", "GetTokenInformation"},
}


def project_version():
    """The version that the top CMakeLists.txt gives the project."""
    text = (harness.REPO / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9]+(?:\.[0-9]+){0,3})",
                      text)
    if match is None:
        raise ValueError("no project(... VERSION ...) in CMakeLists.txt")
    return match.group(1)


VERSION = project_version()
# FILEVERSION's four numbers: the parts the project leaves out are 0.
VERSION_NUMBERS = tuple((list(map(int, VERSION.split("."))) + [0, 0, 0])[:4])


def expected_strings(program):
    return {"CompanyName": "Talvane",
            "FileDescription": DESCRIPTIONS[program],
            "FileVersion": VERSION,
            "InternalName": program,
            "OriginalFilename": program + ".exe",
            "ProductName": "Talvane launchers",
            "ProductVersion": VERSION}


def read_pe(relative):
    return PeFile(harness.built_file(BUILD, relative).read_bytes())


class ResourceCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = {program: read_pe(f"bin/{program}.exe").resources()
                         for program in PROGRAMS}

    def only(self, program, kind):
        """The one resource of that type, which must be numbered 1."""
        found = {name: datas for (k, name), datas
                 in self.resources[program].items() if k == kind}
        self.assertEqual(list(found), [1], f"{program}.exe, type {kind}")
        self.assertEqual(len(found[1]), 1, f"{program}.exe: one language")
        return found[1][0]


class ManifestResourceTest(ResourceCase):
    def test_each_program_asks_to_run_as_its_invoker(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                manifest = self.only(program, RT_MANIFEST)
                self.assertEqual(execution_level(manifest),
                                 ("asInvoker", "false"))


class VersionResourceTest(ResourceCase):
    def version_info(self, program):
        root = VersionNode(self.only(program, RT_VERSION), 0)
        self.assertEqual(root.key, "VS_VERSION_INFO")
        return root

    def test_fixed_part_carries_the_project_version(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                fixed = struct.unpack("<13I", self.version_info(program).value)
                self.assertEqual(fixed[0], FIXED_INFO_SIGNATURE)
                self.assertEqual(version_numbers(fixed[2], fixed[3]),
                                 VERSION_NUMBERS, "file version")
                self.assertEqual(version_numbers(fixed[4], fixed[5]),
                                 VERSION_NUMBERS, "product version")
                self.assertEqual((fixed[8], fixed[9]),
                                 (VOS_NT_WINDOWS32, VFT_APP), "OS and type")

    def test_strings_name_the_program_and_its_version(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                root = self.version_info(program)
                language, code_page = struct.unpack(
                    "<HH", root.child("VarFileInfo").child("Translation").value)
                tables = root.child("StringFileInfo").children
                self.assertEqual([t.key for t in tables],
                                 [f"{language:04X}{code_page:04X}"])
                strings = {s.key: s.value for s in tables[0].children}
                self.assertEqual(strings, expected_strings(program))


def imported_functions(relative):
    return set().union(*read_pe(relative).imports().values())


class ImportTableTest(unittest.TestCase):
    """Each program imports the system calls it makes and none that only
    the other one makes: a shared object file would drag them in. What the
    static C runtime imports by itself (seen in an empty program built the
    same way) does not count."""

    def test_each_own_call_is_imported_by_its_program_only(self):
        runtime = imported_functions("e2e/runtime_baseline.exe")
        imports = {p: imported_functions(f"bin/{p}.exe") for p in PROGRAMS}
        for program, other in (PROGRAMS, PROGRAMS[::-1]):
            with self.subTest(program=program):
                self.assertEqual(OWN_CALLS[program] - imports[program], set(),
                                 f"calls missing from {program}.exe")
                self.assertEqual(
                    (OWN_CALLS[other] - runtime) & imports[program], set(),
                    f"{other}'s calls imported by {program}.exe")


class HardeningTest(unittest.TestCase):
    """Address-space layout randomization (with high entropy in a 64-bit
    program), no execution of data, the stack protector and the checked
    calls of mingw-w64's static runtime (cmake/hardening.cmake)."""

    def test_layout_randomized_and_data_not_executable(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                pe = read_pe(f"bin/{program}.exe")
                wanted = DYNAMIC_BASE | NX_COMPAT
                if pe.machine == MACHINE_AMD64:
                    wanted |= HIGH_ENTROPY_VA
                self.assertEqual(pe.dll_characteristics & wanted, wanted,
                                 f"DllCharacteristics "
                                 f"{pe.dll_characteristics:#06x}")

    def test_stack_protector(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                # A 32-bit program's C names carry a leading underscore.
                names = {n.lstrip("_") for n in
                         read_pe(f"bin/{program}.exe").symbols()}
                self.assertTrue({"stack_chk_fail", "stack_chk_guard"} <=
                                names, "no stack protector "
                                "(-fstack-protector-strong)")

    def test_own_code_compiled_with_checked_calls(self):
        # mingw-w64's checked calls are those of string.h, and the
        # compiler sees every such call of the launchers to be safe: none
        # shows in the programs. So the flags each of their objects was
        # compiled with are read from the build.
        for target in ("platform", "tarvo_logic", "gorvanel_logic", "tarvo",
                       "gorvanel"):
            with self.subTest(target=target):
                flags = harness.built_file(
                    BUILD, f"CMakeFiles/{target}.dir/flags.make").read_text()
                line = re.search(r"^CXX_FLAGS = (.*)$", flags, re.M).group(1)
                words = line.split()
                self.assertIn("-D_FORTIFY_SOURCE=2", words)
                self.assertIn("-fstack-protector-strong", words)
                self.assertNotRegex(line, r"-O0\b",
                                    "checked calls need an optimized build")


if __name__ == "__main__":
    unittest.main()

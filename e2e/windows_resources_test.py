#!/usr/bin/env python3
"""The Windows programs' resources: the "asInvoker" manifest and the version
information, read from the .exe files by a small PE reader and, under Wine,
through the version and resource APIs by resource_probe.exe.

    python3 e2e/windows_resources_test.py [--build-dir build/windows-i686] [-v]
"""

import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

BUILD = harness.build_dir("windows-i686")
PREFIX = harness.WinePrefix(BUILD / "wineprefix")

PROGRAMS = ("tarvo", "gorvanel")
DESCRIPTIONS = {"tarvo": "SAN manager command launcher",
                "gorvanel": "Information command launcher"}

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_INFO_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


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


# --- Reading a PE file's resources ----------------------------------------

def pe_resources(data):
    """{(type id, name id): [data of each language]} of a PE file's
    resource section (named entries are left out: ours are numbered)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    if resource_rva == 0:
        return {}

    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, rva, raw_size, raw = struct.unpack_from(
            "<IIII", data, table + 40 * i + 8)
        spans.append((rva, max(virtual_size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<12xHH", data, base + directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data,
                                              base + directory + 16 + 8 * i)
            yield name, target

    found = {}
    for kind, kind_dir in entries(0):
        for name, name_dir in entries(kind_dir & 0x7FFFFFFF):
            if kind & 0x80000000 or name & 0x80000000:
                continue
            for _, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = offset(rva)
                found.setdefault((kind, name), []).append(
                    data[start:start + size])
    return found


class VersionNode:
    """One block of a VS_VERSIONINFO resource: key, value, children."""

    def __init__(self, data, start):
        length, value_length, is_text = struct.unpack_from("<HHH", data, start)
        if length < 6 or start + length > len(data):
            raise ValueError(f"version block at {start} has length {length}")
        end = start + length
        key_end = start + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        self.key = data[start + 6:key_end].decode("utf-16-le")
        value_start = _aligned(key_end + 2)
        if is_text:
            text = data[value_start:end]
            stop = next((i for i in range(0, len(text) - 1, 2)
                         if text[i:i + 2] == b"\0\0"), len(text))
            self.value = text[:stop].decode("utf-16-le")
            value_end = value_start + 2 * value_length
        else:
            self.value = data[value_start:value_start + value_length]
            value_end = value_start + value_length
        self.children = []
        child = _aligned(value_end)
        while child < end:
            node = VersionNode(data, child)
            self.children.append(node)
            child = _aligned(child + node.length)
        self.length = length

    def child(self, key):
        matches = [c for c in self.children if c.key == key]
        if len(matches) != 1:
            raise AssertionError(f"{len(matches)} blocks {key!r} in "
                                 f"{self.key!r}")
        return matches[0]


def _aligned(offset):
    return (offset + 3) & ~3


def version_numbers(high, low):
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def execution_level(manifest):
    """(level, uiAccess) that a manifest requests."""
    root = ElementTree.fromstring(manifest)
    if root.tag != ASM_V1 + "assembly":
        raise AssertionError(f"manifest root is {root.tag}")
    levels = list(root.iter(ASM_V3 + "requestedExecutionLevel"))
    if len(levels) != 1:
        raise AssertionError(f"{len(levels)} requestedExecutionLevel elements")
    return levels[0].get("level"), levels[0].get("uiAccess")


class ResourceCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = {
            program: pe_resources(
                harness.built_file(BUILD, f"bin/{program}.exe").read_bytes())
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


class VersionApiTest(unittest.TestCase):
    """What Windows itself reads: resource_probe.exe under Wine asks the
    version API and the resource API about each program."""

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
                              harness.windows_path(self.programs[program])])
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

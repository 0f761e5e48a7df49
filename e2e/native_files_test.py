#!/usr/bin/env python3
"""The Linux programs as files, read without running them: the hardening
that operators' security scans look for, the layout that spares their start
pages, and the oldest C library and kernel they need.

    python3 e2e/native_files_test.py [--build-dir build/native] [-v]
"""

import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import harness  # noqa: E402
import linux_floor  # noqa: E402
import release  # noqa: E402

BUILD = harness.build_dir("native")
PROGRAMS = ("tarvo", "gorvanel")
# Programs of their own built with the same flags: the bench yardsticks,
# which make bench sets the launchers against.
YARDSTICKS = ("bench/yardstick", "bench/minimal_launcher")

DF_BIND_NOW = 0x8
DF_1_NOW = 0x1
DF_1_PIE = 0x08000000
EM_386 = 3
EM_X86_64 = 62


def readelf(*args):
    return subprocess.run(["readelf", "-W", *map(str, args)],
                          capture_output=True, text=True, check=True,
                          env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout


def dynamic_flags(path):
    """(DT_FLAGS, DT_FLAGS_1) of a program, 0 for one it lacks."""
    flags = {"FLAGS": 0, "FLAGS_1": 0}
    for line in readelf("--dynamic", path).splitlines():
        match = re.match(r"\s*0x([0-9a-f]+)\s+\((FLAGS(?:_1)?)\)\s+Flags:(.*)",
                         line)
        if match is None:
            continue
        names = match.group(3).split()
        bits = {"BIND_NOW": DF_BIND_NOW} if match.group(2) == "FLAGS" else \
            {"NOW": DF_1_NOW, "PIE": DF_1_PIE}
        flags[match.group(2)] = sum(bits.get(n, 0) for n in names)
    return flags["FLAGS"], flags["FLAGS_1"]


def imported_names(path):
    return {name for name, _, _ in linux_floor.imported(path)}


class HardeningTest(unittest.TestCase):
    """What dpkg-buildflags gives a Debian package with hardening=+all,
    seen in the built programs."""

    def programs(self):
        return [harness.built_file(BUILD, f"bin/{p}") for p in PROGRAMS] + \
               [harness.built_file(BUILD, p) for p in YARDSTICKS]

    def test_position_independent(self):
        for path in self.programs():
            with self.subTest(program=path.name):
                header = readelf("--file-header", path)
                self.assertRegex(header, r"Type:\s+DYN")
                self.assertTrue(dynamic_flags(path)[1] & DF_1_PIE,
                                "no PIE flag")

    def test_relocations_read_only_and_resolved_at_start(self):
        for path in self.programs():
            with self.subTest(program=path.name):
                self.assertRegex(readelf("--program-headers", path),
                                 r"\bGNU_RELRO\b", "no RELRO")
                flags, flags_1 = dynamic_flags(path)
                self.assertTrue(flags & DF_BIND_NOW or flags_1 & DF_1_NOW,
                                "no BIND_NOW")

    def test_stack_protector_and_checked_calls(self):
        # A yardstick's few calls are all of sizes the compiler can see to
        # be right, so none of them needs a check: only the launchers show
        # the checked calls.
        for path in self.programs():
            with self.subTest(program=path.name):
                names = imported_names(path)
                self.assertTrue("__stack_chk_fail" in names,
                                "no stack protector "
                                "(-fstack-protector-strong)")
                if path.name not in PROGRAMS:
                    continue
                checked = {n for n in names
                           if re.fullmatch(r"__\w+_chk", n)} - \
                    {"__stack_chk_fail"}
                self.assertTrue(checked,
                                "no checked call (-D_FORTIFY_SOURCE=2)")

    def test_own_code_has_control_flow_protection(self):
        # -fcf-protection marks each object IBT and SHSTK; the linked
        # program keeps the mark only when every object has it, and the C
        # library's start files of Debian 12 do not: so the launchers' own
        # objects are read.
        tarvo = harness.built_file(BUILD, "bin/tarvo")
        if linux_floor.machine(tarvo) not in (EM_386, EM_X86_64):
            self.skipTest("-fcf-protection is for x86")
        for program in PROGRAMS:
            link = (BUILD / "CMakeFiles" / f"{program}.dir" /
                    "link.txt").read_text().split()
            inputs = [BUILD / word for word in link
                      if word.endswith((".o", ".a"))]
            self.assertTrue(inputs, f"no object files of {program} found")
            for path in inputs:
                # One "File:" section for each member of an archive.
                notes = readelf("--notes", path).split("File: ")
                members = notes[1:] or notes
                for member in members:
                    with self.subTest(object=member.split("\n", 1)[0] or
                                      path.name):
                        self.assertRegex(member, r"x86 feature: IBT, SHSTK")


def symbols(path):
    """{demangled name: (section, address)} of the functions and objects in
    a program's symbol table."""
    found = {}
    for line in linux_floor.objdump(path, "-t", "-C").splitlines():
        match = re.match(r"([0-9a-f]+) .{6}[FO] (\S+)\t[0-9a-f]+\s+(.+)",
                         line)
        if match:
            found[match.group(3)] = (match.group(2), int(match.group(1), 16))
    return found


class StartupLayoutTest(unittest.TestCase):
    """The layout choices that spare a launcher's start a page each
    (bench/RESULTS.md), seen in the built programs, so that one that stops
    working fails here and not only in make bench."""

    def setUp(self):
        # The choices belong to the launchers that carry their C++ runtime.
        settings = release.cache_settings(BUILD)
        if settings.get("LAUNCHER_STATIC_RUNTIME", "ON").upper() in (
                "OFF", "0", "FALSE", "NO"):
            self.skipTest("a build with the shared C++ runtime")

    def symbols(self, program):
        return symbols(harness.built_file(BUILD, f"bin/{program}"))

    def test_tarvo_options_lie_off_the_stack(self):
        found = [section for name, (section, _) in
                 self.symbols("tarvo").items()
                 if re.fullmatch(r"tarvo::RunLauncher\(.*\)::options", name)]
        self.assertEqual(found, [".bss"])

    def test_privilege_warning_is_not_inlined(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.assertIn(".text", [
                    section for name, (section, _) in
                    self.symbols(program).items()
                    if "::WarnOfPrivilegeChange(" in name])

    def test_registry_roots_need_no_relocation(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                section, _ = self.symbols(program)["platform::kRegistryRoots"]
                self.assertEqual(section, ".rodata")

    def test_no_demangler_of_the_runtime(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                link_map = (BUILD / "link-maps" / f"{program}.map").read_text()
                self.assertIn("libstdc++.a(", link_map)
                self.assertNotIn("(cp-demangle.o)", link_map)

    def test_gorvanel_classpath_last_of_its_zeroed_data(self):
        # cmake/gorvanel_bss.ld names execution.cpp's object file: renamed,
        # the classpath lies among the small variables again.
        found = self.symbols("gorvanel")
        name = "gorvanel::(anonymous namespace)::g_classpath"
        section, classpath = found[name]
        self.assertEqual(section, ".bss")
        above = [other for other, (section, address) in found.items()
                 if section.startswith(".bss") and address > classpath]
        self.assertEqual(above, [])


class SystemFloorTest(unittest.TestCase):
    """The oldest systems the launchers run on, as make package records
    them (tools/linux_floor.py)."""

    def programs(self):
        return [harness.built_file(BUILD, f"bin/{p}") for p in PROGRAMS]

    def test_close_range_is_the_only_newer_call_of_our_own(self):
        # Any other call newer than Linux 3.10, through a wrapper or
        # syscall(), would end the programs on such a kernel: the ENOSYS
        # leg would fail, and the floor moves.
        floor, calls = linux_floor.kernel_floor(self.programs())
        self.assertEqual(set(calls) - linux_floor.WITH_FALLBACK, set(),
                         f"newer system calls without a fallback: {calls}")
        self.assertEqual(floor, linux_floor.KERNEL_FLOOR)

    def test_shipped_programs_run_on_the_oldest_c_library_in_service(self):
        # The shipped programs are those built against the build root; a
        # build by this machine's compiler needs this machine's C library.
        compiler = release.cache_settings(BUILD)["CMAKE_CXX_COMPILER"]
        if release.root_of(compiler) is None:
            self.skipTest(f"{compiler} is not a build root's: these programs "
                          "are not the shipped ones")
        glibc, symbols = linux_floor.glibc_floor(self.programs())
        self.assertLessEqual(glibc, linux_floor.OLDEST_GLIBC,
                             f"GLIBC_{linux_floor.text(glibc)} needed by "
                             f"{', '.join(symbols)}")


if __name__ == "__main__":
    unittest.main()

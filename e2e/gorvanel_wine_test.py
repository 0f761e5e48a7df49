#!/usr/bin/env python3
"""gorvanel.exe under Wine, end to end: the registry imported by regedit and
a stub java.exe that records the command line it was started with.

    python3 e2e/gorvanel_wine_test.py [--build-dir build/windows-i686] [-v]
"""

import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import launcher_lifecycle  # noqa: E402
import wine_prefix  # noqa: E402

BUILD = harness.build_dir("windows-i686")
PREFIX = wine_prefix.WinePrefix.of_build(BUILD)
SEP = "\\"

JAVA = r"C:\Svc\JRE6\bin\java.exe"

# The C runtime writes standard output in text mode: each "\n" that
# gorvanel prints leaves the program as "\r\n" when its output goes to a
# file or a pipe, as here. Wine adds no translation of its own.
USAGE = (b"Usage: gorvanel <opt> [parameters....]\r\n"
         b"  add information     : gorvanel -a <key> <parm1> [parm2] [parm3]"
         b" [parm4]\r\n"
         b"  show one information: gorvanel -l <key>\r\n"
         b"  show all information: gorvanel -l\r\n"
         b"  delete information  : gorvanel -d <key>\r\n")
PARAMETER_ERROR = b"pemra1004 parameter error\r\n"


def execution_error(code):
    return (b"pemra1007 command execution is failed (internal error "
            + code.encode() + b")\r\n")


setUpModule, tearDownModule = PREFIX.fixtures()


class GorvanelWineCase(harness.LauncherChecks, unittest.TestCase):
    """The sample installation: C:\\Svc\\Info, D:\\InfoData for both the
    configuration and the variable data, C:\\Svc\\JRE6 holding the stub as
    bin\\java.exe. Drive D: is a fresh host directory, which also takes the
    stub's record."""

    @classmethod
    def setUpClass(cls):
        cls.gorvanel = harness.built_file(BUILD, "bin/gorvanel.exe")
        cls.stub = harness.built_file(BUILD, "e2e/java.exe")

    def setUp(self):
        self.root = PREFIX.fresh_drive(self, "D", "gorvanel-wine-")
        svc = PREFIX.path / "drive_c" / "Svc"
        self.addCleanup(shutil.rmtree, svc, ignore_errors=True)
        self.java = harness.install_stub_java(self.stub, svc / "JRE6",
                                              windows=True)
        self.record = self.root / "record"
        self.import_registry()

    def import_registry(self, provider=True, site=True, jre=r"C:\Svc\JRE6",
                        opt=r"C:\Svc\Info", data=r"D:\InfoData",
                        unicode=False):
        """Replaces everything below the vendor key by the sample's values
        (without the provider or the site key when told so), from a
        version 5 export file when unicode is set."""
        keys = {}
        if provider:
            keys[harness.PROVIDER_KEY] = {
                "optPathName": opt, "etcPathName": data, "varPathName": data}
        if site:
            keys[harness.SITE_KEY] = {"jrePathName": jre}
        reg = harness.write_registry(self.root / "sample.reg", keys,
                                     delete_keys=[harness.VENDOR_KEY],
                                     unicode=unicode)
        PREFIX.import_registry(reg)

    def run_gorvanel(self, *args, env=None):
        full_env = harness.stub_environment(r"D:\record")
        full_env.update(env or {})
        result = PREFIX.wine([self.gorvanel] + list(args), env=full_env)
        return result, harness.read_records(self.record)

    def assertLaunched(self, outcome, args, status=0, stdout=b""):
        """java.exe ran once with the sample's vector and the arguments."""
        return self.assertStartedOnce(outcome, harness.gorvanel_java_argv(
            SEP, JAVA, r"C:\Svc\Info", r"D:\InfoData", r"D:\InfoData", args),
            status, stdout)


class SampleInstallationTest(GorvanelWineCase):
    def test_java_gets_the_documented_command_line(self):
        record = self.assertLaunched(
            self.run_gorvanel("-a", "node01", "alpha", "beta gamma"),
            args=["-a", "node01", "alpha", "beta gamma"])
        self.assertEqual(
            record.text_cmdline(),
            r'"C:\Svc\JRE6\bin\java.exe" "-Dqrvex.optdir=C:\Svc\Info"'
            r' "-Dqrvex.etcdir=D:\InfoData\etc"'
            r' "-Dqrvex.vardir=D:\InfoData\var" "-classpath"'
            r' "C:\Svc\Info\java\archive\gorvanel.jar"'
            r' "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd"'
            r' "-a" "node01" "alpha" "beta gamma"')

    def test_every_item_arrives_whole(self):
        # An installer's directory with a final backslash, and arguments
        # that end with backslashes or hold quotes: java.exe's C runtime
        # splits the line back into exactly these items.
        opt = "C:\\acc\\Inst Opt\\"
        self.import_registry(opt=opt)
        args = ["end\\", "C:\\dir\\", "next", "two\\\\", 'say "hi"', ""]
        self.assertStartedOnce(
            self.run_gorvanel(*args), harness.gorvanel_java_argv(
                SEP, JAVA, opt, r"D:\InfoData", r"D:\InfoData", args))

    def test_line_that_escaping_takes_past_its_limit_is_refused(self):
        self.import_registry(opt="C:\\" + "o" * 230,
                             data="D:\\" + "d" * 256)
        self.assertRefused(self.run_gorvanel(*['"' * 255] * 6),
                           PARAMETER_ERROR)


class DoubleByteCodePageTest(wine_prefix.JapaneseCodePage,
                             GorvanelWineCase):
    """Code page 932, in which the second byte of ソ, 表 and 能 is 0x5C,
    the byte of a backslash."""

    prefix = PREFIX

    def test_items_that_end_in_a_double_byte_character_arrive_whole(self):
        opt = r"C:\Svc\機能"
        self.import_registry(opt=opt, unicode=True)
        args = ["ソ", "表", "aソ", "x", "能"]
        result, records = self.run_gorvanel(*args, env=self.japanese)
        self.assertEqual(result.status, 0, result.describe())
        self.assertEqual(len(records), 1, "the Java program should run once")
        fixed = harness.gorvanel_java_argv(SEP, JAVA, opt, r"D:\InfoData",
                                           r"D:\InfoData")
        self.assertEqual(records[0].argv,
                         [item.encode("cp932") for item in fixed]
                         + self.direct_arguments(self.java, args))


class ExitCodeTest(GorvanelWineCase):
    def run_with_exit(self, code):
        return self.run_gorvanel("-l", env={"STUB_JAVA_EXIT": str(code)})

    def test_exit_code_mapping(self):
        # 4294967295 leaves java.exe through ExitProcess as 0xFFFFFFFF.
        cases = {0: (0, b""), 1: (1, b""),
                 2: (1, execution_error("EXE006:2")),
                 4294967295: (1, execution_error("EXE006:-1"))}
        for code, (status, stdout) in cases.items():
            with self.subTest(code=code):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(self.run_with_exit(code), args=["-l"],
                                    status=status, stdout=stdout)

    def test_missing_java_exe_is_exe005(self):
        self.java.unlink()
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE005"))


class RefusalTest(GorvanelWineCase):
    def test_usage_text_and_parameter_error(self):
        self.assertRefused(self.run_gorvanel(), USAGE)
        self.assertRefused(self.run_gorvanel(*"1234567"), PARAMETER_ERROR)
        self.assertRefused(self.run_gorvanel("k" * 256), PARAMETER_ERROR)

    def test_java_runtime_that_could_end_its_quoting_is_missing(self):
        # Unchecked, the line's first item was "C:\evil" and C:\evil.exe ran.
        evil = PREFIX.path / "drive_c" / "evil.exe"
        shutil.copy2(self.stub, evil)
        self.addCleanup(evil.unlink)
        self.import_registry(jre=r'C:\evil" "x')
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE004"))

    def test_missing_keys(self):
        self.import_registry(provider=False)
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE001"))
        self.import_registry(site=False)
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE004"))


class JobTest(launcher_lifecycle.WineJobCases, GorvanelWineCase):
    prefix = PREFIX

    def launcher_args(self, marker):
        return [self.gorvanel, "-l", marker]


if __name__ == "__main__":
    unittest.main()

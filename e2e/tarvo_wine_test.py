#!/usr/bin/env python3
"""tarvo.exe under Wine, end to end: the registry imported by regedit, the
services database of the prefix, the real command interpreter and a stub
java.exe that records how it was started.

    python3 e2e/tarvo_wine_test.py [--build-dir build/windows-i686] [-v]
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


setUpModule, tearDownModule = PREFIX.fixtures()


class TarvoWineCase(harness.LauncherChecks, unittest.TestCase):
    """The sample installation: drive D: is a fresh host directory holding
    D:\\Mgr Opt\\bin\\tarvo.exe with a tarvo.ini naming D:\\Mgr Jre, and a
    registry naming D:\\Mgr Opt, D:\\Mgr Etc, D:\\Mgr Var and
    D:\\Registry Jre; java.exe is the stub in both."""

    @classmethod
    def setUpClass(cls):
        cls.tarvo = harness.built_file(BUILD, "bin/tarvo.exe")
        cls.stub = harness.built_file(BUILD, "e2e/java.exe")

    def setUp(self):
        self.root = PREFIX.fresh_drive(self, "D", "tarvo-wine-")
        self.addCleanup(PREFIX.restore_services)
        PREFIX.restore_services()
        for jre in ("Mgr Jre", "Registry Jre"):
            harness.install_stub_java(self.stub, self.root / jre, windows=True)
        program_dir = self.root / "Mgr Opt" / "bin"
        program_dir.mkdir(parents=True)
        shutil.copy2(self.tarvo, program_dir / "tarvo.exe")
        self.ini = program_dir / "tarvo.ini"
        self.ini.write_bytes(b"jre= D:\\Mgr Jre\r\n")
        self.record = self.root / "record"
        self.import_site(r"D:\Mgr Opt", r"D:\Mgr Etc", r"D:\Mgr Var",
                         r"D:\Registry Jre")

    def import_site(self, opt, etc, var, jre=None, extra_keys=None,
                    unicode=False):
        """Replaces everything below the vendor key by these values, from a
        version 5 export file when unicode is set."""
        keys = {harness.SITE_KEY: harness.site_values(opt, etc, var, jre)}
        keys.update(extra_keys or {})
        reg = harness.write_registry(self.root / "site.reg", keys,
                                     delete_keys=[harness.VENDOR_KEY],
                                     unicode=unicode)
        PREFIX.import_registry(reg)

    def run_tarvo(self, *args, env=None):
        full_env = harness.stub_environment(r"D:\record")
        full_env.update(env or {})
        result = PREFIX.wine([r"D:\Mgr Opt\bin\tarvo.exe"] + list(args),
                             env=full_env)
        return result, harness.read_records(self.record)

    def expected_argv(self, args=(), jre=r"D:\Mgr Jre", rmiport=0,
                      nfport=23456):
        return harness.tarvo_java_argv(
            SEP, jre + r"\bin\java", r"D:\Mgr Opt", r"D:\Mgr Etc",
            r"D:\Mgr Var", rmiport, nfport, args)

    def assertLaunched(self, outcome, args=(), status=0, **kw):
        return self.assertStartedOnce(
            outcome, self.expected_argv(args, **kw), status)


# The command line for the sample installation, as handed to the command
# interpreter by tarvo started as D:\Mgr Opt\bin\tarvo.exe list "pool 1".
SAMPLE_LINE = (
    r'""D:\Mgr Jre\bin\java" -Djava.library.path="D:\Mgr Opt\KVXPdkmgr\lib"'
    r' -Dpellucor.optdir="D:\Mgr Opt\KVXPdkmgr"'
    r' -Dpellucor.etcdir="D:\Mgr Etc\opt\KVXPdkmgr\current"'
    r' -Dpellucor.vardir="D:\Mgr Var\opt\KVXPdkmgr\current"'
    r' -Dpellucor.rmiport=20001 -Dpellucor.nfport=23456'
    r' com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo'
    r' "list" "pool 1""')


class SampleInstallationTest(TarvoWineCase):
    def setUp(self):
        super().setUp()
        # No nfport entry; tovrexm on 20001 over tcp.
        PREFIX.set_services("\ntovrexm\t20001/tcp\n")

    def test_interpreter_gets_the_documented_line(self):
        # A recording stand-in as COMSPEC shows what system() handed over.
        shutil.copy2(self.stub, self.root / "comspec.exe")
        env_key = r"HKEY_CURRENT_USER\Environment"
        self.addCleanup(self.import_user_comspec, harness.DELETE)
        self.import_user_comspec(r"D:\comspec.exe")
        result, records = self.run_tarvo("list", "pool 1")
        self.assertEqual(result.status, 0, result.describe())
        self.assertEqual(len(records), 1, f"{env_key} COMSPEC was not run")
        line = records[0].text_cmdline()
        self.assertTrue(line.endswith(" /c " + SAMPLE_LINE),
                        f"interpreter started as {line!r}")

    def import_user_comspec(self, value):
        reg = harness.write_registry(
            self.root / "comspec.reg",
            {r"HKEY_CURRENT_USER\Environment": {"COMSPEC": value}})
        PREFIX.import_registry(reg)

    def test_java_runs_with_the_documented_arguments_and_environment(self):
        record = self.assertLaunched(self.run_tarvo("list", "pool 1"),
                                     args=["list", "pool 1"], rmiport=20001)
        # The interpreter dropped the first and the last quote.
        self.assertEqual(record.text_cmdline(), SAMPLE_LINE[1:-1])
        self.assertEqual(record.text_env("CLASSPATH"),
                         r"D:\Mgr Opt\KVXPdkmgr\java\archive\tarvo.jar")
        self.assertEqual(record.text_env("LIB"), r"D:\Mgr Opt\KVXPdkmgr\lib")


class ExitStatusTest(harness.TarvoExitStatusCases, TarvoWineCase):
    pass


class SettingsTest(TarvoWineCase):
    def test_without_ini_the_registry_names_the_java_runtime(self):
        self.ini.unlink()
        self.assertLaunched(self.run_tarvo("a"), args=["a"],
                            jre=r"D:\Registry Jre")

    def test_missing_directory_value_stops_before_java(self):
        self.import_site(None, r"D:\Mgr Etc", r"D:\Mgr Var")
        self.assertRefused(self.run_tarvo("a"))

    def test_value_that_could_end_its_quoting_runs_nothing(self):
        marker = self.root / "pwned"
        breaking = r'D:\x" & echo pwned > D:\pwned & "'
        self.ini.write_bytes(f"jre={breaking}\r\n".encode())
        self.assertRefused(self.run_tarvo("a"))
        self.ini.unlink()
        self.import_site(r"D:\Mgr Opt", r"D:\Mgr Etc", r"D:\Mgr Var", breaking)
        self.assertRefused(self.run_tarvo("a"))
        self.import_site(breaking, r"D:\Mgr Etc", r"D:\Mgr Var",
                         r"D:\Registry Jre")
        self.assertRefused(self.run_tarvo("a"))
        self.assertFalse(marker.exists(), "the interpreter ran a value")

    def test_ports_come_from_the_windows_services_database(self):
        # (Wine's sockets find no service by an alias, so none is used.)
        PREFIX.set_services("\nnfport\t65535/tcp\ntovrexm\t20002/udp\n")
        self.assertLaunched(self.run_tarvo(), rmiport=0, nfport=65535)


class ArgumentTest(TarvoWineCase):
    def test_quoted_arguments_reach_java_unchanged(self):
        marker = self.root / "marker"
        args = ["", "with blank", "a & echo pwned > " + r"D:\marker",
                "a | echo pwned", r"C:\dir" + "\\", "two\\\\", "end\\"]
        self.assertLaunched(self.run_tarvo(*args), args=args)
        self.assertFalse(marker.exists(), "the interpreter ran an argument")

    def test_argument_that_could_end_its_quoting_is_refused(self):
        marker = self.root / "marker"
        for arg in ['x" & echo pwned > ' + wine_prefix.windows_path(marker) + ' & "',
                    '"', "a\nb", "a\rb"]:
            with self.subTest(arg=arg):
                self.assertRefused(self.run_tarvo("list", arg))
        self.assertFalse(marker.exists(), "the interpreter ran an argument")


class DoubleByteCodePageTest(wine_prefix.JapaneseCodePage, TarvoWineCase):
    """Code page 932, in which the second byte of ソ, 表 and 能 is 0x5C,
    the byte of a backslash."""

    prefix = PREFIX

    def test_arguments_that_end_in_a_double_byte_character_arrive_whole(self):
        opt = r"D:\Mgr 機能"
        self.import_site(opt, r"D:\Mgr Etc", r"D:\Mgr Var", unicode=True)
        args = ["ソ", "表", "aソ", "x", "能"]
        result, records = self.run_tarvo(*args, env=self.japanese)
        self.assertEqual(result.status, 0, result.describe())
        self.assertEqual(len(records), 1, "the Java program should run once")
        fixed = harness.tarvo_java_argv(SEP, r"D:\Mgr Jre\bin\java", opt,
                                        r"D:\Mgr Etc", r"D:\Mgr Var", 0, 23456)
        self.assertEqual(records[0].argv,
                         [item.encode("cp932") for item in fixed]
                         + self.direct_arguments(r"D:\Mgr Jre\bin\java.exe",
                                                 args))


class JobTest(launcher_lifecycle.WineJobCases, TarvoWineCase):
    prefix = PREFIX

    def launcher_args(self, marker):
        return [r"D:\Mgr Opt\bin\tarvo.exe", "wait", marker]


if __name__ == "__main__":
    unittest.main()

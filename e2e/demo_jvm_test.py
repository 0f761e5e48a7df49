#!/usr/bin/env python3
"""tarvo and gorvanel built for Linux against this machine's Java VM and
the stand-in Java classes of demo/ (tarvo.jar and gorvanel.jar, built in
<build>/demo): what the VM receives, and the information records' round
trip through gorvanel.

    python3 e2e/demo_jvm_test.py [--build-dir build/native] [-v] [Class]
"""

import os
import shutil
import sys
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

BUILD = harness.build_dir("native")

JAVA = shutil.which("java")
NO_JDK = (None if JAVA and shutil.which("javac") else
          "no JDK here (java and javac): tools/setup-deps.sh installs "
          "default-jdk-headless")

GORVANEL_CLASS = "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd"
RECORDS_HEADER = "gorvanel information records 1"


def java_home():
    """The runtime `java` belongs to: its real path less bin/java."""
    return Path(os.path.realpath(JAVA)).parent.parent


def in_administrators():
    """Whether gorvanel admits us: group id 0 stands for Administrators."""
    return os.getegid() == 0 or 0 in os.getgroups()


class JvmCase(unittest.TestCase):
    """A fresh installation directory (with blanks in its name) and the
    registry file that describes it."""

    @classmethod
    def setUpClass(cls):
        if NO_JDK:
            raise unittest.SkipTest(NO_JDK)
        cls.jre = java_home()

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="jvm e2e "))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.registry = self.root / "registry.reg"

    def install_jar(self, name, directory):
        directory.mkdir(parents=True, exist_ok=True)
        shutil.copy2(harness.built_file(BUILD, f"demo/{name}"),
                     directory / name)

    def run_program(self, argv, env=None):
        full_env = harness.clean_environment(TALVANE_REGISTRY=self.registry)
        full_env.pop("GORVANEL_TRACE", None)
        full_env.update(env or {})
        return harness.run(argv, env=full_env, cwd=self.root)

    def assertLines(self, data, expected, result):
        self.assertEqual(data.decode("utf-8").splitlines(), expected,
                         result.describe())


class TarvoJvmTest(JvmCase):
    """tarvo in <opt>/bin beside a tarvo.ini naming the real runtime."""

    def setUp(self):
        super().setUp()
        self.opt = self.root / "Mgr Opt"
        self.etc = self.root / "Mgr Etc"
        self.var = self.root / "Mgr Var"
        self.install_jar("tarvo.jar",
                         self.opt / harness.PACKAGE / "java" / "archive")
        self.program = self.opt / "bin" / "tarvo"
        self.program.parent.mkdir(parents=True)
        self.program.symlink_to(harness.built_file(BUILD, "bin/tarvo"))
        (self.program.parent / "tarvo.ini").write_text(f"jre={self.jre}\n")
        harness.write_registry(self.registry, {harness.SITE_KEY: {
            k: str(v) for k, v in
            harness.site_values(self.opt, self.etc, self.var).items()}})

    def test_vm_gets_the_properties_environment_and_arguments(self):
        # Blanks, an empty argument, a tab and trailing backslashes must
        # all arrive whole; the caller's CLASSPATH must not be what the VM
        # searches.
        args = ["list", "pool 1", "", "tab\there", "C:\\dir\\", "x\\\\",
                "it's"]
        result = self.run_program(
            [self.program] + args,
            env={"CLASSPATH": "/nowhere/other.jar", "LIB": "/nowhere"})
        self.assertEqual(result.status, 0, result.describe())
        package = self.opt / harness.PACKAGE
        expected = [
            f"pellucor.etcdir={self.etc}/opt/{harness.PACKAGE}/current",
            f"pellucor.nfport={harness.host_port('nfport', 23456)}",
            f"pellucor.optdir={package}",
            f"pellucor.rmiport={harness.host_port('tovrexm', 0)}",
            f"pellucor.vardir={self.var}/opt/{harness.PACKAGE}/current",
            f"java.library.path={package}/lib",
            f"CLASSPATH={package}/java/archive/tarvo.jar",
            f"LIB={package}/lib",
            f"argument count={len(args)}",
        ] + [f"argument[{i}]={a}" for i, a in enumerate(args)]
        self.assertLines(result.stdout, expected, result)
        self.assertEqual(result.stderr, b"")


@unittest.skipUnless(in_administrators(),
                     "gorvanel admits only members of group id 0 (the "
                     "Administrators group's stand-in), and this user is not")
class GorvanelCase(JvmCase):
    """gorvanel on the provider key's directories, with the real runtime
    named by the site key."""

    def setUp(self):
        super().setUp()
        self.opt = self.root / "Info Opt"
        self.etc = self.root / "Info Etc"
        self.var = self.root / "Info Var"
        self.install_jar("gorvanel.jar", self.opt / "java" / "archive")
        self.program = harness.built_file(BUILD, "bin/gorvanel")
        harness.write_registry(self.registry, {
            harness.SITE_KEY: {"jrePathName": str(self.jre)},
            harness.PROVIDER_KEY: {"optPathName": str(self.opt),
                                   "etcPathName": str(self.etc),
                                   "varPathName": str(self.var)}})
        self.records_dir = self.var / "var" / "gorvanel"
        self.records_file = self.records_dir / "records.txt"

    def gorvanel(self, *args, env=None):
        return self.run_program([self.program] + list(args), env=env)

    def assertDone(self, result, output=()):
        self.assertEqual(result.status, 0, result.describe())
        self.assertLines(result.stdout, list(output), result)
        self.assertEqual(result.stderr, b"")

    def assertRefused(self, result, *words):
        """Status 1 and one line on standard output naming the words."""
        self.assertEqual(result.status, 1, result.describe())
        lines = result.stdout.decode("utf-8").splitlines()
        self.assertEqual(len(lines), 1, result.describe())
        for word in words:
            self.assertIn(word, lines[0])
        self.assertEqual(result.stderr, b"")

    def assertNoLeftovers(self):
        self.assertEqual(sorted(p.name for p in self.records_dir.iterdir()),
                         ["records.lock", "records.txt"])


class GorvanelLaunchTest(GorvanelCase):
    def test_vm_gets_the_properties_and_arguments(self):
        args = ["-a", "key one", "", "back\\slash", "tab\there", "it's"]
        result = self.gorvanel(*args, env={"GORVANEL_TRACE": "1"})
        self.assertEqual(result.status, 0, result.describe())
        self.assertEqual(result.stdout, b"")
        self.assertLines(result.stderr, [
            f"java.class.path={self.opt}/java/archive/gorvanel.jar",
            f"qrvex.etcdir={self.etc}/etc",
            f"qrvex.optdir={self.opt}",
            f"qrvex.vardir={self.var}/var",
            f"argument count={len(args)}",
        ] + [f"argument[{i}]={a}" for i, a in enumerate(args)], result)
        # What the VM got is what it stored, under the vardir it was given.
        self.assertDone(self.gorvanel("-l", "key one"),
                        ["key one\t\tback\\\\slash\ttab\\there\tit's"])
        self.assertTrue(self.records_file.is_file())


class GorvanelRecordsTest(GorvanelCase):
    def test_add_show_delete_round_trip(self):
        self.assertDone(self.gorvanel("-a", "node01", "alpha", "beta gamma"))
        self.assertDone(self.gorvanel("-a", "array7", "p1", "p2", "p3", "p4"))
        self.assertNoLeftovers()
        self.assertDone(self.gorvanel("-l", "node01"),
                        ["node01\talpha\tbeta gamma"])
        self.assertDone(self.gorvanel("-l"), [
            "array7\tp1\tp2\tp3\tp4", "node01\talpha\tbeta gamma"])
        self.assertDone(self.gorvanel("-d", "node01"))
        self.assertNoLeftovers()
        self.assertRefused(self.gorvanel("-l", "node01"), "'node01'")
        self.assertDone(self.gorvanel("-l"), ["array7\tp1\tp2\tp3\tp4"])
        self.assertEqual(self.records_file.read_text().splitlines(),
                         [RECORDS_HEADER, "array7\tp1\tp2\tp3\tp4"])

    def test_nothing_added_shows_nothing(self):
        self.assertDone(self.gorvanel("-l"))
        self.assertRefused(self.gorvanel("-l", "node01"), "'node01'")

    def test_line_breaks_and_tabs_stay_inside_their_record(self):
        self.assertDone(self.gorvanel("-a", "k", "two\nlines", "a\tb", "c\\d"))
        self.assertDone(self.gorvanel("-a", "l", "plain"))
        self.assertDone(self.gorvanel("-l"), [
            "k\ttwo\\nlines\ta\\tb\tc\\\\d", "l\tplain"])
        self.assertEqual(len(self.records_file.read_text().splitlines()), 3)

    def test_refusals_change_nothing(self):
        self.assertDone(self.gorvanel("-a", "node01", "alpha"))
        before = self.records_file.read_bytes()
        cases = [
            (("-l", "ghost"), ["'ghost'"]),
            (("-d", "ghost"), ["'ghost'"]),
            (("-a", "node01", "again"), ["'node01'", "exists"]),
            (("-a", "node02"), ["missing"]),
            (("-a", "", "alpha"), ["empty"]),
            (("-d",), ["missing"]),
            (("-l", "node01", "extra"), ["too many"]),
            (("-x", "node01"), ["'-x'"]),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                self.assertRefused(self.gorvanel(*args), *words)
        self.assertEqual(self.records_file.read_bytes(), before)
        self.assertNoLeftovers()

    def test_a_write_left_half_done_by_a_crash_is_replaced(self):
        self.assertDone(self.gorvanel("-a", "node01", "alpha"))
        (self.records_dir / "records.txt.new").write_text("torn\trecord")
        self.assertDone(self.gorvanel("-l"), ["node01\talpha"])
        self.assertDone(self.gorvanel("-a", "node02", "beta"))
        self.assertNoLeftovers()
        self.assertDone(self.gorvanel("-l"), ["node01\talpha", "node02\tbeta"])

    def test_a_damaged_file_is_refused_not_overwritten(self):
        self.records_dir.mkdir(parents=True)
        self.records_file.write_text("not a records file\n")
        self.assertRefused(self.gorvanel("-l"), "damaged")
        self.assertRefused(self.gorvanel("-a", "node01", "alpha"), "damaged")
        self.assertEqual(self.records_file.read_text(), "not a records file\n")

    def test_adds_at_the_same_time_all_stay(self):
        keys = [f"node{n:02}" for n in range(6)]
        with ThreadPoolExecutor(len(keys)) as pool:
            results = list(pool.map(
                lambda key: self.gorvanel("-a", key, "v"), keys))
        for result in results:
            self.assertDone(result)
        self.assertDone(self.gorvanel("-l"), [f"{key}\tv" for key in keys])
        self.assertNoLeftovers()


if __name__ == "__main__":
    unittest.main()

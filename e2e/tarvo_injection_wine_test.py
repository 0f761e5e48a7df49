#!/usr/bin/env python3
"""tarvo.exe under Wine against a corpus of injection attempts: arguments
made of the command interpreter's special characters around a command that
would leave a marker file, each handed by tarvo to Wine's real cmd.exe on
its way to a stub java.exe. None may run anything. An argument with a
double quote, a CR or a LF is refused before anything starts; every other
argument reaches java.exe as one argument, unchanged unless it holds a %.

    python3 e2e/tarvo_injection_wine_test.py [--build-dir build/windows-i686] [-v]
"""

import itertools
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import wine_prefix  # noqa: E402

BUILD = harness.build_dir("windows-i686")
PREFIX = wine_prefix.WinePrefix.of_build(BUILD)

# The interpreter's special characters, a backslash (which could escape a
# closing quote) and the line breaks that would end the command line.
PIECES = ['"', "&", "|", "<", ">", "^", "%", "!", "(", ")", "\\", "\r", "\n"]
# Each piece, and each pair of pieces, opens or closes an attempt.
BREAKERS = PIECES + [a + b for a, b in itertools.product(PIECES, PIECES)]
# What an attempt tries to run: each leaves a file or a directory.
COMMANDS = [r"echo pwned > D:\m\{n}", r"type nul > D:\m\{n}",
            r"mkdir D:\m\{n}", r"copy nul D:\m\{n}"]

# A variable of the environment tarvo runs in, and one that is not set.
VARIABLE, VALUE = "INJECTION_PROBE", "probe value"
UNSET = "INJECTION_UNSET"

# Arguments per run for those that must arrive unchanged: a run costs a
# Wine start, and a batch also shows that neighbours leave each other be.
BATCH = 20


def corpus():
    """Each breaker before a command, and before a command with a second
    breaker after it, with and without blanks between; then the two
    variables in the same frames."""
    attempts = []
    for i, breaker in enumerate(BREAKERS):
        closer = BREAKERS[(37 * i + 11) % len(BREAKERS)]
        blank = " " if i % 2 else ""
        attempts.append(f"x{breaker}{blank}{COMMANDS[i % 4]}")
        attempts.append(f"x{breaker}{blank}{COMMANDS[(i + 1) % 4]}"
                        f"{blank}{closer}")
    for i, name in enumerate([VARIABLE, VARIABLE.lower(), UNSET]):
        attempts += [f"%{name}%", f"%{name}%&{COMMANDS[i]}",
                     f"&%{name}%& {COMMANDS[i + 1]} &%{name}%"]
    return [a.format(n=n) for n, a in enumerate(attempts)]


def refused(argument):
    return any(c in argument for c in '"\r\n')


setUpModule, tearDownModule = PREFIX.fixtures()


class InjectionCase(unittest.TestCase):
    """Drive D: is a fresh directory with D:\\Mgr Opt\\bin\\tarvo.exe, a
    tarvo.ini naming D:\\Mgr Jre, the stub there as java.exe and the empty
    directory D:\\m for the markers; tarvo runs in the empty directory
    D:\\work."""

    @classmethod
    def setUpClass(cls):
        cls.tarvo = harness.built_file(BUILD, "bin/tarvo.exe")
        cls.stub = harness.built_file(BUILD, "e2e/java.exe")
        cls.corpus = corpus()

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="tarvo-injection-"))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        PREFIX.map_drive("D", self.root)
        self.addCleanup(PREFIX.unmap_drive, "D")
        harness.install_stub_java(self.stub, self.root / "Mgr Jre",
                                  windows=True)
        program_dir = self.root / "Mgr Opt" / "bin"
        program_dir.mkdir(parents=True)
        shutil.copy2(self.tarvo, program_dir / "tarvo.exe")
        (program_dir / "tarvo.ini").write_bytes(b"jre=D:\\Mgr Jre\r\n")
        (self.root / "m").mkdir()
        self.work = self.root / "work"
        self.work.mkdir()
        self.record = self.root / "record"
        keys = {harness.SITE_KEY: harness.site_values(
            r"D:\Mgr Opt", r"D:\Mgr Etc", r"D:\Mgr Var")}
        PREFIX.import_registry(harness.write_registry(
            self.root / "site.reg", keys, delete_keys=[harness.VENDOR_KEY]))
        self.files = self.listing()

    def listing(self):
        return {str(p.relative_to(self.root)) for p in self.root.rglob("*")}

    def run_tarvo(self, args):
        """Runs tarvo with args; its result and the stub's records. Fails
        when anything but the record appeared on drive D:, which is then
        removed so that the next run is judged on its own."""
        env = harness.stub_environment(r"D:\record")
        env[VARIABLE] = VALUE
        result = PREFIX.wine([r"D:\Mgr Opt\bin\tarvo.exe"] + list(args),
                             env=env, cwd=self.work)
        records = harness.read_records(self.record)
        self.record.unlink(missing_ok=True)
        appeared = sorted(self.listing() - self.files)
        for name in reversed(appeared):
            path = self.root / name
            if path.is_dir():
                shutil.rmtree(path)
            else:
                path.unlink(missing_ok=True)
        self.assertEqual(appeared, [], f"an argument ran a command: {args!r}")
        return result, records

    def assertPassedOn(self, args, outcome):
        """One start of java.exe with as many arguments as tarvo got."""
        result, records = outcome
        self.assertEqual(result.status, 0, result.describe())
        self.assertEqual((result.stdout, result.stderr), (b"", b""))
        self.assertEqual(len(records), 1, "java.exe should run once")
        arrived = records[0].text_argv()[8:]
        self.assertEqual(len(arrived), len(args),
                         f"arguments split or merged: {arrived!r}")
        return arrived


class RefusalTest(InjectionCase):
    def test_quote_or_line_break_refuses_the_run(self):
        attempts = [a for a in self.corpus if refused(a)]
        self.assertGreater(len(attempts), 100)
        for attempt in attempts:
            with self.subTest(attempt=attempt):
                result, records = self.run_tarvo(["list", attempt])
                self.assertEqual(result.status, 1, result.describe())
                self.assertEqual(records, [], "nothing should have started")
                self.assertEqual((result.stdout, result.stderr), (b"", b""))


class PassedOnTest(InjectionCase):
    def test_arguments_without_percent_arrive_unchanged(self):
        attempts = [a for a in self.corpus
                    if not refused(a) and "%" not in a]
        self.assertGreater(len(attempts), 100)
        for start in range(0, len(attempts), BATCH):
            batch = attempts[start:start + BATCH]
            with self.subTest(batch=start // BATCH):
                arrived = self.assertPassedOn(batch, self.run_tarvo(batch))
                for sent, got in zip(batch, arrived):
                    self.assertEqual(got, sent)

    def test_arguments_with_percent_arrive_whole(self):
        # cmd replaces %NAME% of an existing variable even inside quotes
        # (and Wine's cmd pairs the signs its own way), so what arrives is
        # not asserted unchanged: one argument for each, nothing run. One
        # run each, so that no sign pairs with another argument's.
        attempts = [a for a in self.corpus if not refused(a) and "%" in a]
        self.assertGreater(len(attempts), 20)
        for attempt in attempts:
            with self.subTest(attempt=attempt):
                self.assertPassedOn([attempt], self.run_tarvo([attempt]))

    def test_only_an_existing_variable_is_expanded(self):
        sent = [f"%{VARIABLE}%", f"%{VARIABLE.lower()}%", f"%{UNSET}%",
                f"!{VARIABLE}!"]
        arrived = self.assertPassedOn(sent, self.run_tarvo(sent))
        self.assertEqual(arrived, [VALUE, VALUE, sent[2], sent[3]])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""gorvanel built for Linux, end to end: a registry export file, the gid-0
group standing for the Administrators, and a stub Java VM that records how
it was started.

    python3 e2e/gorvanel_native_test.py [--build-dir build/native] [-v] [Class]
"""

import grp
import os
import resource
import shutil
import signal
import stat
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import callers  # noqa: E402
import changing_files  # noqa: E402
import launcher_lifecycle  # noqa: E402

BUILD = harness.build_dir("native")
SEP = "/"

USAGE = (b"Usage: gorvanel <opt> [parameters....]\n"
         b"  add information     : gorvanel -a <key> <parm1> [parm2] [parm3]"
         b" [parm4]\n"
         b"  show one information: gorvanel -l <key>\n"
         b"  show all information: gorvanel -l\n"
         b"  delete information  : gorvanel -d <key>\n")
AUTHORITY_ERROR = b"pemra1001 user authority error\n"
PARAMETER_ERROR = b"pemra1004 parameter error\n"


def execution_error(code):
    return (b"pemra1007 command execution is failed (internal error "
            + code.encode() + b")\n")


def admitted_here():
    """gorvanel admits only members of the gid-0 group."""
    return os.getegid() == 0 or 0 in os.getgroups()


class GorvanelCase(harness.LauncherChecks, unittest.TestCase):
    """An installation in a fresh directory (with blanks in its name): the
    provider key names <root>/Info Opt, <root>/Info Etc and <root>/Info Var,
    the site key <root>/Info Jre, which holds the stub as bin/java."""

    @classmethod
    def setUpClass(cls):
        cls.gorvanel = harness.built_file(BUILD, "bin/gorvanel")
        cls.stub = harness.built_file(BUILD, "e2e/stub_java")
        if not admitted_here():
            raise unittest.SkipTest("the tests must run in the gid-0 group")

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="gorvanel e2e "))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.opt = self.root / "Info Opt"
        self.etc = self.root / "Info Etc"
        self.var = self.root / "Info Var"
        self.jre = self.root / "Info Jre"
        harness.install_stub_java(self.stub, self.jre)
        self.program = self.gorvanel
        self.registry = self.root / "registry.reg"
        self.record = self.root / "record"
        self.write_registry()

    # --- set-up helpers ---

    def write_registry(self, **values):
        """Our four directories; a value given as None is left out, any
        other replaces ours."""
        directories = {"optPathName": self.opt, "etcPathName": self.etc,
                       "varPathName": self.var, "jrePathName": self.jre}
        directories = {k: str(v) for k, v in directories.items()}
        for name, value in values.items():
            if value is None:
                directories.pop(name)
            else:
                directories[name] = value
        site = {}
        if "jrePathName" in directories:
            site["jrePathName"] = directories.pop("jrePathName")
        keys = {harness.PROVIDER_KEY: directories, harness.SITE_KEY: site}
        harness.write_registry(self.registry, keys)

    def run_gorvanel(self, *args, env=None, user=None, mounts=None,
                     wrap=None, timeout=harness.RUN_TIMEOUT, **popen):
        """Runs gorvanel with args (as another user when user gives
        as_user's keywords; with the (source, target) bind mounts of
        mounts; under the command prefix wrap, outside any
        LAUNCHER_WRAPPER); returns its result and the stub's records.
        popen: preexec_fn, pass_fds."""
        full_env = harness.clean_environment(
            TALVANE_REGISTRY=self.registry,
            **harness.stub_environment(self.record))
        full_env.update(env or {})
        outer = None
        if user is not None or mounts or wrap is not None:
            def outer(command):
                if user is not None:
                    command = harness.as_user(command, **user)
                if mounts:
                    command = harness.with_bind_mounts(command, mounts)
                return list(wrap or []) + command
        result = harness.run_launcher([self.program] + list(args),
                                      env=full_env, cwd=self.root, outer=outer,
                                      timeout=timeout, **popen)
        return result, harness.read_records(self.record)

    def expected_argv(self, args=(), java=None, opt=None):
        return harness.gorvanel_java_argv(
            SEP, java or self.jre / "bin" / "java", opt or self.opt,
            self.etc, self.var, args)

    # --- checks ---

    def assertLaunched(self, outcome, args=(), status=0, stdout=b"", **kw):
        """The stub ran once with the expected vector; gorvanel printed
        stdout and nothing on standard error."""
        return self.assertStartedOnce(
            outcome, self.expected_argv(args, **kw), status, stdout)


class ArgumentCountTest(GorvanelCase):
    def test_without_arguments_the_usage_text_is_printed(self):
        self.assertRefused(self.run_gorvanel(), USAGE)

    def test_six_arguments_reach_java_and_seven_are_refused(self):
        six = ["-a", "key", "p1", "p2", "p3", "p4"]
        self.assertLaunched(self.run_gorvanel(*six), args=six)
        self.record.unlink()
        self.assertRefused(self.run_gorvanel(*six, "p5"), PARAMETER_ERROR)

    def test_empty_and_unknown_arguments_are_passed_on(self):
        for args in ([""], ["-x"], ["-l", "", "key"]):
            with self.subTest(args=args):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(self.run_gorvanel(*args), args=args)


class DirectoryTest(GorvanelCase):
    def test_missing_empty_or_unquotable_directory_has_its_code(self):
        # A quote, carriage return or line feed would change how the Java
        # VM's command line is split on Windows: such a value is missing.
        codes = {"optPathName": "EXE001", "etcPathName": "EXE002",
                 "varPathName": "EXE003", "jrePathName": "EXE004"}
        for name, code in codes.items():
            breaking = [harness.Hex(f"{self.root}{c}x".encode() + b"\0", 1)
                        for c in "\r\n"]
            for value in [None, "", f'{self.root}" "x'] + breaking:
                with self.subTest(name=name, value=value):
                    self.record.unlink(missing_ok=True)
                    self.write_registry(**{name: value})
                    self.assertRefused(self.run_gorvanel("-l"),
                                       execution_error(code))

    def test_first_missing_directory_is_the_one_reported(self):
        self.write_registry(etcPathName=None, varPathName=None)
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE002"))
        self.registry = self.root / "no such file.reg"
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE001"))
        # The directories are checked before the arguments' lengths.
        self.assertRefused(self.run_gorvanel("-l", "k" * 256),
                           execution_error("EXE001"))

    def test_registry_that_is_no_file_ends_at_once(self):
        # A device never ends, and a FIFO that nobody writes would keep
        # open() waiting: both are no registry. A FIFO that is written is
        # read.
        unwritten = self.root / "unwritten.fifo"
        os.mkfifo(unwritten)
        for registry in (Path("/dev/zero"), unwritten):
            with self.subTest(registry=str(registry)):
                self.registry = registry
                self.assertRefused(self.run_gorvanel("-l", timeout=30),
                                   execution_error("EXE001"))
        # Blank lines after the header put the keys beyond what the FIFO
        # holds: they are there only once the launcher has read on.
        text = (self.root / "registry.reg").read_bytes().replace(
            b"\r\n", b"\r\n" * 65536, 1)
        with changing_files.fifo_with_writer(self.root / "written.fifo",
                                             text) as fifo:
            self.registry = fifo
            outcome = self.run_gorvanel("-l", timeout=30)
        self.assertLaunched(outcome, args=["-l"])

    def test_longest_directories(self):
        # jrePathName fills its 260 bytes with 259 characters; the jar path
        # "<opt>/java/archive/gorvanel.jar" fits 259 with 233 for <opt>.
        jre = self.root / ("j" * 100)
        jre = jre / ("j" * (259 - len(str(jre)) - 1))
        harness.install_stub_java(self.stub, jre)
        self.write_registry(jrePathName=str(jre))
        self.assertLaunched(self.run_gorvanel("-l"), args=["-l"],
                            java=jre / "bin" / "java")
        self.record.unlink()
        self.write_registry(jrePathName=str(jre) + "j")
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE004"))

        opt = "/" + "o" * 232
        self.write_registry(optPathName=opt)
        self.assertLaunched(self.run_gorvanel("-l"), args=["-l"], opt=opt)
        self.record.unlink()
        # One more and the jar path would not fit: the directory counts as
        # missing rather than naming a cut jar path.
        self.write_registry(optPathName=opt + "o")
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE001"))


class ExitCodeTest(GorvanelCase):
    def run_with_exit(self, status):
        return self.run_gorvanel("-l", env={"STUB_JAVA_EXIT": str(status)})

    def test_exit_codes_0_and_1_are_passed_on_silently(self):
        for status in (0, 1):
            with self.subTest(status=status):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(self.run_with_exit(status), args=["-l"],
                                    status=status)

    def test_other_exit_codes_are_reported(self):
        # A Linux exit status has 8 bits: 255 is the largest code there.
        for status in (2, 255):
            with self.subTest(status=status):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(
                    self.run_with_exit(status), args=["-l"], status=1,
                    stdout=execution_error(f"EXE006:{status}"))

    def test_java_killed_by_a_signal_gives_128_plus_the_signal(self):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=sig.name):
                self.record.unlink(missing_ok=True)
                outcome = self.run_gorvanel(
                    "-l", env={"STUB_JAVA_SIGNAL": str(int(sig))})
                self.assertLaunched(
                    outcome, args=["-l"], status=1,
                    stdout=execution_error(f"EXE006:{128 + int(sig)}"))

    def test_java_that_cannot_be_started(self):
        java = self.jre / "bin" / "java"
        java.chmod(0o644)
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE005"))
        java.unlink()
        self.assertRefused(self.run_gorvanel("-l"), execution_error("EXE005"))


class SignalTest(launcher_lifecycle.SignalCases, GorvanelCase):
    def waiting_run(self):
        env = harness.clean_environment(
            TALVANE_REGISTRY=self.registry,
            **harness.stub_environment(self.record))
        return [self.program, "-l"], env, self.program

    def signalled_outcome(self, sig):
        return 1, execution_error(f"EXE006:{128 + int(sig)}")


class CallerTest(GorvanelCase):
    """Callers as operators' systems have them."""

    def test_caller_ignoring_sigchld_gets_the_java_status(self):
        # Left ignored, the kernel would reap the Java VM by itself: the
        # wait would fail, the code read would be 259 (still active) and
        # the forced end would go to a pid that may be another process's.
        # The VM gets the caller's disposition.
        for status in (0, 1, 2):
            with self.subTest(status=status):
                self.record.unlink(missing_ok=True)
                outcome = self.run_gorvanel(
                    "-l", env={"STUB_JAVA_EXIT": str(status)},
                    preexec_fn=callers.ignoring_child_signal)
                record = self.assertLaunched(
                    outcome, args=["-l"], status=min(status, 1),
                    stdout=execution_error(f"EXE006:{status}")
                    if status > 1 else b"")
                if callers.sigchld_ignored_reaches_java():
                    self.assertIn(signal.SIGCHLD, record.ignored)


class CloseRangeTest(GorvanelCase):
    """close_range refused, as on Linux 5.9 and 5.10 (EINVAL for
    CLOSE_RANGE_CLOEXEC) and under a container's seccomp profile older
    than the call (EPERM): every run ended with EXE005. Linux 3.10, where
    the call is missing, is the ENOSYS leg (seccomp_leg.py)."""

    def test_java_starts_with_only_the_standard_descriptors(self):
        # None: close_range as the kernel gives it.
        for mode in (None, callers.CLOSE_RANGE_EPERM,
                     callers.CLOSE_RANGE_EINVAL):
            with self.subTest(mode=mode):
                wrap = None
                if mode is not None:
                    wrap, why = callers.seccomp_wrapper(BUILD, mode)
                    if wrap is None:
                        callers.skip_unless_ci(self, why)
                self.record.unlink(missing_ok=True)
                with open(self.root / "held", "wb") as held:
                    outcome = self.run_gorvanel(
                        "-l", wrap=wrap, pass_fds=[held.fileno()])
                record = self.assertLaunched(outcome, args=["-l"])
                self.assertEqual(record.fds, [0, 1, 2])

    def test_without_proc_every_descriptor_that_can_be_open_is_kept(self):
        # No /proc to tell which are open, and one above both limits, as
        # a caller that lowered them after it was opened leaves it.
        if not callers.wrapper_runs_without_proc():
            self.skipTest("valgrind (LAUNCHER_WRAPPER) needs /proc")
        if callers.sanitized(BUILD):
            self.skipTest("the sanitizers' runtime needs /proc")
        why = harness.proc_unmount_unavailable()
        if why is not None:
            callers.skip_unless_ci(self, why)
        wrap, why = callers.seccomp_wrapper(BUILD, callers.CLOSE_RANGE_EPERM)
        if wrap is None:
            callers.skip_unless_ci(self, why)
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        if hard <= max(callers.HELD_BELOW_AND_ABOVE):
            callers.skip_unless_ci(self, f"the hard descriptor limit {hard} "
                                   "is too low to hold descriptor 1500")
        outcome = self.run_gorvanel(
            "-l", wrap=harness.without_proc(wrap), close_fds=False,
            preexec_fn=callers.holding_above_the_limits)
        record = self.assertLaunched(outcome, args=["-l"])
        self.assertEqual(record.fds, [0, 1, 2])


class AllocationFailureTest(GorvanelCase):
    """Each allocation of a gorvanel run fails in turn, one per run, through
    the preloaded shim failing_allocation.c, which tells of the allocation
    it failed and of the Java VM's start."""

    def setUp(self):
        if harness.launcher_wrapper():
            self.skipTest("the shim must be preloaded into gorvanel itself")
        if callers.sanitized(BUILD):
            self.skipTest("the sanitizers' allocator must be loaded first")
        super().setUp()
        self.shim = harness.built_file(BUILD, "e2e/libfailing_allocation.so")
        self.log = self.root / "allocations"

    def test_java_once_started_is_waited_for(self):
        # The stub ends with 2, which gorvanel reports only after waiting
        # for it: a gorvanel that died after the start ends otherwise,
        # whether or not the stub got as far as its record.
        for trace in ("0", "1"):
            for number in range(1, 2000):
                notes = self.run_failing(number, trace)
                if "failed" not in notes:
                    self.assertIn("exec", notes, "a run without a failure")
                    break
            else:
                self.fail("gorvanel never ran without a failed allocation")

    def run_failing(self, number, trace):
        """Runs gorvanel -l with allocation number failed, checks it and
        returns the shim's notes."""
        self.record.unlink(missing_ok=True)
        self.log.unlink(missing_ok=True)
        outcome = self.run_gorvanel("-l", env={
            "LD_PRELOAD": str(self.shim), "FAILING_ALLOCATION": str(number),
            "FAILING_ALLOCATION_LOG": str(self.log), "STUB_JAVA_EXIT": "2",
            "TALVANE_TRACE": trace})
        notes = self.log.read_text().split() if self.log.exists() else []
        with self.subTest(allocation=number, trace=trace):
            if "exec" in notes:
                result, records = outcome
                self.assertEqual(result.status, 1, result.describe())
                self.assertEqual(result.stdout, execution_error("EXE006:2"))
                self.assertEqual([r.text_argv() for r in records],
                                 [self.expected_argv(["-l"])])
            else:
                self.assertEqual(outcome[1], [])
        return notes


class JavaCommandTest(GorvanelCase):
    def test_java_gets_the_installation_and_the_arguments(self):
        args = ["-a", "node01", "alpha", "beta gamma"]
        self.assertLaunched(self.run_gorvanel(*args), args=args)

    def test_arguments_of_up_to_255_characters(self):
        longest = "a" * 255
        self.assertLaunched(self.run_gorvanel("-a", longest),
                            args=["-a", longest])
        self.record.unlink()
        for args in (["b" * 256], ["-a", "key", longest, "c" * 256]):
            with self.subTest(lengths=[len(a) for a in args]):
                self.record.unlink(missing_ok=True)
                self.assertRefused(self.run_gorvanel(*args), PARAMETER_ERROR)

    def test_arguments_reach_java_unchanged_and_no_shell_runs(self):
        marker = self.root / "marker"
        args = ["tab\there", "  blanks  ", f"$(touch '{marker}')",
                f"a; touch '{marker}'", "*", "grüße ☃"]
        self.assertLaunched(self.run_gorvanel(*args), args=args)
        self.assertFalse(marker.exists(), "an argument ran a command")

    def test_quotes_and_final_backslashes_arrive_unchanged(self):
        # The line is escaped as on Windows and split back here by the
        # C runtime's rules: each item comes back whole, whatever it holds.
        args = ['say "hi"', "end\\", "\\\\server\\share\\", '"', 'a\\"b', ""]
        self.assertLaunched(self.run_gorvanel(*args), args=args)


class AuthorityTest(GorvanelCase):
    """gorvanel run as nobody (uid and gid 65534) from a copy that nobody
    can read, with a record file that nobody can write."""

    NOBODY = 65534

    def setUp(self):
        if os.geteuid() != 0 or shutil.which("setpriv") is None:
            self.skipTest("needs root and setpriv to run as another user")
        super().setUp()
        self.program = self.root / "bin" / "gorvanel"
        self.program.parent.mkdir()
        shutil.copy2(self.gorvanel, self.program)
        self.record.touch()
        for path in [self.root] + list(self.root.rglob("*")):
            mode = path.stat().st_mode
            executable = path.is_dir() or mode & stat.S_IXUSR
            path.chmod(0o755 if executable else 0o644)
        self.record.chmod(0o666)

    def run_as_nobody(self, *args, groups=(), gid=NOBODY):
        return self.run_gorvanel(*args, user={
            "uid": self.NOBODY, "gid": gid, "groups": groups})

    def test_user_outside_group_0_is_refused_before_anything_else(self):
        for args in (["-l"], [], [str(n) for n in range(7)],
                     ["-a", "key", "x" * 256]):
            with self.subTest(args=[a[:8] for a in args]):
                self.record.write_bytes(b"")
                self.assertRefused(self.run_as_nobody(*args), AUTHORITY_ERROR)

    def test_same_user_in_group_0_is_admitted(self):
        for name, kw in (("supplementary", {"groups": [0]}),
                         ("primary", {"gid": 0})):
            with self.subTest(group_0=name):
                self.record.write_bytes(b"")
                self.assertLaunched(self.run_as_nobody("-l", **kw),
                                    args=["-l"])


class GroupDatabaseTest(GorvanelCase):
    """The gid-0 group as a directory service may fill it: a copy of
    /etc/group bind-mounted over it in a private mount namespace."""

    def test_group_0_with_90000_members_admits_its_members(self):
        # A member line of some 630 KB, whose entry takes more than 1 MiB
        # of the lookup's scratch.
        reason = harness.bind_mounts_unavailable()
        if reason:
            callers.skip_unless_ci(self, reason)
        name = grp.getgrgid(0).gr_name
        members = ",".join(f"m{n:05d}" for n in range(90000))
        lines = [line for line in
                 Path("/etc/group").read_text().splitlines()
                 if line.split(":")[2:3] != ["0"]]
        group_file = self.root / "group"
        group_file.write_text("\n".join(
            lines + [f"{name}:x:0:{members}"]) + "\n")
        group_file.chmod(0o644)
        self.assertLaunched(
            self.run_gorvanel("-l", mounts=[(group_file, "/etc/group")]),
            args=["-l"])


if __name__ == "__main__":
    unittest.main()

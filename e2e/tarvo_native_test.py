#!/usr/bin/env python3
"""tarvo built for Linux, end to end: a registry export file, tarvo.ini,
the services database and a stub Java VM that records how it was started.

    python3 e2e/tarvo_native_test.py [--build-dir build/native] [-v] [Class]
"""

import os
import shutil
import signal
import stat
import struct
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import callers  # noqa: E402
import launcher_lifecycle  # noqa: E402

BUILD = harness.build_dir("native")
SEP = "/"


class TarvoCase(harness.LauncherChecks, unittest.TestCase):
    """An installation in a fresh directory (with blanks in its name):
    tarvo in <root>/Mgr Opt/bin beside a tarvo.ini naming <root>/Mgr Jre,
    a registry naming <root>/Registry Jre, a stub java in both."""

    @classmethod
    def setUpClass(cls):
        cls.tarvo = harness.built_file(BUILD, "bin/tarvo")
        cls.stub = harness.built_file(BUILD, "e2e/stub_java")
        cls.nfport = harness.host_port("nfport", 23456)
        cls.rmiport = harness.host_port("tovrexm", 0)

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="tarvo e2e "))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.opt = self.root / "Mgr Opt"
        self.etc = self.root / "Mgr Etc"
        self.var = self.root / "Mgr Var"
        self.jre = self.root / "Mgr Jre"
        self.registry_jre = self.root / "Registry Jre"
        for jre in (self.jre, self.registry_jre):
            harness.install_stub_java(self.stub, jre)
        self.program = self.opt / "bin" / "tarvo"
        self.program.parent.mkdir(parents=True)
        self.program.symlink_to(self.tarvo)
        self.registry = self.root / "registry.reg"
        self.record = self.root / "record"
        self.write_registry()
        self.write_ini(f"jre={self.jre}\n")

    # --- set-up helpers ---

    def write_registry(self, unicode=False, **values):
        """The site key with our directories; a value given as None is
        left out, any other replaces ours."""
        site = harness.site_values(self.opt, self.etc, self.var,
                                   self.registry_jre)
        site = {k: str(v) for k, v in site.items()}
        for name, value in values.items():
            if value is None:
                site.pop(name, None)
            else:
                site[name] = value
        harness.write_registry(self.registry, {harness.SITE_KEY: site},
                               unicode=unicode)

    def write_ini(self, content, directory=None):
        path = (directory or self.program.parent) / "tarvo.ini"
        if content is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(content.encode("utf-8")
                             if isinstance(content, str) else content)

    def run_tarvo(self, *args, env=None, argv0=None, cwd=None, mounts=None,
                  program=None, user=None, timeout=harness.RUN_TIMEOUT,
                  **popen):
        """Runs tarvo with args (as another user when user gives as_user's
        keywords); returns its result and the stub's records. popen:
        preexec_fn, pass_fds."""
        full_env = harness.clean_environment(
            TALVANE_REGISTRY=self.registry,
            **harness.stub_environment(self.record))
        full_env.update(env or {})
        program = str(program or self.program)
        argv = [argv0 or program] + list(args)
        outer = None
        if mounts:
            self.assertIsNone(argv0, "argv[0] cannot be set in a namespace")
            def outer(command):
                return harness.with_bind_mounts(command, mounts)
        if user is not None:
            def outer(command):
                return harness.as_user(command, **user)
        result = harness.run_launcher(argv, env=full_env, cwd=cwd or self.root,
                                      executable=program, outer=outer,
                                      timeout=timeout, **popen)
        return result, harness.read_records(self.record)

    def expected_argv(self, java=None, args=(), rmiport=None, nfport=None,
                      opt=None, etc=None, var=None):
        return harness.tarvo_java_argv(
            SEP, str(java or self.jre / "bin" / "java"), opt or self.opt,
            etc or self.etc, var or self.var,
            self.rmiport if rmiport is None else rmiport,
            self.nfport if nfport is None else nfport, args)

    # --- checks ---

    def assertLaunched(self, outcome, java=None, args=(), status=0, **kw):
        """tarvo ran the stub once with the expected vector and printed
        nothing of its own."""
        return self.assertStartedOnce(
            outcome, self.expected_argv(java, args, **kw), status)


class LaunchTest(TarvoCase):
    def test_java_gets_the_installation_and_the_arguments(self):
        record = self.assertLaunched(self.run_tarvo("list", "pool 1"),
                                     args=["list", "pool 1"])
        self.assertEqual(record.text_env("CLASSPATH"),
                         f"{self.opt}/KVXPdkmgr/java/archive/tarvo.jar")
        self.assertEqual(record.text_env("LIB"), f"{self.opt}/KVXPdkmgr/lib")

    def test_without_arguments_only_the_fixed_elements_are_passed(self):
        self.assertLaunched(self.run_tarvo())

    def test_callers_classpath_and_lib_are_replaced(self):
        record = self.assertLaunched(self.run_tarvo(
            "x", env={"CLASSPATH": "/elsewhere/a.jar", "LIB": "/elsewhere"}),
            args=["x"])
        self.assertEqual(record.text_env("CLASSPATH"),
                         f"{self.opt}/KVXPdkmgr/java/archive/tarvo.jar")
        self.assertEqual(record.text_env("LIB"), f"{self.opt}/KVXPdkmgr/lib")

    def test_unicode_export_file_is_read(self):
        self.write_registry(unicode=True)
        self.assertLaunched(self.run_tarvo("list"), args=["list"])


class ExitStatusTest(harness.TarvoExitStatusCases, TarvoCase):
    def test_java_killed_by_a_signal_gives_128_plus_the_signal(self):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=sig.name):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(
                    self.run_tarvo(env={"STUB_JAVA_SIGNAL": str(int(sig))}),
                    status=128 + int(sig))


class CallerTest(TarvoCase):
    """Callers as operators' systems have them."""

    def test_caller_ignoring_sigchld_gets_the_java_status(self):
        # The kernel would reap the Java VM by itself and the wait fail:
        # tarvo ended with 255 whatever the VM returned. The VM gets the
        # caller's disposition.
        for status in (0, 3):
            with self.subTest(status=status):
                self.record.unlink(missing_ok=True)
                record = self.assertLaunched(
                    self.run_tarvo("x", env={"STUB_JAVA_EXIT": str(status)},
                                   preexec_fn=callers.ignoring_child_signal),
                    args=["x"], status=status)
                if callers.sigchld_ignored_reaches_java():
                    self.assertIn(signal.SIGCHLD, record.ignored)

    def test_callers_descriptors_reach_java(self):
        # As system() hands them on.
        with open(self.root / "held", "wb") as held:
            outcome = self.run_tarvo("x", pass_fds=[held.fileno()])
            record = self.assertLaunched(outcome, args=["x"])
            self.assertIn(held.fileno(), record.fds)


class SignalTest(launcher_lifecycle.SignalCases, TarvoCase):
    def waiting_run(self):
        env = harness.clean_environment(
            TALVANE_REGISTRY=self.registry,
            **harness.stub_environment(self.record))
        return [self.program, "wait"], env, self.program

    def signalled_outcome(self, sig):
        return 128 + int(sig), b""


class IniFileTest(TarvoCase):
    def test_first_line_names_the_java_runtime(self):
        other = self.root / "Other Jre"
        harness.install_stub_java(self.stub, other)
        padded = self.root / "Padded Jre  "
        harness.install_stub_java(self.stub, padded)
        jre = self.jre
        cases = {
            "key=value": (f"jre={jre}\n", jre),
            "blanks around the sign": (f"JRE = {jre}\n", jre),
            "tab and blank after the sign": (f"jre=\t {jre}\n", jre),
            "any key or none": (f"={jre}\n", jre),
            "bare directory": (f"{jre}\n", jre),
            "no line end": (f"jre={jre}", jre),
            "CR LF line end": (f"jre={jre}\r\n", jre),
            "only the first line counts": (f"jre={jre}\njre={other}\n", jre),
            "second line never read": (f"{jre}\r\n\x00\xff garbage", jre),
            "trailing blanks stay": (f"jre={padded}\n", padded),
        }
        for name, (content, expected_jre) in cases.items():
            with self.subTest(name):
                self.record.unlink(missing_ok=True)
                self.write_ini(content)
                self.assertLaunched(self.run_tarvo("a"), args=["a"],
                                    java=f"{expected_jre}/bin/java")

    def test_without_ini_the_registry_names_the_java_runtime(self):
        self.write_ini(None)
        self.assertLaunched(self.run_tarvo("a"), args=["a"],
                            java=self.registry_jre / "bin" / "java")

    def test_without_ini_or_registry_runtime_nothing_runs(self):
        self.write_ini(None)
        self.write_registry(jrePathName=None)
        self.assertRefused(self.run_tarvo("a"))

    def test_empty_ini_gives_an_empty_runtime_directory(self):
        # The program becomes /bin/java; the registry is not consulted.
        self.write_ini("")
        if not os.path.exists("/bin/java"):
            result, records = self.run_tarvo("a")
            self.assertEqual(result.status, 127, result.describe())
            self.assertEqual(records, [])
            return
        reason = harness.bind_mounts_unavailable()
        if reason:
            self.skipTest("/bin/java exists and cannot be replaced: " + reason)
        stub = self.jre / "bin" / "java"
        self.assertLaunched(
            self.run_tarvo("a", mounts=[(stub, "/bin/java")]),
            args=["a"], java="/bin/java")

    def test_ini_that_is_no_regular_file_is_not_read(self):
        # A FIFO kept tarvo waiting in fopen for ever; /dev/zero read as a
        # line of NUL bytes, an empty directory, and /bin/java ran. Neither
        # is read: the registry names the Java runtime.
        workdir = self.root / "work"
        workdir.mkdir()
        for name, make, bare in (
                ("FIFO", os.mkfifo, False),
                ("FIFO in the current directory", os.mkfifo, True),
                ("link to /dev/zero",
                 lambda path: path.symlink_to("/dev/zero"), False)):
            with self.subTest(name):
                directory = workdir if bare else self.program.parent
                ini = directory / "tarvo.ini"
                ini.unlink(missing_ok=True)
                make(ini)
                self.record.unlink(missing_ok=True)
                outcome = self.run_tarvo(
                    "a", argv0="tarvo" if bare else None,
                    cwd=workdir if bare else None, timeout=30)
                self.assertLaunched(outcome, args=["a"],
                                    java=self.registry_jre / "bin" / "java")
                ini.unlink()

    def test_bare_program_name_reads_ini_in_working_directory(self):
        workdir = self.root / "work"
        workdir.mkdir()
        other = self.root / "Other Jre"
        harness.install_stub_java(self.stub, other)
        self.write_ini(f"jre={other}\n", directory=workdir)
        # As a shell starts a program it found along the search path.
        self.assertLaunched(self.run_tarvo("a", argv0="tarvo", cwd=workdir),
                            args=["a"], java=other / "bin" / "java")

    def test_program_name_too_long_for_the_ini_path_uses_the_registry(self):
        # The ini path holds 259 characters: directory part + "tarvo.ini".
        for dir_length, java in ((250, self.jre), (251, self.registry_jre)):
            with self.subTest(dir_length=dir_length):
                self.record.unlink(missing_ok=True)
                directory = self.root / ("d" * (dir_length - 1))
                directory.mkdir()
                self.write_ini(f"jre={self.jre}\n", directory=directory)
                argv0 = directory.name + "/tarvo"
                self.assertLaunched(
                    self.run_tarvo("a", argv0=argv0, cwd=self.root),
                    args=["a"], java=java / "bin" / "java")


class DeathSignalTraceTest(TarvoCase):
    """A Java program whose start changes privileges loses the parent-death
    signal: the trace says so, and only the trace. (The check lies in the
    platform layer that gorvanel starts its Java VM with too.)"""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to give the Java program privileges")
        super().setUp()
        # The stub runs as another user and tarvo may: everything readable,
        # the record writable, and tarvo a copy, as the checkout may lie
        # where that user cannot enter.
        self.program.unlink()
        shutil.copy2(self.tarvo, self.program)
        for path in [self.root] + list(self.root.rglob("*")):
            if not path.is_symlink():
                mode = path.stat().st_mode
                path.chmod(0o755 if path.is_dir() or mode & stat.S_IXUSR
                           else 0o644)
        self.record.touch()
        self.record.chmod(0o666)
        self.java = self.jre / "bin" / "java"

    def warned(self, **kw):
        """Whether a traced run named the parent-death signal as lost for
        our Java program."""
        result, _ = self.run_tarvo("a", env={"TALVANE_TRACE": "1"}, **kw)
        self.assertEqual(result.status, 0, result.describe())
        return any(b"parent-death signal" in line and
                   str(self.java).encode() in line
                   for line in result.stderr.splitlines())

    def test_trace_tells_of_a_set_id_java_program(self):
        self.assertFalse(self.warned())
        for name, owner, mode in (("set-user-ID", (65534, -1), 0o4755),
                                  ("set-group-ID", (-1, 65534), 0o2755)):
            with self.subTest(name):
                os.chown(self.java, *owner)
                self.java.chmod(mode)  # after chown, which clears the bits
                self.assertTrue(self.warned())
                self.record.write_bytes(b"")
                self.assertLaunched(self.run_tarvo("a"), args=["a"])
                os.chown(self.java, 0, 0)
                self.java.chmod(0o755)

    def test_trace_tells_of_file_capabilities(self):
        # As setcap cap_net_bind_service=+ep would set them (revision 2).
        capability = struct.pack("<5I", 0x02000001, 1 << 10, 0, 0, 0)
        try:
            os.setxattr(self.java, "security.capability", capability)
        except OSError as error:
            self.skipTest(f"file capabilities cannot be set here: {error}")
        if shutil.which("setpriv") is None:
            self.skipTest("needs setpriv to run as another user")
        self.assertTrue(self.warned(user={"uid": 65534, "gid": 65534}))
        # Root gets every capability anyway: nothing to tell.
        self.assertFalse(self.warned())


class RegistryTest(TarvoCase):
    def test_missing_or_empty_directory_value_stops_before_java(self):
        for name in ("optPathName", "varPathName", "etcPathName"):
            for value in (None, ""):
                with self.subTest(name=name, value=value):
                    self.write_registry(**{name: value})
                    self.assertRefused(self.run_tarvo("a"))

    def test_missing_registry_file_stops_before_java(self):
        self.registry = self.root / "no such file.reg"
        self.assertRefused(self.run_tarvo("a"))

    def test_hex_continuation_never_takes_the_next_key(self):
        # A value of the site key ends in a continuation backslash, and the
        # next line opens another key naming a Java runtime: that runtime
        # stays the other key's, so the site key has none and nothing runs.
        evil = self.root / "Evil Jre"
        harness.install_stub_java(self.stub, evil)
        self.write_ini(None)
        self.write_registry(jrePathName=None)
        text = self.registry.read_text() + "\r\n".join([
            f"[{harness.SITE_KEY}]",
            '"junk"=hex(2):41,00,\\',
            r"[HKEY_LOCAL_MACHINE\SOFTWARE\Other]",
            f'"jrePathName"="{evil}"', ""])
        self.registry.write_text(text)
        self.assertRefused(self.run_tarvo("a"))

    def test_value_data_is_read_up_to_its_first_zero_byte(self):
        self.write_ini(None)
        jre = str(self.registry_jre).encode()
        self.write_registry(
            jrePathName=harness.Hex(jre + b"\0" + b"x" * (259 - len(jre))))
        self.assertLaunched(self.run_tarvo("a"), args=["a"],
                            java=self.registry_jre / "bin" / "java")

    def test_value_filling_260_bytes_without_terminator_is_not_found(self):
        self.write_ini(None)
        self.write_registry(jrePathName=harness.Hex(b"/" * 260))
        self.assertRefused(self.run_tarvo("a"))
        self.write_registry(optPathName=harness.Hex(b"/" * 260))
        self.assertRefused(self.run_tarvo("a"))


    def test_value_that_could_break_the_quoting_is_not_found(self):
        # Taken as they were, these made the interpreter run <root>/evil
        # or rearranged the Java VM's arguments.
        evil = self.root / "evil"
        shutil.copy2(self.stub, evil)
        quoting = f'{evil}" "'
        line_feed = harness.Hex(f"{self.var}\nx".encode() + b"\0", kind=1)
        for ini, values in ((f"jre={quoting}\n", {}),
                            (None, {"jrePathName": quoting}),
                            (None, {"optPathName": quoting}),
                            (None, {"varPathName": line_feed})):
            with self.subTest(ini=ini, values=values):
                self.write_ini(ini)
                self.write_registry(**values)
                self.assertRefused(self.run_tarvo("a"))


class LengthLimitTest(TarvoCase):
    """Each text stops at its capacity: one character more and tarvo ends
    with 1 before anything runs."""

    def test_directory_options(self):
        # -Dpellucor.optdir="<opt>/KVXPdkmgr" holds at most 283 characters,
        # the etcdir and vardir options 283 with "/opt/KVXPdkmgr/current".
        for name, longest in (("optPathName", 253), ("etcPathName", 241),
                              ("varPathName", 241)):
            for length in (longest, longest + 1):
                with self.subTest(name=name, length=length):
                    self.record.unlink(missing_ok=True)
                    value = "/" + "v" * (length - 1)
                    self.write_registry(**{name: value})
                    outcome = self.run_tarvo("a")
                    if length > longest:
                        self.assertRefused(outcome)
                        continue
                    dirs = {"optPathName": "opt", "etcPathName": "etc",
                            "varPathName": "var"}
                    self.assertLaunched(outcome, args=["a"],
                                        **{dirs[name]: value})
            self.write_registry()

    def test_java_program_path(self):
        # "<jre>/bin/java" plus its closing quote: at most 259 characters.
        prefix = str(self.root) + "/"
        jre = Path(prefix + "j" * (249 - len(prefix)))
        harness.install_stub_java(self.stub, jre)
        self.write_ini(f"jre={jre}\n")
        self.assertLaunched(self.run_tarvo("a"), args=["a"],
                            java=jre / "bin" / "java")
        self.record.unlink(missing_ok=True)
        self.write_ini(f"jre={jre}j\n")
        self.assertRefused(self.run_tarvo("a"))

    def test_command_line(self):
        # The whole line holds at most 8191 characters.
        base = len(harness.tarvo_command_line(
            SEP, self.jre, self.opt, self.etc, self.var, self.rmiport,
            self.nfport, [""]))
        longest = "a" * (8191 - base)
        self.assertLaunched(self.run_tarvo(longest), args=[longest])
        self.record.unlink(missing_ok=True)
        self.assertRefused(self.run_tarvo(longest + "a"))


class ServicesTest(TarvoCase):
    """The services database, replaced by a file of our own in a private
    mount namespace."""

    def setUp(self):
        reason = harness.bind_mounts_unavailable()
        if reason:
            self.skipTest(reason)
        super().setUp()

    def run_with_services(self, services):
        path = self.root / "services"
        path.write_text(services)
        return self.run_tarvo("a", mounts=[(path, "/etc/services")])

    def test_ports_come_from_the_services_database(self):
        cases = {
            "both defined": ("nfport 65535/tcp\ntovrexm 20001/tcp\n",
                             20001, 65535),
            "found by alias": ("mgr-nf 31000/tcp nfport\n"
                               "mgr-rmi 20002/tcp tovrexm\n", 20002, 31000),
            "udp only gives the defaults": (
                "nfport 31000/udp\ntovrexm 20001/udp\n", 0, 23456),
            "absent gives the defaults": ("echo 7/tcp\n", 0, 23456),
            "port 0": ("nfport 0/tcp\ntovrexm 0/tcp\n", 0, 0),
        }
        for name, (services, rmiport, nfport) in cases.items():
            with self.subTest(name):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(self.run_with_services(services),
                                    args=["a"], rmiport=rmiport,
                                    nfport=nfport)


class ArgumentTest(TarvoCase):
    def test_odd_arguments_arrive_unchanged_and_run_nothing(self):
        marker = self.root / "marker"
        args = ["", "with blank", "  blanks around  ", "tab\there",
                "C:\\dir\\", "two\\\\", "", "end\\", "%PATH%",
                f"$(touch '{marker}')", f"`touch '{marker}'`",
                f"a; touch '{marker}'", f"a & touch '{marker}'",
                f"a | touch '{marker}'", f"a > '{marker}'", "*", "~",
                "'single'", "C:\\dir\\file", "a\\\\b", "grüße ☃ 日本"]
        self.assertLaunched(self.run_tarvo(*args), args=args)
        self.assertFalse(marker.exists(), "an argument ran a command")

    def test_quote_or_line_break_in_an_argument_is_refused(self):
        marker = self.root / "marker"
        cases = [['"'], ['a"b'], ["\r"], ["a\nb"], ["line\r\n"],
                 ["fine", "not\"fine"],
                 [f'x" & touch "{marker}" & "']]
        for args in cases:
            with self.subTest(args=args):
                self.assertRefused(self.run_tarvo(*args))
        self.assertFalse(marker.exists(), "an argument ran a command")


if __name__ == "__main__":
    unittest.main()

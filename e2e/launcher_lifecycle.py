"""End-to-end cases of a launcher stopped or killed while its Java program,
the stub, waits: natively by a signal, under Wine by a kill; shared by the
suites of both launchers as mix-ins."""

import fcntl
import os
import signal
import subprocess
import tempfile
import termios
import time
from pathlib import Path

import callers
import harness


class SignalCases:
    """End-to-end cases of a launcher stopped by a signal while its Java
    program, the stub, waits (STUB_JAVA_WAIT); mixed into a suite's
    unittest.TestCase, which gives self.root (a scratch directory) and:
      waiting_run() -> (argv, env, executable) of a launcher run whose
        stub records to the suite's record file;
      signalled_outcome(sig) -> (status, stdout) of the launcher once its
        Java program ended on sig (the stub then exits with 128 + sig)."""

    WATCHED = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGQUIT)

    def test_signal_sent_to_the_launcher_alone_reaches_the_java_program(self):
        for sig in self.WATCHED:
            with self.subTest(signal=sig.name):
                launcher = self.start_waiting()
                os.kill(launcher.pid, sig)
                self.assertEndedAsJavaDid(launcher, sig)

    def test_signal_from_the_terminal_reaches_the_java_program_once(self):
        # The terminal signals the launcher's process group, the Java
        # program with it.
        for sig, key in ((signal.SIGINT, b"\x03"), (signal.SIGQUIT, b"\x1c")):
            with self.subTest(signal=sig.name):
                master, terminal = os.openpty()
                self.addCleanup(os.close, master)
                self.addCleanup(os.close, terminal)
                # As a session leader, the launcher takes the terminal for
                # its controlling terminal, its group for the foreground.
                launcher = self.start_waiting(
                    stdin=terminal, start_new_session=True,
                    preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
                os.write(master, key)
                self.assertEndedAsJavaDid(launcher, sig)

    def test_launcher_killed_outright_takes_its_java_program_along(self):
        launcher = self.start_waiting()
        launcher.kill()
        launcher.wait(timeout=harness.RUN_TIMEOUT)
        # Left alone, the Java program ends at its own time limit, well
        # within this one: what it got by then tells, not how soon it ended.
        _poll(lambda: _process_gone(self.stub_pid), harness.RUN_TIMEOUT)
        got = self.signals_got()
        if not callers.death_signal_comes_once():
            got = got[:1] if set(got) == {signal.SIGTERM} else got
        self.assertEqual(got, [signal.SIGTERM],
                         "the Java program outlived its launcher")

    # --- helpers ---

    def start_waiting(self, **popen):
        """Starts the launcher and returns it (a Popen) once its Java
        program waits; self.stub_pid is then that program's pid."""
        self.wait_file = self.root / "wait"
        self.wait_file.unlink(missing_ok=True)
        argv, env, executable = self.waiting_run()
        env = dict(env, STUB_JAVA_WAIT=str(self.wait_file))
        command = _entered(
            self, harness.launcher_command(argv, env, self.root, executable))
        self.output = [_entered(self, tempfile.TemporaryFile())
                       for _ in range(2)]
        popen.setdefault("stdin", subprocess.DEVNULL)
        launcher = subprocess.Popen(
            command.argv, env=command.env, cwd=self.root,
            executable=command.executable, stdout=self.output[0],
            stderr=self.output[1], **popen)
        self.addCleanup(_end_launcher, launcher)
        _poll(lambda: self.wait_lines() or launcher.poll() is not None,
              harness.RUN_TIMEOUT)
        lines = self.wait_lines()
        self.assertTrue(lines and lines[0].startswith("ready "),
                        f"the Java program never waited (launcher status "
                        f"{launcher.poll()}, wait file {lines})")
        self.stub_pid = int(lines[0].split()[1])
        self.addCleanup(_end_stub, self.stub_pid, ("java",))
        return launcher

    def wait_lines(self):
        exists = self.wait_file.exists()
        return self.wait_file.read_text().splitlines() if exists else []

    def signals_got(self):
        """The signals the Java program got, in order."""
        return [int(line.split()[1]) for line in self.wait_lines()
                if line.startswith("signal ")]

    def assertEndedAsJavaDid(self, launcher, sig):
        """The launcher waited for its Java program, which got sig once and
        ended on it, and ended as that program's end tells it to."""
        status = launcher.wait(timeout=harness.RUN_TIMEOUT)
        for output in self.output:
            output.seek(0)
        result = harness.Result(status, *(output.read() for output in self.output))
        self.assertEqual(self.signals_got(), [sig], result.describe())
        want_status, want_stdout = self.signalled_outcome(sig)
        self.assertEqual(result.status, want_status, result.describe())
        self.assertEqual(result.stdout, want_stdout)
        self.assertEqual(result.stderr, b"")


def _entered(case, manager):
    """What case.enterContext(manager) gives, on Python 3.9 too (the build
    root's), which lacks it: the manager entered, and left at cleanup."""
    value = manager.__enter__()
    case.addCleanup(manager.__exit__, None, None, None)
    return value


def _poll(predicate, timeout, interval=0.02):
    """predicate's first true value within timeout seconds, else its last."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


def _process_gone(pid):
    """No process pid runs any more (a zombie nobody reaps counts as gone)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            text = stat.read()
    except FileNotFoundError:
        return True
    return text[text.rindex(")") + 2] == "Z"


def _end_launcher(launcher):
    if launcher.poll() is None:
        launcher.kill()
    launcher.wait()


def _end_stub(pid, names):
    """A stub left behind by a failed case ends here, not a minute later;
    its name is checked so that no reused pid is signalled."""
    try:
        comm = Path(f"/proc/{pid}/comm").read_text().strip()
        if comm in names and not _process_gone(pid):
            os.kill(pid, signal.SIGKILL)
    except (FileNotFoundError, ProcessLookupError):
        pass


def _find_process(names, marker):
    """The pid of a running process called one of names (as the kernel
    shortens it) whose command line holds marker, else None. Wine shows a
    Windows program's command line there, and names it as it was started."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            comm = Path(f"/proc/{entry}/comm").read_text().strip()
            if comm not in names:
                continue
            line = Path(f"/proc/{entry}/cmdline").read_bytes()
        except OSError:
            continue
        if marker.encode() in line and not _process_gone(int(entry)):
            return int(entry)
    return None


# --- Under Wine -------------------------------------------------------------

# Wine names a process as its program was started: tarvo's line has no
# ".exe", gorvanel's has.
JAVA_NAMES = ("java", "java.exe")


class WineJobCases:
    """End-to-end cases of a launcher under Wine whose Java program, the
    stub, waits (STUB_JAVA_WAIT) or leaves a copy of itself waiting
    (STUB_JAVA_LEAVE); mixed into a Wine suite's unittest.TestCase, which
    gives self.root (drive D:), self.prefix (the WinePrefix) and:
      launcher_args(marker) -> the launcher's argv, its program first, for
        a run whose Java program gets marker among its arguments."""

    def test_launcher_killed_outright_takes_its_java_program_along(self):
        launcher = self.prefix.start(self.launcher_args(self.marker()),
                                     env={"STUB_JAVA_WAIT": r"D:\wait"})
        self.addCleanup(_end_launcher, launcher)
        java = self.waiting_java(launcher)
        launcher.kill()  # SIGKILL, as TerminateProcess would end it
        launcher.wait(timeout=harness.RUN_TIMEOUT)
        # Left alone, the Java program ends at its own time limit, well
        # within this one, and says so: how soon it ended decides nothing.
        _poll(lambda: _process_gone(java), harness.RUN_TIMEOUT)
        self.assertNotIn("limit", self.wait_words(),
                         "the Java program outlived its launcher")

    def test_what_java_left_running_outlives_a_launcher_that_ended(self):
        result = self.prefix.wine(self.launcher_args(self.marker()),
                                  env={"STUB_JAVA_LEAVE": r"D:\wait",
                                       "STUB_JAVA_WAIT_LIMIT": "3"})
        self.assertEqual(result.status, 0, result.describe())
        # It runs to its own limit and says so, unless something ends it.
        def over():
            words = self.wait_words()
            return "limit" in words or ("ready" in words and _find_process(
                JAVA_NAMES, self.marker()) is None)

        _poll(over, harness.RUN_TIMEOUT)
        self.assertEqual(self.wait_words(), ["ready", "limit"],
                         "what the Java program left running was ended "
                         "with its launcher")

    def marker(self):
        return "marker-" + self.root.name

    def wait_words(self):
        """The first word of each line the waiting Java program wrote."""
        wait = self.root / "wait"
        lines = wait.read_text().splitlines() if wait.exists() else []
        return [line.split()[0] for line in lines if line]

    def waiting_java(self, launcher):
        """The host pid of the Java program once it waits."""
        wait = self.root / "wait"

        def found():
            if launcher.poll() is not None:
                return -1
            if not wait.exists() or not wait.read_text().startswith("ready"):
                return None
            return _find_process(JAVA_NAMES, self.marker())

        pid = _poll(found, harness.RUN_TIMEOUT)
        self.assertTrue(pid and pid > 0,
                        f"the Java program never waited (launcher status "
                        f"{launcher.poll()})")
        self.addCleanup(_end_stub, pid, JAVA_NAMES)
        return pid

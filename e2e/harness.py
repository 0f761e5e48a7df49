"""Shared helpers for the launchers' end-to-end tests.

Registry export files, the stub Java VM and its records, running a program
with its output captured (a launcher also under a checking wrapper such as
valgrind, named by LAUNCHER_WRAPPER), private mount namespaces for the
services database.

Run as a script it also serves the build and the demo:
  harness.py show-records FILE   print the stub's records readably
"""

import contextlib
import os
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

SITE_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Talvane"
            r"\Vantrel_Capacity_Steward\Site\CurrentVersion")
PROVIDER_KEY = (r"HKEY_LOCAL_MACHINE\Software\Talvane\Kestrin-NLX"
                r"\Datumwell\CurrentVersion")
# Deleting it first keeps one test's values from reaching the next.
VENDOR_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Talvane"

TARVO_CLASS = "com.talvane.vantrel.pennimark.san.manager.cli.tarvo.Tarvo"
GORVANEL_CLASS = "com.talvane.lumivane.qrvex.gorvanel.GorvanelCmd"
PACKAGE = "KVXPdkmgr"

# Generous: a Wine start after a fresh prefix can take a while.
RUN_TIMEOUT = 120


# --- Build locations ------------------------------------------------------

def build_dir(default_preset):
    """The build tree under test: --build-dir DIR (taken out of sys.argv so
    that unittest does not see it), else E2E_BUILD_DIR, else the preset's
    tree in build/."""
    argv = sys.argv
    for i, arg in enumerate(argv):
        if arg == "--build-dir" and i + 1 < len(argv):
            value = argv[i + 1]
            del argv[i:i + 2]
            return Path(value).resolve()
        if arg.startswith("--build-dir="):
            del argv[i]
            return Path(arg.split("=", 1)[1]).resolve()
    if os.environ.get("E2E_BUILD_DIR"):
        return Path(os.environ["E2E_BUILD_DIR"]).resolve()
    return REPO / "build" / default_preset


def built_file(build, relative):
    """A file of the build tree; an error naming it when it is missing."""
    path = Path(build) / relative
    if not path.is_file():
        raise FileNotFoundError(
            f"{path} is missing: build the tree first (cmake --build)")
    return path


# --- Registry export files -------------------------------------------------

@dataclass(frozen=True)
class Hex:
    """A value written as hex bytes: hex(kind) in the export file."""
    data: bytes
    kind: int = 3  # REG_BINARY


DELETE = object()  # a value written as =-, which removes it on import


def _quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _value_text(value):
    if value is DELETE:
        return "-"
    if isinstance(value, str):
        return _quoted(value)
    if isinstance(value, int):
        return f"dword:{value:08x}"
    if isinstance(value, bytes):
        value = Hex(value)
    kind = "hex" if value.kind == 3 else f"hex({value.kind:x})"
    return kind + ":" + ",".join(f"{b:02x}" for b in value.data)


def registry_text(keys, delete_keys=(), header="REGEDIT4"):
    """The text of an export file: the deletions first, then each key
    (path -> {value name: str | int | bytes | Hex | DELETE})."""
    lines = [header, ""]
    for key in delete_keys:
        lines += [f"[-{key}]", ""]
    for key, values in keys.items():
        lines.append(f"[{key}]")
        for name, value in values.items():
            lines.append(f"{_quoted(name)}={_value_text(value)}")
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def write_registry(path, keys, delete_keys=(), unicode=False):
    """Writes an export file the way regedit does: REGEDIT4 in 8-bit text,
    or version 5 in UTF-16LE with its byte-order mark."""
    if unicode:
        text = registry_text(keys, delete_keys,
                             "Windows Registry Editor Version 5.00")
        data = b"\xff\xfe" + text.encode("utf-16-le")
    else:
        data = registry_text(keys, delete_keys).encode("utf-8")
    Path(path).write_bytes(data)
    return Path(path)


def site_values(opt, etc, var, jre=None, **more):
    """The site key's directory values (None leaves a value out)."""
    values = {"optPathName": opt, "etcPathName": etc, "varPathName": var,
              "jrePathName": jre}
    values.update(more)
    return {name: v for name, v in values.items() if v is not None}


# --- The stub Java VM ------------------------------------------------------

@dataclass
class Record:
    """What one run of the stub Java VM was started with."""
    argv: list
    env: dict = field(default_factory=dict)  # CLASSPATH, LIB when set
    cmdline: bytes = None                    # Windows: GetCommandLineA()
    fds: list = None      # Linux: the descriptors open at its start
    ignored: list = None  # Linux: the signals it started with ignored

    def text_argv(self):
        return [a.decode("utf-8", "surrogateescape") for a in self.argv]

    def text_env(self, name):
        value = self.env.get(name)
        return None if value is None else value.decode("utf-8")

    def text_cmdline(self):
        return None if self.cmdline is None else self.cmdline.decode("utf-8")


def read_records(path):
    """The stub's records in the file, oldest first; none when the file
    does not exist. A torn record is an error, not a shorter record."""
    path = Path(path)
    if not path.exists():
        return []
    records, current, argc = [], None, None
    for number, line in enumerate(path.read_bytes().split(b"\n"), 1):
        if not line:
            continue
        key, _, value = line.decode("ascii").partition("=")
        if key == "begin":
            current, argc = Record(argv=[]), None
        elif current is None:
            raise ValueError(f"{path}:{number}: {key} outside a record")
        elif key == "argc":
            argc = int(value)
        elif key == "argv":
            current.argv.append(bytes.fromhex(value))
        elif key == "cmdline":
            current.cmdline = bytes.fromhex(value)
        elif key in ("fds", "ignored"):
            text = bytes.fromhex(value).decode("ascii")
            setattr(current, key, [int(n) for n in text.split(",") if n])
        elif key == "end":
            if argc != len(current.argv):
                raise ValueError(f"{path}:{number}: argc {argc} but "
                                 f"{len(current.argv)} argv lines")
            records.append(current)
            current = None
        else:
            current.env[key] = bytes.fromhex(value)
    if current is not None:
        raise ValueError(f"{path}: last record has no end")
    return records


def stub_environment(record_path, exit_status=None, signal=None):
    """Environment entries that steer the stub."""
    env = {"STUB_JAVA_RECORD": str(record_path)}
    if exit_status is not None:
        env["STUB_JAVA_EXIT"] = str(exit_status)
    if signal is not None:
        env["STUB_JAVA_SIGNAL"] = str(signal)
    return env


def install_stub_java(stub, jre_dir, windows=False):
    """Places the stub as <jre>/bin/java (java.exe for Windows)."""
    target = Path(jre_dir) / "bin" / ("java.exe" if windows else "java")
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(stub, target)
    return target


# --- Running programs ------------------------------------------------------

@dataclass
class Result:
    status: int
    stdout: bytes
    stderr: bytes

    def describe(self):
        return (f"status {self.status}, stdout {self.stdout!r}, "
                f"stderr {self.stderr!r}")


# What the caller's environment may carry that would steer a launcher or
# the stub behind the tests' back.
_STEERING = ("CLASSPATH", "LIB", "TALVANE_REGISTRY", "TALVANE_TRACE",
             "STUB_JAVA_RECORD", "STUB_JAVA_EXIT", "STUB_JAVA_SIGNAL")


def clean_environment(**extra):
    env = {k: v for k, v in os.environ.items() if k not in _STEERING}
    env.update({k: str(v) for k, v in extra.items()})
    return env


def run(argv, env=None, cwd=None, timeout=RUN_TIMEOUT, executable=None,
        **popen):
    """Runs argv with no input and returns its status and output. Output
    goes through files, not pipes: a process left behind holding them
    (a wineserver, say) must not keep the caller waiting. A negative
    status means the program was killed by that signal. popen: more of
    subprocess.run's arguments (preexec_fn, pass_fds)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run(
            [str(a) if isinstance(a, Path) else a for a in argv],
            stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env,
            cwd=cwd, timeout=timeout, executable=executable, **popen)
        out.seek(0)
        err.seek(0)
        return Result(completed.returncode, out.read(), err.read())


def as_user(argv, uid=65534, gid=65534, groups=()):
    """argv run as another user with these supplementary groups, none by
    default (the caller must be root; files the program writes must be
    writable to it)."""
    group_option = ("--groups=" + ",".join(str(g) for g in groups)
                    if groups else "--clear-groups")
    return ["setpriv", f"--reuid={uid}", f"--regid={gid}", group_option,
            "--"] + [str(a) for a in argv]


# --- Running a launcher under a checking wrapper ---------------------------

# A command prefix (shell words) put before each launcher run, valgrind say.
# "{logdir}" in it names a fresh directory that every user may write to;
# whatever the wrapper leaves in a file there is a finding and fails the run.
# "{argv0}" names the launcher's argv[0], for a wrapper that takes it apart
# from the program to run (qemu-user's -0): the program then follows the
# prefix by its path.
WRAPPER_VARIABLE = "LAUNCHER_WRAPPER"


def launcher_wrapper():
    return shlex.split(os.environ.get(WRAPPER_VARIABLE, ""))


def run_launcher(argv, env=None, cwd=None, executable=None, outer=None,
                 timeout=RUN_TIMEOUT, **popen):
    """Runs a launcher as run() does, under LAUNCHER_WRAPPER when that is
    set. executable is the program when argv[0] names it otherwise. outer
    turns the launcher's command into the one to run (as_user,
    with_bind_mounts), so that the wrapper runs inside it, with the
    launcher's user and mounts. popen as for run()."""
    with launcher_command(argv, env, cwd, executable) as command:
        if outer is None:
            result = run(command.argv, env=command.env, cwd=cwd,
                         executable=command.executable, timeout=timeout,
                         **popen)
        else:
            result = run(outer(command.argv), env=command.env, cwd=cwd,
                         timeout=timeout, **popen)
        command.outcome = result.describe()
    return result


@dataclass
class LauncherCommand:
    """How to start a launcher: argv, env and executable as for run()."""
    argv: list
    env: dict
    executable: object
    outcome: str = "not run to its end"  # for the wrapper's report


@contextlib.contextmanager
def launcher_command(argv, env=None, cwd=None, executable=None):
    """The LauncherCommand that runs a launcher, under LAUNCHER_WRAPPER
    when that is set, for a run that ends within the block: whatever the
    wrapper then leaves in its log directory fails it."""
    argv = [str(a) for a in argv]
    wrapper = launcher_wrapper()
    if not wrapper:
        yield LauncherCommand(argv, env, executable)
        return
    env = dict(os.environ if env is None else env)
    with tempfile.TemporaryDirectory(prefix="launcher-wrapper-") as scratch:
        scratch = Path(scratch)
        scratch.chmod(0o755)
        log_dir = scratch / "log"
        log_dir.mkdir()
        log_dir.chmod(0o1777)  # the launcher may run as another user
        command = [w.replace("{logdir}", str(log_dir)) for w in wrapper]
        command[0] = reachable_by_others(command[0], scratch)
        if any("{argv0}" in w for w in command):
            command = [w.replace("{argv0}", argv[0]) for w in command]
            program = argv[0] if executable is None else str(executable)
            invocation = LauncherCommand(command + [program] + argv[1:], env,
                                         None)
            yield invocation
        else:
            with _invoked_as(argv[0], executable, cwd, env, scratch):
                invocation = LauncherCommand(command + argv, env, None)
                yield invocation
        findings = [f"{path.name}:\n{path.read_text(errors='replace')}"
                    for path in sorted(log_dir.iterdir())
                    if path.stat().st_size > 0]
    if findings:
        raise AssertionError(f"{wrapper[0]} found faults in {argv[:1]} "
                             f"({invocation.outcome}):\n" + "\n".join(findings))


def reachable_by_others(program, scratch):
    """program, or a copy of it in scratch where an account that is
    neither its owner nor in its group could not run it: a launcher may
    run as another user, and a checkout may lie where only its owner can
    enter (a home directory of mode 700). A bare name is left to PATH."""
    if "/" not in program:
        return program
    path = Path(program).resolve()
    if all(p.stat().st_mode & 0o001 for p in [path, *path.parents]):
        return program
    copies = Path(scratch) / "programs"
    copies.mkdir(mode=0o755, exist_ok=True)
    copy = copies / path.name
    shutil.copy(path, copy)
    copy.chmod(0o755)
    return str(copy)


@contextlib.contextmanager
def _invoked_as(name, executable, cwd, env, scratch):
    """A wrapper starts the program that its argv[0] names and hands it
    that name. When argv[0] is not the program, a symbolic link by that
    name stands in for the run: on the search path for a bare name, else
    where the name points (which must be free or be the program)."""
    if executable is None or name == str(executable):
        yield
        return
    target = Path(executable).resolve()
    if "/" not in name:
        bin_dir = scratch / "bin"
        bin_dir.mkdir()
        bin_dir.chmod(0o755)  # as the log directory, for another user
        (bin_dir / name).symlink_to(target)
        env["PATH"] = f"{bin_dir}{os.pathsep}{env.get('PATH', os.defpath)}"
        yield
        return
    path = Path(cwd or os.getcwd()) / name
    if path.exists() and path.samefile(target):
        yield
        return
    path.symlink_to(target)  # fails, as it should, when the name is taken
    try:
        yield
    finally:
        path.unlink()


# --- Private mount namespaces (Linux) --------------------------------------

def _in_private_mounts(argv, steps):
    """argv run in a private mount namespace once the shell steps, each
    needing the one before, have run. Needs the right to unshare."""
    script = " && ".join(steps + ['exec "$@"'])
    return ["unshare", "--mount", "--propagation", "private", "--",
            "sh", "-c", script, "sh"] + [str(a) for a in argv]


def with_bind_mounts(argv, mounts):
    """argv run in a private mount namespace in which each (source, target)
    file is bind-mounted over target."""
    return _in_private_mounts(argv, [
        f"mount --bind {shlex.quote(str(s))} {shlex.quote(str(t))}"
        for s, t in mounts])


def without_proc(argv):
    """argv run in a private mount namespace without /proc, as in a chroot
    or a minimal container; a failure when /proc cannot be unmounted."""
    return _in_private_mounts(argv, [
        "umount -l /proc",
        '{ test ! -e /proc/self || { echo "/proc is still mounted" >&2; '
        "exit 125; }; }"])


_verdicts = {}


def _unavailable(probe):
    """None when probe() (a command) works here, else why not (for a skip
    message); asked once."""
    if probe not in _verdicts:
        _verdicts[probe] = _why_not(probe)
    return _verdicts[probe] or None


def _why_not(probe):
    if shutil.which("unshare") is None:
        return "unshare (util-linux) is not installed"
    with tempfile.TemporaryDirectory() as tmp:
        command, expected = probe(Path(tmp))
        try:
            result = run(command, timeout=30)
        except (OSError, subprocess.TimeoutExpired) as error:
            return f"unshare failed: {error}"
    if result.status != 0 or result.stdout != expected:
        return (f"{probe.__doc__} is not permitted here "
                f"({result.stderr.decode().strip()})")
    return ""


def _bind_mount_probe(tmp):
    """a bind mount in a private mount namespace"""
    source, target = tmp / "source", tmp / "target"
    source.write_text("bound\n")
    target.write_text("original\n")
    return with_bind_mounts(["cat", target], [(source, target)]), b"bound\n"


def _proc_unmount_probe(_tmp):
    """unmounting /proc in a private mount namespace"""
    return without_proc(["true"]), b""


def bind_mounts_unavailable():
    """None when with_bind_mounts works here, else why not."""
    return _unavailable(_bind_mount_probe)


def proc_unmount_unavailable():
    """None when without_proc works here, else why not."""
    return _unavailable(_proc_unmount_probe)


# --- tarvo's Java command -------------------------------------------------

class LauncherChecks:
    """Checks of an outcome, (Result, records of the stub), shared by the
    end-to-end tests of both launchers; mixed into a unittest.TestCase."""

    def assertStartedOnce(self, outcome, argv, status=0, stdout=b""):
        """The launcher ended with status after starting the Java program
        once with argv, printing stdout and nothing on standard error."""
        result, records = outcome
        self.assertEqual(result.status, status, result.describe())
        self.assertEqual(result.stdout, stdout)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(len(records), 1, "the Java program should run once")
        self.assertEqual(records[0].text_argv(), argv)
        return records[0]

    def assertRefused(self, outcome, stdout=b""):
        """Status 1, exactly stdout printed, nothing started."""
        result, records = outcome
        self.assertEqual(result.status, 1, result.describe())
        self.assertEqual(result.stdout, stdout)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(records, [], "nothing should have been started")


class TarvoExitStatusCases:
    """tarvo ends with the Java program's status; mixed into a case that
    has run_tarvo, record and assertLaunched."""

    def test_java_exit_status_is_passed_through(self):
        for status in (0, 3, 255):
            with self.subTest(status=status):
                self.record.unlink(missing_ok=True)
                self.assertLaunched(
                    self.run_tarvo("x", env={"STUB_JAVA_EXIT": str(status)}),
                    args=["x"], status=status)


def tarvo_java_argv(sep, java, opt, etc, var, rmiport, nfport, args=()):
    """The argument vector the Java VM gets from tarvo, once the command
    line has been split: the program, seven fixed elements, the operator's
    arguments."""
    return [java,
            f"-Djava.library.path={opt}{sep}{PACKAGE}{sep}lib",
            f"-Dpellucor.optdir={opt}{sep}{PACKAGE}",
            f"-Dpellucor.etcdir={etc}{sep}opt{sep}{PACKAGE}{sep}current",
            f"-Dpellucor.vardir={var}{sep}opt{sep}{PACKAGE}{sep}current",
            f"-Dpellucor.rmiport={rmiport}",
            f"-Dpellucor.nfport={nfport}",
            TARVO_CLASS] + list(args)


def tarvo_command_line(sep, jre, opt, etc, var, rmiport, nfport, args=()):
    """The one line tarvo hands to the command interpreter."""
    elements = [
        f'-Djava.library.path="{opt}{sep}{PACKAGE}{sep}lib"',
        f'-Dpellucor.optdir="{opt}{sep}{PACKAGE}"',
        f'-Dpellucor.etcdir="{etc}{sep}opt{sep}{PACKAGE}{sep}current"',
        f'-Dpellucor.vardir="{var}{sep}opt{sep}{PACKAGE}{sep}current"',
        f"-Dpellucor.rmiport={rmiport}", f"-Dpellucor.nfport={nfport}",
        TARVO_CLASS]
    line = f'""{jre}{sep}bin{sep}java"'
    line += "".join(" " + e for e in elements)
    line += "".join(f' "{a}"' for a in args)
    return line + '"'


def host_port(service, default):
    """The port the host's services database gives a TCP service, else
    the default: what a launcher here must resolve it to."""
    try:
        return socket.getservbyname(service, "tcp")
    except OSError:
        return default


# --- gorvanel's Java command ----------------------------------------------

def gorvanel_java_argv(sep, java, opt, etc, var, args=()):
    """The argument vector the Java VM gets from gorvanel: the program, six
    fixed elements, the operator's arguments."""
    return [str(java),
            f"-Dqrvex.optdir={opt}",
            f"-Dqrvex.etcdir={etc}{sep}etc",
            f"-Dqrvex.vardir={var}{sep}var",
            "-classpath",
            f"{opt}{sep}java{sep}archive{sep}gorvanel.jar",
            GORVANEL_CLASS] + list(args)


# --- Command line ----------------------------------------------------------

def _show_records(path):
    for number, record in enumerate(read_records(path), 1):
        print(f"stub java run {number}:")
        for i, arg in enumerate(record.text_argv()):
            print(f"  argv[{i}] = {arg!r}")
        for name in ("CLASSPATH", "LIB"):
            value = record.text_env(name)
            print(f"  {name} = {'(not set)' if value is None else repr(value)}")
        if record.cmdline is not None:
            print(f"  command line = {record.text_cmdline()!r}")


def main(args):
    if len(args) == 2 and args[0] == "show-records":
        _show_records(args[1])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Benchmarks of the launchers on Linux, printed as Markdown tables.

  bench/run.py [--build-dir DIR] [--work-dir DIR] [--quick]

  --build-dir  the built tree (default: build/linux-x86_64, the shipped
               programs, which make bench builds): bin/tarvo, bin/gorvanel,
               the stub Java VM e2e/stub_java and, when the JDK was there
               to build them, demo/tarvo.jar and gorvanel.jar
  --work-dir   where the sample installation, the registry files and the
               raw hyperfine results go (default: BUILD_DIR/bench)
  --quick      few runs, for trying the script out; not for figures

What it measures:
  1. Start-up cost: tarvo and gorvanel starting the stub Java VM (which
     writes nothing and ends with 0), against the stub started directly and
     against bench/minimal_launcher.c (posix_spawn and wait) starting it;
     then each launcher against bench/yardstick.c, which does the least
     that launcher's job needs, in interleaved paired runs.
  2. Peak resident memory of each launcher process itself: VmHWM read from
     /proc/<launcher>/status while its child, the stub, is held in the
     open() of its record file, a FIFO: by then the launcher has done all
     its work but wait and exit. GNU time's figure, which takes in the
     waited-for child, is shown beside it.
  3. tarvo with registry files of about 1 KB, 1 MB and 100 MB whose needed
     keys are at the very end (a stale copy of them near the start must
     lose), in UTF-8 and, for 100 MB, in UTF-16LE as `reg export` writes;
     the peak resident memory of each beside the sample installation's
     (the figure of 2.).
  4. Both launchers through a real Java VM (see JvmSetup).
  5. What gorvanel's start costs where close_range fails (as under a
     seccomp profile older than the call): the same runs under
     e2e/seccomp_wrapper with close_range failing (EPERM, so that the
     descriptors are walked in /proc/self/fd), with every call newer than
     Linux 3.10 failing, and with nothing failing (the filter's own cost),
     interleaved.

The minimal launcher and the yardstick are built with the launchers, with
the same flags (BUILD_DIR/bench). Needs hyperfine; Linux only (reads
/proc).
"""

import argparse
import datetime
import json
import math
import os
import platform
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "e2e"))
import harness  # noqa: E402  (registry text, the stub and its records)

GOAL_RATIO = 1.10         # launcher's time / minimal launcher's time
GOAL_YARDSTICK_RATIO = 1.05  # launcher's time / its yardstick's time
GOAL_EXTRA_FAULTS = 4  # launcher's page faults less its yardstick's
GOAL_PEAK_KIB = 2 * 1024  # the launcher's own peak resident memory
GOAL_100MB_SECONDS = 0.3  # tarvo on a 100 MB registry file
# Peak resident memory a 100 MB registry file may add to the sample
# installation's, the same launcher's.
GOAL_100MB_ADDED_KIB = 1024
# Bumped whenever the generated registry files change, so that old ones
# are made again.
REGISTRY_FORMAT = 2

V5_HEADER = "Windows Registry Editor Version 5.00"
TARVO_ARGS = ["list", "pool1"]
GORVANEL_ARGS = ["-l"]


def fail(message):
    print(f"bench: {message}", file=sys.stderr)
    sys.exit(1)


def section(title):
    print(f"\n=== {title}", flush=True)


def base_environment(**extra):
    """The caller's environment less what steers a launcher, the stub or
    the JVM."""
    env = harness.clean_environment(**extra)
    for name in ("JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS", "_JAVA_OPTIONS",
                 "GORVANEL_TRACE"):
        env.pop(name, None)
    return env


def load_average():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def cpu_model():
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown CPU"


# --- The sample installation ----------------------------------------------

class Installation:
    """Directories, the launchers, the stub as <jre>/bin/java and the
    minimal launcher, all under the work directory."""

    def __init__(self, build, work):
        root = work / "inst"
        self.opt, self.etc, self.var = (root / "opt", root / "etc",
                                        root / "var")
        self.jre = root / "jre"
        # gorvanel's class keeps its records below <var>/var.
        for directory in (self.opt, self.etc / "etc", self.var / "var"):
            directory.mkdir(parents=True, exist_ok=True)
        stub = build / "e2e" / "stub_java"
        if not stub.is_file():
            fail(f"{stub} is missing: build the tree first")
        self.java = harness.install_stub_java(stub, self.jre)
        # Copies with no tarvo.ini beside them: the Java runtime directory
        # comes from the registry whatever lies in the build tree.
        bin_dir = work / "bin"
        bin_dir.mkdir(exist_ok=True)
        self.tarvo = self._copy(build / "bin" / "tarvo", bin_dir)
        self.gorvanel = self._copy(build / "bin" / "gorvanel", bin_dir)
        # Built with the launchers' flags (bench/CMakeLists.txt).
        self.minimal = self._copy(build / "bench" / "minimal_launcher",
                                  bin_dir)
        self.yardstick = self._copy(build / "bench" / "yardstick", bin_dir)

    @staticmethod
    def _copy(source, directory):
        if not source.is_file():
            fail(f"{source} is missing: build the tree first")
        target = directory / source.name
        shutil.copy2(source, target)
        return target

    def keys(self, jre=None):
        """The site key and the provider key, as the launchers read them."""
        dirs = {"optPathName": str(self.opt), "etcPathName": str(self.etc),
                "varPathName": str(self.var)}
        return {harness.SITE_KEY: dict(dirs, jrePathName=str(jre or self.jre)),
                harness.PROVIDER_KEY: dirs}

    def tarvo_child_argv(self, java=None):
        return harness.tarvo_java_argv(
            "/", str(java or self.java), str(self.opt), str(self.etc),
            str(self.var), harness.host_port("tovrexm", 0),
            harness.host_port("nfport", 23456), TARVO_ARGS)

    def tarvo_child_env(self):
        package = self.opt / harness.PACKAGE
        return {"CLASSPATH": str(package / "java" / "archive" / "tarvo.jar"),
                "LIB": str(package / "lib")}

    def write_registry(self, path, jre=None):
        path.write_text(harness.registry_text(self.keys(jre),
                                              header=V5_HEADER))
        return path


# --- Large registry files --------------------------------------------------

def key_text(keys):
    """Key sections without the header."""
    return harness.registry_text(keys, header="").split("\r\n", 2)[2]


def filler_block(i):
    """One key of an ordinary export with the value kinds regedit writes (a
    hex list over two lines among them); now and then a deleted value or
    key, as merged exports have."""
    vendor, product = f"Vendor{i // 1000:04d}", f"Product{i % 1000:04d}"
    key = f"HKEY_LOCAL_MACHINE\\SOFTWARE\\Fillware\\{vendor}\\{product}"
    lines = [
        f"[{key}]",
        f'"DisplayName"="{product} of {vendor}"',
        f'"InstallLocation"="C:\\\\Program Files\\\\Fillware\\\\{vendor}'
        f'\\\\{product}"',
        f'"Version"=dword:{i:08x}',
        f'"Flags"=hex:01,00,00,00,{i % 256:02x},00',
        '"Paths"=hex(7):43,00,3a,00,5c,00,54,00,65,00,6d,00,70,00,00,00,44,'
        '00,3a,00,5c,\\',
        "  00,00,00,00,00",
    ]
    if i % 7 == 3:
        lines.append('"Flags"=-')
    lines.append("")
    if i % 50 == 49:
        lines += [f"[-{key}]", ""]
    return "\r\n".join(lines) + "\r\n"


def registry_file(path, target_bytes, keys, stale_keys, utf16=False):
    """A file of about target_bytes: the stale keys, filler, then the keys
    at the very end. Made once and reused while its recipe holds."""
    stamp = path.with_suffix(".stamp")
    recipe = f"{REGISTRY_FORMAT} {target_bytes} {utf16} {keys!r}"
    if path.exists() and stamp.exists() and stamp.read_text() == recipe:
        return path
    head = V5_HEADER + "\r\n\r\n" + key_text(stale_keys)
    tail = key_text(keys)
    chars = target_bytes // (2 if utf16 else 1) - len(tail)
    parts, size, i = [head], len(head), 0
    while size < chars:
        block = filler_block(i)
        parts.append(block)
        size += len(block)
        i += 1
    parts.append(tail)
    text = "".join(parts)
    path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le") if utf16
                     else text.encode("utf-8"))
    stamp.write_text(recipe)
    return path


# --- Running and measuring -------------------------------------------------

def verify(name, argv, env, want_argv=None, want_env=None):
    """One run with the stub recording: the command really started the
    stub once, with what it should have, and ended with 0. The record."""
    with tempfile.TemporaryDirectory() as tmp:
        record = Path(tmp) / "record"
        result = harness.run(argv, env=dict(env, STUB_JAVA_RECORD=str(record)))
        records = harness.read_records(record)
    if result.status != 0 or len(records) != 1:
        fail(f"{name}: expected one stub run and status 0, got "
             f"{len(records)} runs, {result.describe()}")
    got = records[0]
    if want_argv is not None and got.text_argv() != want_argv:
        fail(f"{name}: the stub got {got.text_argv()!r}, not {want_argv!r}")
    for variable, value in (want_env or {}).items():
        if got.text_env(variable) != value:
            fail(f"{name}: the stub got {variable}={got.text_env(variable)!r}"
                 f", not {value!r}")
    return got


def hyperfine(label, commands, env, runs, warmup, work, ignore_failure=False):
    """Runs hyperfine without a shell: {command name: its result}, times in
    seconds. Its raw results stay in WORK/results/LABEL.json."""
    out = work / "results" / f"{label}.json"
    out.parent.mkdir(exist_ok=True)
    argv = ["hyperfine", "--shell=none", "--style", "basic",
            "--warmup", str(warmup), "--runs", str(runs),
            "--export-json", str(out)]
    if ignore_failure:
        argv.append("--ignore-failure")
    for name, command in commands:
        argv += ["--command-name", name, shlex.join(map(str, command))]
    subprocess.run(argv, env=env, check=True)
    return {r["command"]: r for r in json.loads(out.read_text())["results"]}


def interleaved(commands, rounds, warmup, cpu=None, faults=None):
    """Times each command once a round, in a new random order each round,
    so that a drift in the machine's speed falls on all of them alike.
    commands: {name: (argv, env)}; returns {name: [seconds, ...]}. cpu, a
    dict, gets {name: [seconds, ...]} of the processor time each run took
    (user and system, the command's and its waited-for children's), which
    a busy machine disturbs less than the time on the clock. faults, a
    dict, likewise gets the page faults of each run (the command's and its
    waited-for children's)."""
    times = {name: [] for name in commands}
    for extra in (cpu, faults):
        if extra is not None:
            extra.update({name: [] for name in commands})
    order = list(commands)
    shuffle = random.Random(1).shuffle
    quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, flags, 0)
             for fd, flags in ((0, os.O_RDONLY), (1, os.O_WRONLY),
                               (2, os.O_WRONLY))]
    for round_number in range(warmup + rounds):
        shuffle(order)
        for name in order:
            argv, env = commands[name]
            argv = [str(a) for a in argv]
            started = time.perf_counter()
            pid = os.posix_spawn(argv[0], argv, env, file_actions=quiet)
            _, _, usage = os.wait4(pid, 0)
            if round_number >= warmup:
                times[name].append(time.perf_counter() - started)
                if cpu is not None:
                    cpu[name].append(usage.ru_utime + usage.ru_stime)
                if faults is not None:
                    faults[name].append(usage.ru_minflt + usage.ru_majflt)
    return times


def paired_difference(a, b):
    """The mean of a[i] − b[i] with two standard errors of it."""
    differences = [x - y for x, y in zip(a, b)]
    error = statistics.stdev(differences) / math.sqrt(len(differences))
    return statistics.mean(differences), 2 * error


def memory_of(pid):
    """The memory figures of /proc/<pid>/status, in KiB: the peak (VmHWM)
    and the resident pages now, anonymous (the process's own) and of files
    (mostly shared libraries' code, shared with other processes)."""
    fields = {}
    with open(f"/proc/{pid}/status") as lines:
        for line in lines:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS", "RssAnon", "RssFile"):
                fields[key] = int(value.split()[0])
    return fields


def find_child(pid, name):
    """A process named `name` whose parent is pid, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        # The name is in parentheses and may hold blanks and parentheses.
        comm = text[text.index("(") + 1:text.rindex(")")]
        parent = int(text[text.rindex(")") + 2:].split()[1])
        if parent == pid and comm == name:
            return int(entry)
    return None


def held_memory(argv, env, fifo, timeout=60):
    """The launcher's memory while its child, the stub, waits in the open()
    of the FIFO it records to; then lets the child go on and checks that
    it recorded one run. (launcher's figures, the stub's figures)"""
    process = subprocess.Popen(
        argv, env=dict(env, STUB_JAVA_RECORD=str(fifo)),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + timeout
    child = None
    while (child is None and process.poll() is None and
           time.monotonic() < deadline):
        child = find_child(process.pid, "java")
        if child is None:
            time.sleep(0.001)
    if child is None:
        process.kill()
        process.wait()
        fail(f"{argv[0]} ended or hung without starting the stub")
    launcher, stub = memory_of(process.pid), memory_of(child)
    with open(fifo, "rb") as record:  # the stub's open() now returns
        text = record.read()
    status = process.wait(timeout=timeout)
    if status != 0 or text.count(b"\nend\n") != 1:
        fail(f"{argv[0]}: status {status}, record {text[:200]!r}")
    return launcher, stub


def peak_memory(argv, env, work, repeat):
    """The reading with the largest VmHWM of `repeat` held runs, and GNU
    time's largest figure of as many runs."""
    fifo = work / "record.fifo"
    if fifo.exists():
        fifo.unlink()
    os.mkfifo(fifo)
    try:
        readings = [held_memory(argv, env, fifo) for _ in range(repeat)]
    finally:
        fifo.unlink()
    launcher, stub = max(readings, key=lambda r: r[0]["VmHWM"])
    gnu_time = None
    if Path("/usr/bin/time").is_file():
        figures = []
        for _ in range(repeat):
            run = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv,
                                 env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True)
            figures.append(int(run.stderr.split()[-1]))
        gnu_time = max(figures)
    return {"launcher": launcher, "stub": stub, "gnu_time": gnu_time}


# --- The Java VM -----------------------------------------------------------

class JvmSetup:
    """What the launchers start through a real Java VM.

    With the demo's jars built (BUILD_DIR/demo/tarvo.jar, gorvanel.jar), the
    launchers run the demo's classes on this machine's JDK, as `make demo`
    does. Without them, bin/java of a Java runtime directory of our own is
    a symbolic link to the JDK's program (the JVM finds its home through
    /proc/self/exe) and the classes are missing: each run is a whole JVM
    start that ends with "could not find or load main class" and status 1.
    Either way, the direct start runs the same program with the arguments
    and environment that the launcher's child gets."""

    def __init__(self, build, inst, work):
        found = shutil.which("java")
        self.available = found is not None
        if not self.available:
            return
        program = Path(os.path.realpath(found))
        jars = [build / "demo" / "tarvo.jar", build / "demo" / "gorvanel.jar"]
        self.demo = all(jar.is_file() for jar in jars)
        if self.demo:
            self.java = program
            places = (inst.opt / harness.PACKAGE / "java" / "archive",
                      inst.opt / "java" / "archive")
            for directory, jar in zip(places, jars):
                directory.mkdir(parents=True, exist_ok=True)
                shutil.copy2(jar, directory / jar.name)
        else:
            self.java = work / "inst" / "jvm" / "bin" / "java"
            self.java.parent.mkdir(parents=True, exist_ok=True)
            if self.java.is_symlink() or self.java.exists():
                self.java.unlink()
            self.java.symlink_to(program)
        self.status = 0 if self.demo else 1

    def describe(self):
        if self.demo:
            return ("the demo's classes (demo/tarvo.jar, gorvanel.jar) on "
                    f"{self.java}")
        return (f"{os.path.realpath(self.java)} with the launchers' classes "
                "absent (the demo's jars were not built): each run is a JVM "
                "start that ends in \"could not find or load main class\"")


# --- The measurements ------------------------------------------------------

class Bench:
    def __init__(self, build, work, quick):
        self.build, self.work, self.quick = build, work, quick
        self.runs, self.warmup = (30, 5) if quick else (300, 20)
        self.repeat = 2 if quick else 5
        self.inst = Installation(build, work)
        self.env = base_environment(TALVANE_REGISTRY=str(
            self.inst.write_registry(work / "registry-small.reg")))
        self.child = self.inst.tarvo_child_argv()
        self.tarvo = [self.inst.tarvo] + TARVO_ARGS
        self.gorvanel = [self.inst.gorvanel] + GORVANEL_ARGS
        self.minimal = [self.inst.minimal] + self.child
        self.yardsticks = {"tarvo": [self.inst.yardstick, "tarvo"] + self.child}

    def check_commands(self):
        section("checking that each command starts the stub as it should")
        verify("tarvo", self.tarvo, self.env, self.child,
               self.inst.tarvo_child_env())
        argv = verify("gorvanel", self.gorvanel, self.env).text_argv()
        if (harness.GORVANEL_CLASS not in argv or
                argv[-len(GORVANEL_ARGS):] != GORVANEL_ARGS):
            fail(f"gorvanel: the stub got {argv!r}")
        self.gorvanel_child = argv
        self.yardsticks["gorvanel"] = [self.inst.yardstick, "gorvanel"] + argv
        verify("minimal launcher", self.minimal, self.env, self.child)
        for name, command in self.yardsticks.items():
            verify(f"{name}'s yardstick", command, self.env,
                   self.child if name == "tarvo" else argv)
        verify("stub", self.child, self.env, self.child)
        print("all six start the stub as expected")

    def startup(self):
        section(f"start-up: {self.runs} runs after {self.warmup} warm-up "
                "runs each")
        return self.hyperfine("startup", [
            ("stub java, direct", self.child),
            ("minimal launcher", self.minimal),
            ("tarvo", self.tarvo),
            ("gorvanel", self.gorvanel),
        ], self.env, self.runs, self.warmup)

    def startup_paired(self):
        """Each launcher and its yardstick, one after the other in a random
        order each round: {launcher: (its times, its yardstick's, its page
        faults, its yardstick's)}."""
        rounds = 100 if self.quick else 2000
        section(f"start-up against the yardsticks, interleaved: {rounds} "
                "rounds")
        commands = {}
        for name, yardstick in self.yardsticks.items():
            commands[name] = (getattr(self, name), self.env)
            commands[f"{name}'s yardstick"] = (yardstick, self.env)
        faults = {}
        times = interleaved(commands, rounds, self.warmup, faults=faults)
        out = self.work / "results" / "startup-paired.json"
        out.parent.mkdir(exist_ok=True)
        out.write_text(json.dumps({"times": times, "faults": faults}))
        return {name: (times[name], times[f"{name}'s yardstick"],
                       faults[name], faults[f"{name}'s yardstick"])
                for name in self.yardsticks}

    def close_range_fallback(self):
        """gorvanel under the seccomp wrapper in each mode, interleaved:
        {mode: times}, or None (why said) where the wrapper cannot run."""
        wrapper = self.build / "e2e" / "seccomp_wrapper"
        section("gorvanel where close_range fails")
        if not wrapper.is_file():
            print(f"{wrapper} is missing (a build without tests): skipped")
            return None
        modes = ("pass", "close_range=EPERM", "enosys-after-3.10")
        for mode in modes:
            probe = subprocess.run([wrapper, "--probe", mode],
                                   capture_output=True, text=True)
            if probe.returncode != 0:
                print(f"seccomp_wrapper {mode}: {probe.stderr.strip()}: "
                      "skipped")
                return None
        commands = {mode: ([wrapper, mode] + self.gorvanel, self.env)
                    for mode in modes}
        for mode, (argv, env) in commands.items():
            verify(f"gorvanel under seccomp_wrapper {mode}", argv, env,
                   self.gorvanel_child)
        rounds = 100 if self.quick else 2000
        print(f"{rounds} interleaved rounds")
        cpu = {}
        times = interleaved(commands, rounds, self.warmup, cpu)
        return times, cpu

    def memory(self):
        section("peak resident memory")
        figures = {name: peak_memory(argv, self.env, self.work, self.repeat)
                   for name, argv in (("tarvo", self.tarvo),
                                      ("gorvanel", self.gorvanel),
                                      ("minimal launcher", self.minimal))}
        for name, m in figures.items():
            print(f"{name}: {m}")
        return figures

    def registry_sizes(self):
        section("tarvo and the size of the registry file")
        stale = self.inst.keys(jre="/stale/jre")
        for values in stale.values():
            values.update({k: "/stale" for k in values if k != "jrePathName"})
        rows = []
        for label, size, utf16 in (("1 KB", 1000, False),
                                   ("1 MB", 1_000_000, False),
                                   ("100 MB, UTF-16LE", 100_000_000, True),
                                   ("100 MB", 100_000_000, False)):
            name = f"registry-{size}{'-utf16' if utf16 else ''}"
            path = registry_file(self.work / f"{name}.reg", size,
                                 self.inst.keys(), stale, utf16)
            env = base_environment(TALVANE_REGISTRY=str(path))
            verify(f"tarvo ({label})", self.tarvo, env, self.child)
            large = size >= 100_000_000
            if large:
                runs, warmup = (5, 1) if self.quick else (30, 3)
            else:
                runs, warmup = self.runs // 3, self.warmup
            result = self.hyperfine(name, [(f"tarvo, {label}", self.tarvo)],
                                    env, runs, warmup)
            peak = peak_memory(self.tarvo, env, self.work,
                               1 if large else self.repeat)
            rows.append((f"tarvo, {label}", path.stat().st_size,
                         result[f"tarvo, {label}"], peak))
        # gorvanel reads two keys, the provider key and the site key: two
        # passes over the file.
        verify("gorvanel (100 MB)", self.gorvanel, env, self.gorvanel_child)
        result = self.hyperfine("registry-gorvanel", [
            ("gorvanel, 100 MB", self.gorvanel)], env, runs, warmup)
        rows.append(("gorvanel, 100 MB (two keys)", path.stat().st_size,
                     result["gorvanel, 100 MB"],
                     peak_memory(self.gorvanel, env, self.work, 1)))
        return rows

    def jvm(self):
        section("through a real Java VM")
        jvm = JvmSetup(self.build, self.inst, self.work)
        if not jvm.available:
            print("no java on PATH: skipped")
            return None, {}
        print(jvm.describe())
        env = base_environment(TALVANE_REGISTRY=str(self.inst.write_registry(
            self.work / "registry-jvm.reg", jre=jvm.java.parent.parent)))
        for name, command in (("tarvo", self.tarvo),
                              ("gorvanel", self.gorvanel)):
            result = harness.run(command, env=env)
            if result.status != jvm.status:
                fail(f"{name} through the JVM: {result.describe()}")
        runs, warmup = (5, 1) if self.quick else (60, 5)
        results = self.hyperfine("jvm-direct", [
            ("java -version, direct", [jvm.java, "-version"]),
            ("gorvanel's java command, direct",
             [jvm.java] + self.gorvanel_child[1:]),
        ], env, runs, warmup, ignore_failure=True)
        # tarvo's child gets CLASSPATH and LIB from tarvo.
        results.update(self.hyperfine("jvm-direct-tarvo", [
            ("tarvo's java command, direct",
             self.inst.tarvo_child_argv(jvm.java)),
        ], dict(env, **self.inst.tarvo_child_env()), runs, warmup,
            ignore_failure=True))
        results.update(self.hyperfine("jvm-launchers", [
            ("tarvo", self.tarvo), ("gorvanel", self.gorvanel),
        ], env, runs, warmup, ignore_failure=not jvm.demo))
        # A launcher adds about a millisecond to a JVM start that varies by
        # several between blocks of runs: the difference is taken from
        # interleaved runs.
        rounds = 5 if self.quick else 100
        section(f"through a real Java VM, interleaved: {rounds} rounds")
        tarvo_env = dict(env, **self.inst.tarvo_child_env())
        paired = interleaved({
            "tarvo": (self.tarvo, env),
            "tarvo direct": (self.inst.tarvo_child_argv(jvm.java), tarvo_env),
            "gorvanel": (self.gorvanel, env),
            "gorvanel direct": ([jvm.java] + self.gorvanel_child[1:], env),
        }, rounds, 2)
        for name in ("tarvo", "gorvanel"):
            difference, error = paired_difference(
                paired[name], paired[f"{name} direct"])
            results[name]["paired"] = (difference, error,
                                       statistics.mean(paired[name]), rounds)
        return jvm, results

    def hyperfine(self, label, commands, env, runs, warmup,
                  ignore_failure=False):
        return hyperfine(label, commands, env, runs, warmup, self.work,
                         ignore_failure)


# --- The report ------------------------------------------------------------

def ms(seconds):
    return f"{seconds * 1000:.3f}"


def mib(kib):
    return f"{kib / 1024:.2f} MiB"


def verdict(ok):
    return "met" if ok else "**missed**"


def report_startup(startup, runs):
    minimal = startup["minimal launcher"]
    print(f"Start-up with the stub Java VM as the child ({runs} runs each, "
          "no shell):\n")
    print("| Command | Mean [ms] | σ [ms] | Median [ms] | Min [ms] "
          "| × minimal launcher, mean | × minimal launcher, median "
          "| Goal ≤ 1.10 |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for name, r in startup.items():
        ratio = r["mean"] / minimal["mean"]
        goal = verdict(ratio <= GOAL_RATIO) \
            if name in ("tarvo", "gorvanel") else ""
        print(f"| {name} | {ms(r['mean'])} | {ms(r['stddev'])} | "
              f"{ms(r['median'])} | {ms(r['min'])} | {ratio:.2f} | "
              f"{r['median'] / minimal['median']:.2f} | {goal} |")


def report_paired(paired):
    rounds = len(next(iter(paired.values()))[0])
    print(f"\nEach launcher against its yardstick (bench/yardstick.c: the "
          f"lookups the launcher needs, then a child with a parent-death "
          f"signal, and the wait), {rounds} interleaved rounds:\n")
    print("| Launcher | Mean [ms] | Yardstick mean [ms] | Launcher − "
          "yardstick [ms] | × yardstick, mean | × yardstick, median "
          f"| Goal ≤ {GOAL_YARDSTICK_RATIO} | Page faults | Yardstick's | "
          f"Goal: ≤ {GOAL_EXTRA_FAULTS} more |")
    print("|---|---:|---:|---:|---:|---:|---|---:|---:|---|")
    for name, (launcher, yardstick, faults, yardstick_faults) in \
            paired.items():
        extra_faults = statistics.mean(faults) - statistics.mean(
            yardstick_faults)
        difference, error = paired_difference(launcher, yardstick)
        ratio = statistics.mean(launcher) / statistics.mean(yardstick)
        median_ratio = (statistics.median(launcher) /
                        statistics.median(yardstick))
        print(f"| {name} | {ms(statistics.mean(launcher))} | "
              f"{ms(statistics.mean(yardstick))} | "
              f"{difference * 1000:.3f} ± {error * 1000:.3f} | {ratio:.3f} | "
              f"{median_ratio:.3f} | "
              f"{verdict(ratio <= GOAL_YARDSTICK_RATIO)} | "
              f"{statistics.mean(faults):.1f} | "
              f"{statistics.mean(yardstick_faults):.1f} | "
              f"{verdict(extra_faults <= GOAL_EXTRA_FAULTS)} |")
    print("\nTimes from spawn to reaped exit, taken by this script; the "
          "difference is the mean of the rounds' differences with two "
          "standard errors. Page faults are the means of each run's, the "
          "stub it started included (the same stub for both).")


def report_fallback(fallback):
    times, cpu = fallback
    rounds = len(times["pass"])
    print(f"\ngorvanel -l under e2e/seccomp_wrapper, {rounds} interleaved "
          "rounds: close_range working (pass: the filter alone), failing "
          "with EPERM (the descriptors are walked in /proc/self/fd), and "
          "every call newer than Linux 3.10 failing with ENOSYS:\n")
    print("| Mode | Mean [ms] | Median [ms] | − pass [µs] | Processor "
          "time, mean [ms] | − pass [µs] |")
    print("|---|---:|---:|---:|---:|---:|")
    for mode, values in times.items():
        extra = ["", ""]
        if mode != "pass":
            for i, series in enumerate((times, cpu)):
                difference, error = paired_difference(series[mode],
                                                      series["pass"])
                extra[i] = f"{difference * 1e6:.1f} ± {error * 1e6:.1f}"
        print(f"| {mode} | {ms(statistics.mean(values))} | "
              f"{ms(statistics.median(values))} | {extra[0]} | "
              f"{ms(statistics.mean(cpu[mode]))} | {extra[1]} |")
    print("\nThe differences are the means of the rounds' differences with "
          "two standard errors. Processor time: user and system time of "
          "gorvanel and the stub it waited for (wait4).")


def report_memory(memory, repeat):
    print(f"\nPeak resident memory of the launcher process itself (largest "
          f"VmHWM of {repeat} runs, read while its child waited; the "
          "resident pages at that moment, anonymous and of files):\n")
    print("| Program | VmHWM | RSS: anon + file [KiB] "
          "| GNU time %M, with the child | Goal ≤ 2 MiB |")
    print("|---|---:|---:|---:|---|")
    for name, m in memory.items():
        own = m["launcher"]
        goal = verdict(own["VmHWM"] <= GOAL_PEAK_KIB) \
            if name != "minimal launcher" else ""
        gnu = mib(m["gnu_time"]) if m["gnu_time"] else "n/a"
        print(f"| {name} | {mib(own['VmHWM'])} | {own['RssAnon']} + "
              f"{own['RssFile']} | {gnu} | {goal} |")
    stub = max(m["stub"]["VmHWM"] for m in memory.values())
    print(f"\nThe stub child's own VmHWM: up to {mib(stub)}.")


def report_sizes(rows, memory):
    """`memory`: the sample installation's figures (report_memory), whose
    peak each row's is compared with, the same program's."""
    print("\nThe size of the registry file (the needed keys at the end):\n")
    print("| Command, registry file | Bytes | Mean [ms] | σ [ms] | Runs "
          "| Peak RSS (VmHWM) | Added over the sample installation's "
          "| Goal ≤ 0.3 s | Goal: adds ≤ 1 MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|---|---|")
    for label, size, r, peak in rows:
        program = label.split(",")[0]
        own = peak["launcher"]["VmHWM"]
        added = own - memory[program]["launcher"]["VmHWM"]
        large = size >= 100_000_000
        goal = verdict(r["mean"] <= GOAL_100MB_SECONDS) \
            if large and program == "tarvo" else ""
        memory_goal = verdict(added <= GOAL_100MB_ADDED_KIB) if large else ""
        print(f"| {label} | {size:,} | {ms(r['mean'])} | {ms(r['stddev'])} "
              f"| {len(r['times'])} | {mib(own)} | {added / 1024:+.2f} MiB "
              f"| {goal} | {memory_goal} |")
    (_, s1k, r1k, _), (_, s1m, r1m, _), _, (_, s100, r100, _) = rows[:4]
    small = (r1m["mean"] - r1k["mean"]) / ((s1m - s1k) / 1e6)
    large = (r100["mean"] - r1m["mean"]) / ((s100 - s1m) / 1e6)
    print(f"\nCost per MB of file: {ms(small)} ms from 1 KB to 1 MB, "
          f"{ms(large)} ms from 1 MB to 100 MB.")


def report_jvm(jvm, results, startup):
    runs = len(next(iter(results.values()))["times"])
    rounds = next(r["paired"][3] for r in results.values() if "paired" in r)
    print(f"\nThrough a real Java VM: {jvm.describe()}. Times from hyperfine, "
          f"{runs} runs each; the launcher's own part from interleaved "
          "runs:\n")
    print("| Command | Mean [ms] | σ [ms] | Launcher − direct, interleaved "
          "[ms] | Launcher's share | Share from the stub runs |")
    print("|---|---:|---:|---:|---:|---:|")
    direct_stub = startup["stub java, direct"]
    for name, r in results.items():
        cells = ["", "", ""]
        if "paired" in r:
            extra, error, mean, _ = r["paired"]
            own = startup[name]["mean"] - direct_stub["mean"]
            cells = [f"{extra * 1000:.2f} ± {error * 1000:.2f}",
                     f"{extra / mean * 100:.1f} %",
                     f"{own / r['mean'] * 100:.1f} %"]
        print(f"| {name} | {ms(r['mean'])} | {ms(r['stddev'])} | "
              + " | ".join(cells) + " |")
    print(f"\nInterleaved: {rounds} rounds, each running the launcher and "
          "the direct start of the same Java command (same arguments and "
          "environment) in a random order; the mean difference with two "
          "standard errors. Launcher's share = that difference / the "
          "launcher's mean time in those rounds. Share from the stub runs = "
          "(the launcher with the stub − the stub started directly) / the "
          "launcher's hyperfine time here.")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", type=Path,
                        default=REPO / "build" / "linux-x86_64")
    parser.add_argument("--work-dir", type=Path)
    parser.add_argument("--quick", action="store_true")
    options = parser.parse_args()
    if not sys.platform.startswith("linux"):
        fail("runs on Linux only")
    for tool, why in (("hyperfine", "Debian: apt-get install hyperfine"),):
        if shutil.which(tool) is None:
            fail(f"{tool} is not installed ({why})")
    if os.getegid() != 0 and 0 not in os.getgroups():
        fail("gorvanel admits only members of group id 0, the stand-in for "
             "the Administrators group: run as root")
    build = options.build_dir.resolve()
    work = (options.work_dir or build / "bench").resolve()
    work.mkdir(parents=True, exist_ok=True)

    load_at_start = load_average()
    bench = Bench(build, work, options.quick)
    bench.check_commands()
    startup = bench.startup()
    paired = bench.startup_paired()
    fallback = bench.close_range_fallback()
    memory = bench.memory()
    sizes = bench.registry_sizes()
    jvm, jvm_results = bench.jvm()

    section("results (Markdown)")
    hyperfine_version = subprocess.run(["hyperfine", "--version"],
                                       capture_output=True,
                                       text=True).stdout.strip()
    print(f"Machine: {cpu_model()}, {os.cpu_count()} cores, Linux "
          f"{platform.release()}; {hyperfine_version}; "
          f"{datetime.date.today().isoformat()}; load average "
          f"{load_at_start} at the start, {load_average()} at the end. "
          "Reproduce with `make bench`.\n")
    report_startup(startup, bench.runs)
    report_paired(paired)
    if fallback:
        report_fallback(fallback)
    report_memory(memory, bench.repeat)
    report_sizes(sizes, memory)
    if jvm_results:
        report_jvm(jvm, jvm_results, startup)
    return 0


if __name__ == "__main__":
    sys.exit(main())

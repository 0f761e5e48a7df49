#!/usr/bin/env python3
"""Each launcher of other builds against the same launcher of a base build:
page faults per run and time, in interleaved rounds pinned to one processor.

  bench/compare.py --build-dir DIR BASE OTHER... [--rounds N] [--cpu N]

  --build-dir  a built tree, for the sample installation and the stub Java
               VM (DIR/e2e/stub_java)
  BASE, OTHER  directories each holding a tarvo and a gorvanel
  --rounds     rounds after the warm-up (default 2000)
  --cpu        the processor every run is pinned to (default: the last)

For each OTHER and launcher: the mean page faults per run over the base's
and the mean time difference with its 95% interval (1.96 standard errors
of the rounds' differences). An interval that excludes zero shows a time
difference; one that holds zero shows none. What a start-up choice buys
is measured by a build without it (bench/RESULTS.md).
"""

import argparse
import os
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import run  # noqa: E402  (the sample installation and the interleaved runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--rounds", type=int, default=2000)
    parser.add_argument("--cpu", type=int, default=os.cpu_count() - 1)
    parser.add_argument("base", type=Path)
    parser.add_argument("others", type=Path, nargs="+")
    options = parser.parse_args()
    os.sched_setaffinity(0, {options.cpu})  # the runs inherit it

    build = options.build_dir.resolve()
    work = build / "bench-compare"
    work.mkdir(parents=True, exist_ok=True)
    bench = run.Bench(build, work, quick=False)
    builds = [options.base.resolve()] + [o.resolve() for o in options.others]
    commands = {}
    for directory in builds:
        for launcher, args in (("tarvo", run.TARVO_ARGS),
                               ("gorvanel", run.GORVANEL_ARGS)):
            argv = [directory / launcher] + args
            run.verify(f"{directory.name}/{launcher}", argv, bench.env)
            commands[(directory, launcher)] = (argv, bench.env)
    faults = {}
    times = run.interleaved(commands, options.rounds, 20, faults=faults)

    print(f"\n{options.rounds} interleaved rounds on processor "
          f"{options.cpu}, against {builds[0].name}:\n")
    print("| Build | Launcher | Page faults | Over the base's | "
          "Time over the base's [µs], 95% interval | Shown |")
    print("|---|---|---:|---:|---:|---|")
    for directory in builds[1:]:
        for launcher in ("tarvo", "gorvanel"):
            mine, base = (directory, launcher), (builds[0], launcher)
            difference, two_errors = run.paired_difference(times[mine],
                                                           times[base])
            half = 1.96 / 2 * two_errors
            extra = (statistics.mean(faults[mine]) -
                     statistics.mean(faults[base]))
            shown = "yes" if abs(difference) > half else "no"
            print(f"| {directory.name} | {launcher} | "
                  f"{statistics.mean(faults[mine]):.1f} | {extra:+.1f} | "
                  f"{difference * 1e6:+.0f} ± {half * 1e6:.0f} | {shown} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())

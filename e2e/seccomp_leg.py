#!/usr/bin/env python3
"""An end-to-end suite once more, each launcher run under seccomp_wrapper in
a mode (LAUNCHER_WRAPPER), as on a system that lacks what the mode takes
away: the stub Java VM it starts runs under the same filter.

    python3 e2e/seccomp_leg.py WRAPPER MODE COMMAND...

Where the mode cannot be installed here (no seccomp, another architecture)
it says so and ends with 77, which ctest counts as skipped; with CI=true,
with 1.
"""

import os
import shlex
import subprocess
import sys

SKIPPED = 77


def main(args):
    if len(args) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    wrapper, mode, command = os.path.abspath(args[0]), args[1], args[2:]
    probe = subprocess.run([wrapper, "--probe", mode], capture_output=True,
                           text=True, check=False)
    if probe.returncode != 0:
        reason = probe.stderr.strip() or f"status {probe.returncode}"
        if os.environ.get("CI") == "true":
            print(f"seccomp leg ({mode}): {reason}; CI=true needs it",
                  file=sys.stderr)
            return 1
        print(f"seccomp leg ({mode}) skipped: {reason}")
        return SKIPPED
    print(f"seccomp leg: each launcher runs under {wrapper} {mode}",
          flush=True)
    env = dict(os.environ, LAUNCHER_WRAPPER=shlex.join([wrapper, mode]))
    return subprocess.run(command, env=env, check=False).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

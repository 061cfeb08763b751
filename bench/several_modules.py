#!/usr/bin/env python3
"""A bench of simulated modules updated at once against one module alone.

Runs, in turn, `tarvenctl --simulate=1 --sim-wire-time MS --all update --yes` and the same with
N modules, R times each, and prints for each the median wall time and the host CPU (user +
system, from the finished child's accounting) as a share of one core, then the ratio of the
medians. At 1 ms a report (full-speed USB) one update takes about 3.3 s, so R = 5 takes a minute.

    python3 bench/several_modules.py build/default/bin/tarvenctl            # 8 modules, 5 runs
    python3 bench/several_modules.py build/default/bin/tarvenctl -n 16 -r 3
    python3 bench/several_modules.py build/default/bin/tarvenctl --backup   # a backup of each
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(command):
    """Wall seconds and CPU seconds of one whole process; fails loudly when it fails."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(command)}: failed: {process.stderr.read().decode(errors='replace')}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tarvenctl")
    parser.add_argument("-n", "--modules", type=int, default=8)
    parser.add_argument("-r", "--runs", type=int, default=5)
    parser.add_argument("--wire-ms", default="1")
    parser.add_argument("--backup", action="store_true",
                        help="back every module up (into a temporary folder) instead of updating")
    args = parser.parse_args()
    folder = tempfile.TemporaryDirectory()
    work = (["backup", os.path.join(folder.name, "{serial}.tar"), "--force"] if args.backup
            else ["update", "--yes"])

    def command(modules):
        return [args.tarvenctl, f"--simulate={modules}", "--sim-wire-time", args.wire_ms,
                "--all"] + work

    times = {1: [], args.modules: []}
    for _ in range(args.runs):
        for modules in times:
            times[modules].append(run(command(modules)))
    medians = {}
    for modules, runs in times.items():
        wall = statistics.median(w for w, _ in runs)
        cpu = statistics.median(c / w for w, c in runs)
        medians[modules] = wall
        print(f"{modules:3d} module(s): median {wall:.3f} s (spread {min(w for w, _ in runs):.3f} "
              f"to {max(w for w, _ in runs):.3f}), host CPU {100 * cpu:.1f} % of one core")
    print(f"ratio {args.modules} modules / 1 module: {medians[args.modules] / medians[1]:.3f}")


if __name__ == "__main__":
    main()

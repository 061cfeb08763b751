#!/usr/bin/env python3
"""Simulated operations against the time their reports take on the wire.

For each operation, counts its feature reports once (--trace: one line per report each way), then
times it R times with --sim-wire-time MS, and prints the median wall time against
(reports x MS) + the start of a process that sends nearly nothing (`status`), as a ratio: 1.00
means the tool adds nothing to the wire's own time.

    python3 bench/wire_time.py build/default/bin/tarvenctl            # 1 ms a report, 3 runs
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, cwd):
    start = time.perf_counter()
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)}: failed: {done.stderr.decode(errors='replace')}")
    return wall


def reports(tool, words, cwd):
    done = subprocess.run([tool, "--simulate", "--trace"] + words, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return sum(1 for line in done.stderr.decode(errors="replace").splitlines()
               if line.startswith(("-> ", "<- ")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tarvenctl")
    parser.add_argument("-r", "--runs", type=int, default=3)
    parser.add_argument("--wire-ms", type=float, default=1.0)
    args = parser.parse_args()
    tool = os.path.abspath(args.tarvenctl)
    with tempfile.TemporaryDirectory() as cwd:
        run([tool, "--simulate", "backup", "module.tar"], cwd)
        run([tool, "--simulate", "image", "read", "rom", "rom.bin"], cwd)
        operations = [
            ["update", "--yes"],
            ["image", "write", "rom", "rom.bin", "--yes"],
            ["image", "read", "rom", "out.bin", "--force"],
            ["backup", "out.tar", "--force"],
            ["restore", "module.tar", "--yes"],
        ]
        wire = ["--sim-wire-time", str(args.wire_ms)]
        start = statistics.median(
            run([tool, "--simulate"] + wire + ["status"], cwd) - reports(tool, ["status"], cwd) *
            args.wire_ms / 1000 for _ in range(args.runs))
        print(f"process start and status' own work: {start * 1000:.0f} ms")
        for words in operations:
            count = reports(tool, words, cwd)
            wall = statistics.median(run([tool, "--simulate"] + wire + words, cwd)
                                     for _ in range(args.runs))
            expected = count * args.wire_ms / 1000 + start
            print(f"{' '.join(words[:3]):22} {count:6d} reports  {wall:7.3f} s  "
                  f"expected {expected:7.3f} s  ratio {wall / expected:.3f}")


if __name__ == "__main__":
    main()

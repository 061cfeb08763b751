#!/usr/bin/env python3
"""Start-up time of the window against a bare Qt Widgets window of the same size.

Both binaries run alternately, N times each, with TARVEN_EXIT_AFTER_FIRST_PAINT set: each prints
"first-paint" once its window has been painted for the first time and "pages-built" once every
page exists (the bare window has all its pages from the start), and quits. The times from exec to
those lines are taken here, outside the process, so that they include loading the libraries and
building the window. Prints, for each line, the median, the spread (fastest and slowest run) and
the ratio of the medians to the bare window's first paint.

    xvfb-run -a python3 bench/startup.py build/default/bin          # under an X server
    QT_QPA_PLATFORM=offscreen python3 bench/startup.py build/default/bin
    python3 bench/startup.py build/default/bin --also before=/tmp/tarven.old   # side by side
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

MARKERS = (b"first-paint", b"pages-built")


def time_to_markers(command, env, timeout):
    """Seconds from exec to each marker line, in the order of MARKERS."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    seen = {}
    try:
        deadline = start + timeout
        for line in process.stdout:
            marker = line.strip()
            if marker in MARKERS and marker not in seen:
                seen[marker] = time.perf_counter() - start
                if len(seen) == len(MARKERS):
                    break
            if time.perf_counter() > deadline:
                raise RuntimeError(f"{command[0]}: no start-up marks within {timeout} s")
        else:
            missing = [m.decode() for m in MARKERS if m not in seen]
            raise RuntimeError(f"{command[0]}: ended without printing {', '.join(missing)}")
        # The next run starts only when this one has gone, so that the two never share the CPU.
        process.wait(timeout=timeout)
        return [seen[m] for m in MARKERS]
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin_dir", help="folder holding tarven and tarven_minimal_window")
    parser.add_argument("-n", "--runs", type=int, default=30, help="runs of each binary")
    parser.add_argument("--warmup", type=int, default=3, help="untimed runs of each first")
    parser.add_argument("--timeout", type=float, default=30.0)
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another build of tarven, timed in the same rotation")
    parser.add_argument("tarven_args", nargs="*", default=["--simulate"],
                        help="arguments for tarven (default: --simulate)")
    args = parser.parse_args()

    env = dict(os.environ)
    env["TARVEN_EXIT_AFTER_FIRST_PAINT"] = "1"
    if "DISPLAY" not in env and "WAYLAND_DISPLAY" not in env:
        env.setdefault("QT_QPA_PLATFORM", "offscreen")
    windows = {"tarven": os.path.join(args.bin_dir, "tarven")}
    for entry in args.also:
        name, _, path = entry.partition("=")
        windows[name] = path
    commands = {name: [path] + args.tarven_args for name, path in windows.items()}
    commands["minimal window"] = [os.path.join(args.bin_dir, "tarven_minimal_window")]

    for _ in range(args.warmup):
        for command in commands.values():
            time_to_markers(command, env, args.timeout)
    times = {name: ([], []) for name in commands}
    for _ in range(args.runs):
        for name, command in commands.items():
            for series, seconds in zip(times[name], time_to_markers(command, env, args.timeout)):
                series.append(seconds)

    baseline = statistics.median(times["minimal window"][0])
    platform = env.get("QT_QPA_PLATFORM") or ("xcb" if "DISPLAY" in env else "default")
    print(f"platform {platform}, {args.runs} runs each in rotation, "
          f"tarven arguments: {' '.join(args.tarven_args)}")
    for name, series in times.items():
        for marker, values in zip(MARKERS, series):
            median = statistics.median(values)
            print(f"{name:>16} {marker.decode():>12}: median {median * 1000:6.1f} ms "
                  f"(spread {min(values) * 1000:6.1f} to {max(values) * 1000:6.1f}), "
                  f"ratio {median / baseline:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

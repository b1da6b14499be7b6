#!/usr/bin/env python3
"""A many-core rehearsal: what matbench-speedup makes of a 64-core machine through each clock.

    scripts/manycore.py [TOOL] [--runs N] [--serial-ms T] [--seed S]

Simulates sessions of a machine where the product takes T(1) = --serial-ms on one thread and
T(p) = T(1) / p on p <= 64 threads, each time with multiplicative noise of 1% or 5% (normal,
that share as its standard deviation), read as the benchmark reads it (whole ticks at the end
less whole ticks at the start, at a random phase) on the millisecond clock of matbench and the
microsecond clock of matbench-fine. The benchmark's sweep stops at 20 threads, so the session
carries the times of teams of 8, 32 and 64 in its rows 8, 19 and 20: a speedup is the serial
time over that row's, within each run, whatever the row is called. Prints the tool's speedup
interval for each, beside the true speedup.
"""
import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile

TEAMS = {8: 8, 19: 32, 20: 64}  # row of the session -> team size simulated


def reading(rng, true_s, tick_s):
    start = rng.uniform(0.0, 1000.0)
    return round((math.floor((start + true_s) / tick_s) - math.floor(start / tick_s)) * tick_s, 6)


def session(rng, runs, serial_s, noise, tick_s, path):
    entries = []
    for _ in range(runs):
        def timed(p):
            return reading(rng, serial_s / p * max(0.01, rng.gauss(1.0, noise)), tick_s)
        rows = [TEAMS.get(row, row) for row in range(1, 21)]
        entries.append({"serial_s": timed(1), "parallel_s": [timed(p) for p in rows],
                        "failure": None})
    data = {"format": "matbench-speedup session", "format_version": 1,
            "session": {"requested_runs": runs},
            "context": {"processors": 64, "cores": 64, "omp_settings": {},
                        "clock_tick_seconds": tick_s},
            "runs": entries}
    with open(path, "w") as out:
        json.dump(data, out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool", nargs="?", default="build/matbench-speedup")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--serial-ms", type=float, default=100.0)
    parser.add_argument("--seed", type=int, default=20261210)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="matbench-manycore-")
    path = os.path.join(folder, "session.json")
    print(f"64 cores, T(1) = {args.serial_ms:g} ms, T(p) = T(1)/p; {args.runs} runs a session;"
          " speedup vs serial, median [95% interval]")
    print(f"{'clock':6s} {'noise':>5s}  " + "  ".join(f"{'S@' + str(p):>22s}" for p in TEAMS.values()))
    for tick_name, tick_s in (("1 ms", 1e-3), ("1 µs", 1e-6)):
        for noise in (0.01, 0.05):
            rng = random.Random(args.seed)  # the same true times through both clocks
            session(rng, args.runs, args.serial_ms / 1000.0, noise, tick_s, path)
            result = subprocess.run([args.tool, "--input", path, "--json"], capture_output=True,
                                    text=True, check=False)
            if result.returncode != 0:
                sys.exit("the tool failed:\n" + result.stderr)
            teams = json.loads(result.stdout)["figures"]["team_sizes"]
            cells = []
            for row in TEAMS:
                s = teams[row - 1]["speedup_vs_serial"]
                high = "none" if s["high"] is None else f"{s['high']:.1f}"
                cells.append(f"{s['median']:6.1f} [{s['low']:5.1f}, {high:>5s}]")
            print(f"{tick_name:6s} {noise:5.0%}  " + "  ".join(f"{c:>22s}" for c in cells))
    os.remove(path)
    os.rmdir(folder)


if __name__ == "__main__":
    main()

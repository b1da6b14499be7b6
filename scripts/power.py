#!/usr/bin/env python3
"""How often matbench-speedup's compare calls a change, on simulated 50 ms rows.

    scripts/power.py [TOOL] [--trials N] [--seed S] [--tick us|ms]

Each trial writes two sessions of 21 rows (serial and 20 team sizes, all about 50 ms), BASE
and NEW = BASE x (1 + change), each time true + normal noise, read as the benchmark reads
(whole ticks at the end less whole ticks at the start, at a random phase) on the chosen clock,
and has the tool compare them. It prints, per scenario, the share of rows judged "slower" or
given any verdict, and the smallest callable change the tool stated. The scenarios:

- a 5% slowdown, 1 ms noise, 10 runs a side (called slower in at least 80% of rows?)
- a 3% slowdown, 0.3 ms noise, 30 runs a side (at least 90%?)
- no change at 10 and at 30 runs (a verdict in at most 1% of rows?)
- a 1% slowdown at 10 and at 30 runs (called slower in at most 5% of rows?)

A benchmark script, not a test: it takes a minute or two at 100 trials.
"""
import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile

ROWS = 21

SCENARIOS = [  # (name, change, noise ms, runs a side, the goal's test on the share)
    ("5% slower, 1 ms noise, 10 runs", 0.05, 1.0, 10, ("slower", ">=", 0.80)),
    ("3% slower, 0.3 ms noise, 30 runs", 0.03, 0.3, 30, ("slower", ">=", 0.90)),
    ("no change, 1 ms noise, 10 runs", 0.0, 1.0, 10, ("verdict", "<=", 0.01)),
    ("no change, 0.3 ms noise, 30 runs", 0.0, 0.3, 30, ("verdict", "<=", 0.01)),
    ("1% slower, 1 ms noise, 10 runs", 0.01, 1.0, 10, ("slower", "<=", 0.05)),
    ("1% slower, 0.3 ms noise, 30 runs", 0.01, 0.3, 30, ("slower", "<=", 0.05)),
]


def reading(rng, true_s, tick_s):
    start = rng.uniform(0.0, 1000.0)
    return (math.floor((start + true_s) / tick_s) - math.floor(start / tick_s)) * tick_s


def write_session(rng, path, runs, scale, noise_ms, tick_s, record_tick):
    entries = []
    for _ in range(runs):
        times = [reading(rng, scale * max(1e-6, rng.gauss(0.050, noise_ms / 1000.0)), tick_s)
                 for _ in range(ROWS)]
        # Six decimals, as the report prints them.
        times = [round(t, 6) for t in times]
        entries.append({"serial_s": times[0], "parallel_s": times[1:], "failure": None})
    context = {"processors": 2, "cores": 2, "omp_settings": {}}
    if record_tick:
        context["clock_tick_seconds"] = tick_s
    data = {"format": "matbench-speedup session", "format_version": 1,
            "session": {"requested_runs": runs}, "context": context, "runs": entries}
    with open(path, "w") as out:
        json.dump(data, out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool", nargs="?", default="build/matbench-speedup")
    parser.add_argument("--trials", type=int, default=100)
    parser.add_argument("--seed", type=int, default=20261210)
    parser.add_argument("--tick", choices=["us", "ms"], default="us")
    args = parser.parse_args()
    tick_s = 1e-6 if args.tick == "us" else 1e-3
    rng = random.Random(args.seed)
    folder = tempfile.mkdtemp(prefix="matbench-power-")
    base_path, new_path = os.path.join(folder, "base.json"), os.path.join(folder, "new.json")
    print(f"50 ms rows read on a 1 {args.tick} clock, normal noise; {args.trials} trials of "
          f"{ROWS} rows per scenario")
    for name, change, noise_ms, runs, (what, sense, goal) in SCENARIOS:
        slower = verdicts = rows = 0
        smallest = []
        for _ in range(args.trials):
            write_session(rng, base_path, runs, 1.0, noise_ms, tick_s, True)
            write_session(rng, new_path, runs, 1.0 + change, noise_ms, tick_s, True)
            result = subprocess.run([args.tool, "compare", base_path, new_path, "--json"],
                                    capture_output=True, text=True, check=False)
            if result.returncode not in (0, 1):
                sys.exit("the tool failed:\n" + result.stderr)
            compared = json.loads(result.stdout)
            smallest.append(compared.get("smallest_change", float("nan")))
            for row in compared["rows"]:
                rows += 1
                slower += row["verdict"] == "slower"
                verdicts += row["verdict"] in ("slower", "faster")
        share = (slower if what == "slower" else verdicts) / rows
        met = share >= goal if sense == ">=" else share <= goal
        smallest.sort()
        print(f"{name:34s} slower {slower / rows:6.1%}  any verdict {verdicts / rows:6.1%}  "
              f"goal {what} {sense} {goal:.0%}: {'met' if met else 'NOT met'}; "
              f"smallest callable change {smallest[len(smallest) // 2]:.2%}")
    os.remove(base_path)
    os.remove(new_path)
    os.rmdir(folder)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Measures the real coverage of matbench-speedup's intervals on quantised sessions.

    scripts/coverage.py [TOOL] [--trials N] [--runs 10,30,100] [--noise-ms 0.1,1,3]
                        [--ticks ms,us] [--seed S]

Simulates sessions whose true times are known, reads them on a clock of whole milliseconds
(matbench) or whole microseconds (matbench-fine) as the benchmark does (the whole-tick count at
the end less the one at the start, at a random phase), hands them to the tool as session files
with that tick recorded and checks what it prints against the truth:

- the median interval of every row (serial and 20 team sizes) against the true median time;
- the NEW / BASE interval of every compared row against the true ratio, for a true change of
  3% and for none, how often a verdict was given where there is no change (false positives),
  and how often the 3% slowdown was judged slower (power).

Noise below one tick is the hard case: the readings then take two or three values only. The
confidence each interval names is printed beside the share that covered the truth. Needs the
tool built (default build/matbench-speedup); takes a few minutes at the default trial counts.
"""
import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile

THREADS = 20


def true_time(rng, base_ms, noise_ms):
    """A true time in ms: the base, plus noise uniform over [0, noise_ms)."""
    return base_ms + rng.uniform(0.0, noise_ms)


def reading(rng, true_ms, tick_ms):
    """The benchmark's reading in seconds: whole-tick clock counts at a random phase, printed
    with six decimals."""
    start = rng.uniform(0.0, 1000.0)
    ticks = math.floor((start + true_ms) / tick_ms) - math.floor(start / tick_ms)
    return round(ticks * tick_ms / 1000.0, 6)


def bases(serial_ms):
    """Each row's true base time in ms: the serial time, then teams of 1..20 on 2 processors."""
    return [serial_ms] + [serial_ms * (1.01 if t == 1 else 0.51 * 2 / min(t, 2)) for t in
                          range(1, THREADS + 1)]


def session_file(rng, runs, row_bases, noise_ms, scale, path, tick_ms):
    entries = []
    for _ in range(runs):
        times = [reading(rng, scale * true_time(rng, b, noise_ms), tick_ms) for b in row_bases]
        entries.append({"serial_s": times[0], "parallel_s": times[1:], "failure": None,
                        "cpu_s": sum(times) * 1.9, "wall_s": sum(times) + 0.1})
    data = {"format": "matbench-speedup session", "format_version": 1,
            "session": {"requested_runs": runs},
            "context": {"processors": 2, "cores": 2, "omp_settings": {},
                        "clock_tick_seconds": tick_ms / 1000.0}, "runs": entries}
    with open(path, "w") as out:
        json.dump(data, out)


def run_tool(tool, args):
    result = subprocess.run([tool] + args, capture_output=True, text=True, check=False)
    if result.returncode not in (0, 1):
        sys.exit("the tool failed: " + " ".join(args) + "\n" + result.stderr)
    return json.loads(result.stdout)


def simulate(args, rng, row_bases, runs, noise_ms, tick_ms, base_path, new_path):
    """One line of the table: coverage and verdicts over the trials at one setting."""
    median_hits = median_rows = 0
    median_named = 1.0
    ratio = {1.03: [0, 0], 1.0: [0, 0]}
    ratio_named = 1.0
    verdicts = 0
    found = 0  # rows of the true 3% slowdown judged slower
    for _ in range(args.trials):
        session_file(rng, runs, row_bases, noise_ms, 1.0, base_path, tick_ms)
        figures = run_tool(args.tool, ["--input", base_path, "--json"])["figures"]
        estimates = [figures["serial_seconds"]] + [t["seconds"] for t in figures["team_sizes"]]
        for estimate, b in zip(estimates, row_bases):
            true_median = (b + noise_ms / 2.0) / 1000.0
            median_rows += 1
            median_named = min(median_named, estimate["confidence"])
            if estimate["low"] is not None and estimate["low"] <= true_median <= estimate["high"]:
                median_hits += 1
        for change in ratio:
            session_file(rng, runs, row_bases, noise_ms, change, new_path, tick_ms)
            compared = run_tool(args.tool, ["compare", base_path, new_path, "--json"])
            for row in compared["rows"]:
                ratio[change][1] += 1
                ratio_named = min(ratio_named, row["confidence"])
                if row["ratio_low"] <= change <= row["ratio_high"]:
                    ratio[change][0] += 1
                if change == 1.0 and row["verdict"] in ("faster", "slower"):
                    verdicts += 1
                if change != 1.0 and row["verdict"] == "slower":
                    found += 1
    hit, rows = ratio[1.03]
    same_hit, same_rows = ratio[1.0]
    return (f"{runs:4d}  {median_hits:6d}/{median_rows:<6d} {median_hits / median_rows:6.1%}"
          f" ({median_named:.1%})   {hit:6d}/{rows:<6d} {hit / rows:6.1%} ({ratio_named:.1%})"
          f"   {same_hit:6d}/{same_rows:<6d} {same_hit / same_rows:6.1%}, {verdicts}"
          f" ({verdicts / same_rows:.2%}); x1.03 judged slower in {found / rows:.1%}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool", nargs="?", default="build/matbench-speedup")
    parser.add_argument("--trials", type=int, default=100)
    parser.add_argument("--runs", default="10,30,100")
    parser.add_argument("--seed", type=int, default=20261209)
    parser.add_argument("--noise-ms", default="0.1,1,3")
    parser.add_argument("--ticks", default="ms,us")
    parser.add_argument("--serial-ms", type=float, default=50.3)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    row_bases = bases(args.serial_ms)
    folder = tempfile.mkdtemp(prefix="matbench-coverage-")
    base_path = os.path.join(folder, "base.json")
    new_path = os.path.join(folder, "new.json")
    print(f"true times: base + uniform noise below the noise, serial {args.serial_ms} ms;"
          f" {args.trials} trials per line")
    print("tick noise runs  median: covered/rows (named)      ratio x1.03: covered/rows (named)"
          "   ratio x1: covered/rows, rows with a verdict; power")
    for tick in args.ticks.split(","):
        tick_ms = {"ms": 1.0, "us": 0.001}[tick]
        for noise_ms in [float(n) for n in args.noise_ms.split(",")]:
            for runs in [int(r) for r in args.runs.split(",")]:
                line = simulate(args, rng, row_bases, runs, noise_ms, tick_ms, base_path, new_path)
                print(f"{tick:>4s} {noise_ms:5.1f} " + line)
    os.remove(base_path)
    os.remove(new_path)
    os.rmdir(folder)


if __name__ == "__main__":
    main()

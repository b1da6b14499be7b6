#!/usr/bin/env python3
"""Writes the fixed inputs of the golden-output tests. Run once; the outputs are what is checked.

Every time is a whole number of milliseconds, as the benchmark's clock gives them, drawn from a
seeded generator so the files can be made again exactly."""
import json
import random
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
THREADS = 20


def context(**changes):
    base = {
        "host": "lab-01",
        "cpu_model": "Example CPU 8000",
        "packages": 1,
        "cores": 4,
        "hardware_threads": 8,
        "caches": [
            {"name": "L1d", "size_bytes": 49152, "count": 4},
            {"name": "L2", "size_bytes": 1310720, "count": 4},
            {"name": "L3", "size_bytes": 12582912, "count": 1},
        ],
        "affinity": "0-3",
        "processors": 4,
        "load_before": 0.25,
        "load_after": 0.5,
        "governor": "performance",
        "transparent_hugepages": "madvise",
        "kernel": "6.1.0-golden",
        "compiler": "GCC 12.2.0",
        "build_type": "Release",
        "build_flags": "-O3 -DNDEBUG -Wall -Wextra -ffp-contract=off -fno-fast-math -falign-loops=64 -fopenmp",
        "openmp_runtime": "libgomp",
        "version": "golden",
        "omp_settings": {},
        "date_utc": "2026-12-01T10:00:00Z",
    }
    base.update(changes)
    return base


def times(rng, serial_ms, scale=1.0, noise=2):
    """One run's serial and parallel times in seconds: up to 4 threads scale, beyond stay flat."""
    serial = round(serial_ms * scale) + rng.randint(0, noise)
    parallel = []
    for t in range(1, THREADS + 1):
        ideal = serial_ms * scale / min(t, 4) * (1.02 if t > 1 else 1.01)
        parallel.append((round(ideal) + rng.randint(0, noise)) / 1000)
    return serial / 1000, parallel


def run(rng, serial_ms, scale=1.0, failure=None, noise=2):
    serial, parallel = times(rng, serial_ms, scale, noise)
    entry = {"serial_s": serial, "parallel_s": parallel, "failure": failure}
    entry["cpu_s"] = round(sum(parallel) * 3.5 + serial, 3)
    entry["wall_s"] = round(sum(parallel) + serial + 0.2, 3)
    return entry


def session(how, ctx, runs):
    return {"format": "matbench-speedup session", "format_version": 1, "session": how,
            "context": ctx, "runs": runs}


def write(name, data):
    (here / name).write_text(json.dumps(data, indent=2, ensure_ascii=False) + "\n")


def main():
    rng = random.Random(20261201)
    # BASE: twelve runs, one failed, one slow outlier.
    runs = [run(rng, 120) for _ in range(12)]
    runs[4] = run(rng, 120, failure="run 5: ParallelMulti ( 7 потоков ) = 0.040000  Тест 0: the product differs")
    runs[8]["parallel_s"][1] = 0.095
    write("base.json", session({"requested_runs": 12}, context(), runs))
    # NEW: ten runs of a build a third slower, under another compiler and an OMP setting.
    runs = [run(rng, 160) for _ in range(10)]
    write("new.json", session({"requested_runs": 10},
                              context(compiler="Clang 19.1.7", openmp_runtime="LLVM libomp",
                                      omp_settings={"OMP_WAIT_POLICY": "active"},
                                      date_utc="2026-12-02T10:00:00Z"), runs))
    # Few runs, a precision session cut short by an interrupt, on a loaded two-processor machine
    # that ran about one processor's worth, with a placement the runtime did not honour.
    runs = [run(rng, 30, noise=3) for _ in range(3)]
    for entry in runs:
        entry["cpu_s"] = entry["wall_s"]
    write("few.json", session({"requested_runs": 100, "precision": 0.02, "placement": "spread",
                               "placement_honoured": False, "interrupted": "SIGINT"},
                              context(host="busy \u001b]0;box\u0007", processors=2, affinity="0-1",
                                      load_before=3.5, omp_settings={"OMP_DYNAMIC": "true"}),
                              runs))
    # A fleet: three Slurm nodes, n2 a third slower; n4 cut short after three runs.
    for node, scale in (("n1", 1.0), ("n2", 1.33), ("n3", 1.0), ("n4", 1.0)):
        count = 3 if node == "n4" else 10
        how = {"requested_runs": 10}
        if node == "n4":
            how["interrupted"] = "SIGTERM"
        ctx = context(host="node-" + node, slurm_job_id="4242", slurm_node=node,
                      slurm_nodelist="n[1-4]", slurm_cpus_on_node=4)
        runs = [run(rng, 100, scale) for _ in range(count)]
        write(f"fleet-{node}.json", session(how, ctx, runs))
    (here / "fleet-empty.json").write_text("")
    return 0


if __name__ == "__main__":
    sys.exit(main())

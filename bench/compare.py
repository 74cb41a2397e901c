"""Two builds of tavelin timed against each other, as `solve` runs in use.

    python bench/compare.py OLD.so NEW.so [--workloads league/half,n=20/half] [--seconds 5]

Both extension modules are loaded into one process and called in turn,
each call right after a NumPy/SciPy peer call on the same schedule, so both
find the caches and branch predictors the way the benchmark leaves them;
the schedules are 20 seeded variants of each workload, so that no build
can learn one schedule's branches. A build loaded second was seen to run a
few per cent faster for reasons of placement alone, so the comparison runs
twice, once in each load order (each in a fresh process), and reports the
geometric mean of the two ratios: new / old time of a solve, below 1 when
the new build is faster. Timings between machines or runs do not compare;
this ratio does.
"""
from __future__ import annotations

import os

for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")

import argparse
import gc
import importlib.util
import json
import math
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from peer import Peer  # noqa: E402
from workloads import UNSCHEDULED, compact, league  # noqa: E402

DEFAULT_WORKLOADS = "league/empty,league/half,league/mostly,n=10/half,n=20/half,n=40/half"
VARIANTS = 20


def load(path: str):
    found = importlib.util.spec_from_file_location("tavelin", path)
    if found is None or found.loader is None:
        raise SystemExit(f"compare: {path} is not an extension module")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def make(name: str, fill: str, seed: int):
    return league(fill, seed=seed) if name == "league" else compact(int(name.removeprefix("n=")), fill, seed=seed)


def time_builds(paths: list[str], workloads: list[str], seconds: float) -> dict[str, list[float]]:
    """Median µs per solve of each build, per workload, in this process."""
    modules = [load(p) for p in paths]
    clock = time.perf_counter_ns
    medians: dict[str, list[float]] = {}
    gc.disable()
    for workload in workloads:
        name, fill = workload.split("/")
        variants = [make(name, fill, seed) for seed in range(1, VARIANTS + 1)]
        peers = [(Peer(*w.args()), w.fresh()) for w in variants]
        solvers = [[(m.Tavelin(*w.args()), w.fresh()) for w in variants] for m in modules]
        samples: list[list[int]] = [[] for _ in modules]
        rep, stop = 0, time.perf_counter() + seconds
        while time.perf_counter() < stop:
            i = rep % VARIANTS
            w = variants[i]
            team = int(w.teams[(rep // VARIANTS) % len(w.teams)])
            for k in range(len(modules)) if rep % 2 == 0 else reversed(range(len(modules))):
                peer, x = peers[i]
                x[team] = UNSCHEDULED
                peer.solve(x, team)
                x[:] = w.X
                solver, x = solvers[k][i]
                x[team] = UNSCHEDULED
                t0 = clock()
                solver.solve(x, team)
                samples[k].append(clock() - t0)
                x[team] = w.X[team]
            rep += 1
        medians[workload] = [statistics.median(s) / 1000 for s in samples]
    return medians


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--workloads", default=DEFAULT_WORKLOADS,
                        help=f"comma-separated name/fill (default: {DEFAULT_WORKLOADS})")
    parser.add_argument("--seconds", type=float, default=5.0, help="per workload and load order (default: 5)")
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)  # one load order, for the parent
    args = parser.parse_args(argv)
    workloads = args.workloads.split(",")
    if args.json:
        print(json.dumps(time_builds([args.old, args.new], workloads, args.seconds)))
        return 0

    def one_order(first: str, second: str) -> dict[str, list[float]]:
        done = subprocess.run([sys.executable, __file__, first, second, "--workloads", args.workloads,
                               "--seconds", str(args.seconds), "--json"], capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"compare: timing failed:\n{done.stderr}")
        return json.loads(done.stdout)

    old_first = one_order(args.old, args.new)
    new_first = one_order(args.new, args.old)
    print(f"{'workload':14} {'new/old':>8} {'(old first':>11} {'new first)':>11} {'old µs':>9}")
    for workload in workloads:
        a = old_first[workload][1] / old_first[workload][0]
        b = new_first[workload][0] / new_first[workload][1]
        print(f"{workload:14} {math.sqrt(a * b):8.3f} {a:11.3f} {b:11.3f} {old_first[workload][0]:9.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

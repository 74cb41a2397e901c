"""Judges the search on the ten shipped IF instances and the fixed generated
set (``family``), over several seeds, and prints one Markdown table per set.

    python examples/judge.py --time-limit 60 --seeds 1,2,3 --jobs 2
    python examples/judge.py --solves 200000 --sets family     # the same decisions on any machine

Each row gives the lower bound on the infeasibility and, where known, the
proven floor (``floors``), the infeasibility reached (worst over the seeds),
the objective over the seeds (best / median / worst, counted among the runs
at the lowest infeasibility reached) and the best recorded objective.
"""

from __future__ import annotations

import argparse
import statistics
import sys
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bounds import infeasibility_bound  # noqa: E402
from evaluate import evaluate  # noqa: E402
from family import FAMILY, named_instance as load  # noqa: E402
from floors import known_floor  # noqa: E402
from scheduler import Search  # noqa: E402


def one_run(name: str, seed: int, seconds: float, solves: int | None) -> tuple[str, int, int, int, float, int]:
    """(name, seed, infeasibility, objective, seconds to the best, solve calls)."""
    instance = load(name)
    floor = known_floor(instance)
    target = (floor if floor is not None else infeasibility_bound(instance), 0)
    result = Search(instance, seed=seed).run(seconds, target=target, solves=solves)
    judged = evaluate(instance, result.x)
    return name, seed, judged.infeasibility, judged.objective, result.found, result.solves


def table(names: list[str], runs: list[tuple[str, int, int, int, float, int]]) -> str:
    rows = ["| instance | teams | lower bound / proven floor | infeasibility | objective best / median / worst "
            "| best recorded | best found after (s, median) |",
            "|---|---|---|---|---|---|---|"]
    for name in names:
        instance = load(name)
        mine = [r for r in runs if r[0] == name]
        lowest = min(r[2] for r in mine)
        objectives = sorted(r[3] for r in mine if r[2] == lowest)
        floor = known_floor(instance)
        rows.append(
            f"| {name} | {instance.n_teams} | {infeasibility_bound(instance)} / "
            f"{'?' if floor is None else floor} | {lowest}" + (
                f" ({max(r[2] for r in mine)} worst)" if max(r[2] for r in mine) > lowest else "")
            + f" | {objectives[0]} / {statistics.median(objectives):g} / {objectives[-1]} "
            f"| {instance.recorded_best if instance.recorded_best is not None else '-'} "
            f"| {statistics.median(r[4] for r in mine):.1f} |")
    return "\n".join(rows)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=60.0, metavar="SECONDS")
    parser.add_argument("--solves", type=int, metavar="N",
                        help="a budget of solve calls per run instead of a time limit")
    parser.add_argument("--seeds", default="1,2,3", help="comma-separated (default: 1,2,3)")
    parser.add_argument("--sets", default="shipped,family", help="shipped, family or both (default)")
    parser.add_argument("--instances", help="comma-separated names instead of whole sets")
    parser.add_argument("--jobs", type=int, default=2, help="runs at the same time (default: 2)")
    args = parser.parse_args(argv)
    seeds = [int(s) for s in args.seeds.split(",")]
    sets = {"shipped": [f"IF{k}" for k in range(1, 11)], "family": list(FAMILY)}
    groups = ([[n for n in args.instances.split(",")]] if args.instances
              else [sets[s] for s in args.sets.split(",")])
    names = [n for group in groups for n in group]
    with ProcessPoolExecutor(max_workers=args.jobs) as pool:
        futures = [pool.submit(one_run, name, seed, args.time_limit, args.solves)
                   for name in names for seed in seeds]
        runs = []
        for future in futures:
            runs.append(future.result())
            name, seed, infeasibility, objective, found, solves = runs[-1]
            print(f"{name} seed {seed}: {infeasibility}/{objective} (best after {found:.1f} s, "
                  f"{solves} solve calls)", file=sys.stderr, flush=True)
    budget = f"{args.solves} solve calls" if args.solves else f"{args.time_limit:g} s"
    print(f"Seeds {args.seeds}, {budget} per run, {args.jobs} at a time.\n")
    for group in groups:
        print(table(group, runs) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

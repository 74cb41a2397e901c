"""Runs the scheduler on IF1-IF10 (and the generated family G1-G14) with one
or more seeds each, in parallel, and prints the results as a Markdown table.

    python examples/run_all.py                                   # 60 s each, seed 1, all cores
    python examples/run_all.py --seeds 1,2,3 --jobs 2 --output table.md
    python examples/run_all.py --sets family --solves 200000     # the same decisions on any machine
    python examples/run_all.py --seeds 1,2,3 --scheduler tcp://host:8786   # on a Dask cluster

Each instance and seed is one job. The jobs run in local worker processes
(``--jobs``, default: all cores) or on the workers of a Dask distributed
cluster (``--scheduler``; needs ``pip install 'dask[distributed]'``). A bar on
standard error shows the batch's progress; the table goes to standard output.
A job that fails is reported and makes the exit status 1; the other results
are kept.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from batch import Task, run_batch  # noqa: E402
from family import FAMILY, family_instance  # noqa: E402
from floors import known_floor  # noqa: E402
from pools import PoolUnavailable, all_cores, dask_pool, describe, local_pool  # noqa: E402
from progress_bar import BatchProgress  # noqa: E402
from results_table import results_table  # noqa: E402
from robinx import Instance, RobinXError, read_instance  # noqa: E402

DEFAULT_DIR = Path(__file__).resolve().parent / "instances"
SETS = {"shipped": [f"IF{k}" for k in range(1, 11)], "family": list(FAMILY)}


def seed_list(text: str) -> list[int]:
    try:
        seeds = [int(part) for part in text.split(",") if part.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a comma-separated list of integers") from None
    if not seeds:
        raise argparse.ArgumentTypeError("no seed given")
    if len(set(seeds)) != len(seeds):
        raise argparse.ArgumentTypeError(f"{text!r} names a seed twice")
    return seeds


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0].rstrip(","))
    parser.add_argument("--robinx", type=Path, default=DEFAULT_DIR, metavar="DIR",
                        help=f"folder of the instance files NAME.xml (default: {DEFAULT_DIR})")
    chosen = parser.add_mutually_exclusive_group()
    chosen.add_argument("--sets", default="shipped", metavar="SET,...",
                        help="shipped (IF1-IF10), family (the generated G1-G14) or both (default: shipped)")
    chosen.add_argument("--instances", metavar="NAME,...",
                        help="comma-separated names instead: files NAME.xml, or G1-G14")
    parser.add_argument("--time-limit", type=float, default=60.0, metavar="SECONDS",
                        help="search time of each job (default: 60)")
    parser.add_argument("--solves", type=int, metavar="N",
                        help="a budget of solve calls per job instead of the time limit")
    seeds = parser.add_mutually_exclusive_group()
    seeds.add_argument("--seeds", type=seed_list, default=[1], metavar="S1,S2,...",
                       help="seeds to run on every instance (default: 1)")
    seeds.add_argument("--seed", type=int, help="a single seed (the same as --seeds SEED)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--jobs", type=int, metavar="N",
                       help=f"jobs running at once in local processes (default: all cores, {all_cores()})")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run the jobs on the Dask cluster whose scheduler is at ADDRESS, "
                            "e.g. tcp://host:8786; it runs as many at once as its workers have threads")
    parser.add_argument("--output", type=Path, metavar="PATH", help="also write the table to this file")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    args = parser.parse_args(argv)
    if args.time_limit <= 0:
        parser.error("--time-limit must be positive")
    if args.jobs is not None and args.jobs < 1:
        parser.error("--jobs must be at least 1")
    if args.solves is not None and args.solves < 1:
        parser.error("--solves must be at least 1")
    if args.instances is None:
        unknown = [s for s in args.sets.split(",") if s not in SETS]
        if unknown:
            parser.error(f"--sets: no set named {', '.join(unknown)} (shipped, family)")
        args.instances = ",".join(name for s in args.sets.split(",") for name in SETS[s])
    if args.seed is not None:
        args.seeds = [args.seed]
    return args


def read_all(directory: Path, names: list[str]) -> dict[str, Instance]:
    """Every instance, read (or generated) before any job starts: a missing
    or broken file stops the batch before it has cost anything."""
    instances = {}
    for name in names:
        path = directory / f"{name}.xml"
        if name in FAMILY and not path.is_file():
            instances[name] = family_instance(name)
            continue
        if not path.is_file():
            raise RobinXError(f"{path} not found")
        instances[name] = read_instance(path)
    return instances


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    names = [name.strip() for name in args.instances.split(",") if name.strip()]
    if not names or len(set(names)) != len(names):
        print(f"run_all: --instances {args.instances!r} must name each instance once", file=sys.stderr)
        return 2
    try:
        instances = read_all(args.robinx, names)
    except RobinXError as exc:
        print(f"run_all: {exc}", file=sys.stderr)
        return 2
    if args.output and not args.output.resolve().parent.is_dir():
        print(f"run_all: cannot write {args.output}: no such folder", file=sys.stderr)
        return 2

    floors = {name: known_floor(instances[name]) for name in names}
    tasks = [Task(name, instances[name], seed, args.time_limit, args.solves, floors[name])
             for name in names for seed in args.seeds]
    jobs = min(args.jobs or all_cores(), len(tasks))
    pool = dask_pool(args.scheduler) if args.scheduler else local_pool(jobs)
    progress = BatchProgress(len(tasks), enabled=not args.quiet)
    try:
        with pool as executor:
            if not args.quiet:
                budget = f"{args.solves} solve calls" if args.solves else f"{args.time_limit:g} s"
                print(f"run_all: {len(tasks)} runs of {budget} on "
                      f"{describe(args.scheduler, jobs)}", file=sys.stderr)
            try:
                outcome = run_batch(executor, tasks, progress)
            finally:
                progress.close()
    except PoolUnavailable as exc:
        print(f"run_all: {exc}", file=sys.stderr)
        return 2

    table = results_table(names, outcome.runs, outcome.failures)
    print(table, flush=True)
    status = 0
    if args.output:
        try:
            args.output.write_text(table + "\n")
        except OSError as exc:
            print(f"run_all: cannot write {args.output}: {exc.strerror}", file=sys.stderr)
            status = 1
    for failure in outcome.failures:
        print(f"run_all: {failure.instance} seed {failure.seed} failed: {failure.error}", file=sys.stderr)
    if outcome.interrupted:
        print(f"run_all: interrupted; the table holds the {len(outcome.runs)} runs that were over",
              file=sys.stderr)
        return 130
    return 1 if outcome.failures else status


if __name__ == "__main__":
    sys.exit(main())

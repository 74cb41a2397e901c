"""Runs the scheduler on IF1-IF10, one instance after the other, and prints
the results as a Markdown table.

    python examples/run_all.py                       # 60 s each, seed 1
    python examples/run_all.py --time-limit 10 --output table.md
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bounds import infeasibility_bound  # noqa: E402
from evaluate import evaluate  # noqa: E402
from robinx import read_instance  # noqa: E402
from scheduler import Search  # noqa: E402

DEFAULT_DIR = Path(__file__).resolve().parent / "instances"
HEADER = ("| instance | infeasibility (lower bound) | objective | best recorded | time limit (s) "
          "| best found after (s) | solve calls/s | seed |\n"
          "|---|---|---|---|---|---|---|---|")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--robinx", type=Path, default=DEFAULT_DIR, metavar="DIR",
                        help=f"folder of IF1.xml ... IF10.xml (default: {DEFAULT_DIR})")
    parser.add_argument("--time-limit", type=float, default=60.0, metavar="SECONDS")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--instances", default=",".join(f"IF{k}" for k in range(1, 11)),
                        help="comma-separated names (default: IF1,...,IF10)")
    parser.add_argument("--output", type=Path, help="also write the table to this file")
    args = parser.parse_args(argv)

    rows = [HEADER]
    print(HEADER, flush=True)
    for name in args.instances.split(","):
        path = args.robinx / f"{name}.xml"
        if not path.is_file():
            print(f"run_all: {path} not found", file=sys.stderr)
            return 2
        instance = read_instance(path)
        result = Search(instance, seed=args.seed).run(args.time_limit,
                                                      target=(infeasibility_bound(instance), 0))
        judged = evaluate(instance, result.x)
        row = (f"| {name} | {judged.infeasibility} ({infeasibility_bound(instance)}) "
               f"| {judged.objective} | {instance.recorded_best} | {args.time_limit:g} "
               f"| {result.found:.1f} | {result.solves / result.seconds:.0f} | {args.seed} |")
        rows.append(row)
        print(row, flush=True)
    if args.output:
        args.output.write_text("\n".join(rows) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

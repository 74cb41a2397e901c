"""How fast the example search calls the module, and what share of its time
the module takes.

    python examples/profile_search.py examples/instances/IF3.xml --solves 20000

Runs the search with a budget of solve calls (the same decisions on every
machine) twice: once plain, for the solve calls per second (wall clock and
processor time), and once under cProfile, for the share of ``Tavelin.solve``
in the run. Machines shared with other work give noisy rates: compare two
versions by running them alternately, several times each.
"""

from __future__ import annotations

import argparse
import cProfile
import pstats
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from robinx import read_instance  # noqa: E402
from scheduler import Search  # noqa: E402


def solve_share(stats: pstats.Stats) -> float:
    total = stats.total_tt  # type: ignore[attr-defined]
    own = sum(entry[2] for func, entry in stats.stats.items()  # type: ignore[attr-defined]
              if func[2] == "<method 'solve' of 'tavelin.Tavelin' objects>")
    return own / total if total else 0.0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("instance", type=Path)
    parser.add_argument("--solves", type=int, default=20000, help="solve calls per run (default: 20000)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    instance = read_instance(args.instance)

    wall, cpu = time.perf_counter(), time.process_time()
    result = Search(instance, seed=args.seed).run(0.0, solves=args.solves)
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu

    profile = cProfile.Profile()
    profile.enable()
    Search(instance, seed=args.seed).run(0.0, solves=args.solves)
    profile.disable()
    share = solve_share(pstats.Stats(profile))

    print(f"{instance.name}: {result.solves} solve calls, {result.solves / wall:.0f}/s "
          f"({result.solves / cpu:.0f}/s of processor time), Tavelin.solve {share:.1%} of the "
          f"run under cProfile, cost {result.infeasibility}/{result.objective}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

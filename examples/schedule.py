"""Schedule a time-relaxed double round robin with tavelin.

    python examples/schedule.py                          # a generated league
    python examples/schedule.py examples/instances/IF1.xml --time-limit 60 --output IF1-solution.xml
    python examples/schedule.py examples/instances/IF3.xml --plot IF3.png   # needs matplotlib

Reads a RobinX instance (or generates a league of the same shape when no path
is given), searches for a timetable within the time limit, and prints a
summary of the best one found, judged by the exact evaluator. With
``--output`` the timetable is also written as a RobinX solution; with
``--plot`` the timetable and the search's progress are drawn into a PNG.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bounds import infeasibility_bound, shortfalls  # noqa: E402
from floors import known_floor  # noqa: E402
from evaluate import evaluate  # noqa: E402
from league import generate  # noqa: E402
from robinx import RobinXError, read_instance, write_solution  # noqa: E402
from scheduler import Progress, Search, UnsupportedInstance  # noqa: E402
from timetable_plot import History, PlotUnavailable, draw, require_matplotlib  # noqa: E402


class ProgressLine:
    """Shows elapsed time and the best infeasibility and objective on standard
    error once a run has lasted a second: one line rewritten in place on a
    terminal, a new line every few seconds elsewhere."""

    def __init__(self, stream=sys.stderr, enabled: bool = True):
        self.stream = stream
        self.enabled = enabled
        self.terminal = enabled and stream.isatty()
        self.every = 0.2 if self.terminal else 5.0
        self.shown: str | None = None
        self.last = float("-inf")
        self.best: tuple[int, int] | None = None

    def __call__(self, progress: Progress) -> None:
        self.best = (progress.infeasibility, progress.objective)
        if not self.enabled or progress.elapsed < 1.0 or progress.elapsed - self.last < self.every:
            return
        self.last = progress.elapsed
        text = (f"{progress.elapsed:6.1f} s  infeasibility {progress.infeasibility}  "
                f"objective {progress.objective}  ({progress.solves} solve calls)")
        if self.terminal:
            self.stream.write("\r" + text + "\x1b[K")
        else:
            self.stream.write(text + "\n")
        self.stream.flush()
        self.shown = text

    def close(self) -> None:
        if self.terminal and self.shown:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="Schedule a time-relaxed double round robin with tavelin.")
    parser.add_argument("instance", nargs="?", type=Path,
                        help="RobinX instance file (default: a generated league)")
    parser.add_argument("--time-limit", type=float, default=20.0, metavar="SECONDS",
                        help="search time (default: 20)")
    parser.add_argument("--seed", type=int, default=1, help="random seed of the search (default: 1)")
    parser.add_argument("--output", type=Path, metavar="PATH",
                        help="write the timetable as a RobinX solution to PATH")
    parser.add_argument("--plot", type=Path, metavar="PATH",
                        help="draw the timetable and the search's progress into a PNG at PATH "
                             "(needs matplotlib)")
    parser.add_argument("--league-seed", type=int, default=1, metavar="N",
                        help="seed of the generated league (default: 1)")
    parser.add_argument("--teams", type=int, default=15, help="teams of the generated league (default: 15)")
    parser.add_argument("--slots", type=int, default=273, help="slots of the generated league (default: 273)")
    parser.add_argument("--quiet", action="store_true", help="no progress display")
    args = parser.parse_args(argv)
    if args.time_limit <= 0:
        parser.error("--time-limit must be positive")
    return args


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    try:
        if args.instance is None:
            instance = generate(args.league_seed, args.teams, args.slots)
            source = "generated"
        else:
            instance = read_instance(args.instance)
            source = str(args.instance)
        search = Search(instance, seed=args.seed)
    except (RobinXError, UnsupportedInstance, ValueError) as exc:
        print(f"schedule: {exc}", file=sys.stderr)
        return 2

    for path in (args.output, args.plot):
        if path and not path.resolve().parent.is_dir():
            print(f"schedule: cannot write {path}: no such folder", file=sys.stderr)
            return 2
    if args.plot:
        try:
            require_matplotlib()
        except PlotUnavailable as exc:
            print(f"schedule: {exc}", file=sys.stderr)
            return 2

    bound = infeasibility_bound(instance)
    floor = known_floor(instance)
    least = bound if floor is None else floor
    progress = ProgressLine(enabled=not args.quiet)
    history = History()

    def report(state: Progress) -> None:
        history(state)
        progress(state)

    try:
        result = search.run(args.time_limit, report=report, target=(least, 0))
    finally:
        progress.close()
    judged = evaluate(instance, result.x)
    if (judged.infeasibility, judged.objective) != (result.infeasibility, result.objective):
        # The search prices schedules its own, faster way; the evaluator decides.
        print(f"schedule: warning: the search priced its schedule at {result.infeasibility}/"
              f"{result.objective}, the evaluator at {judged.infeasibility}/{judged.objective}",
              file=sys.stderr)

    missing = judged.parts.get("unscheduled", 0)
    teams = [str(s.team) for s in shortfalls(instance)]
    short = ("team " if len(teams) == 1 else "teams ") + ", ".join(teams)
    lines = [
        ("instance", f"{instance.name} ({source})"),
        ("teams", f"{instance.n_teams}"),
        ("games", f"{instance.n_games} ({instance.n_games - missing} with a slot)"),
        ("infeasibility", f"{judged.infeasibility}" + (
            f" (at least {least} in any schedule: {short} cannot have a slot for every game"
            + (f"; {least} proven by an exact model" if least > bound else "") + ")"
            if least else "")),
        ("objective", f"{judged.objective}" + (
            f" (best recorded {instance.recorded_best})" if instance.recorded_best is not None else "")),
        ("seconds", f"{result.seconds:.1f} (best found after {result.found:.1f})"),
        ("solve calls", f"{result.solves} ({result.solves / max(result.seconds, 1e-9):.0f} per second)"),
    ]
    if args.output:
        try:
            write_solution(args.output, instance, result.x, judged.infeasibility, judged.objective)
        except OSError as exc:
            print(f"schedule: cannot write {args.output}: {exc.strerror}", file=sys.stderr)
            return 1
        lines.append(("solution", f"written to {args.output}"))
    if args.plot:
        # The search reports at most every tenth of a second: its final best
        # closes the curve.
        points = history.points + [(result.seconds, result.infeasibility, result.objective)]
        recorded = (f" (best recorded {instance.recorded_best})"
                    if instance.recorded_best is not None else "")
        title = (f"{instance.name}: infeasibility {judged.infeasibility}, objective "
                 f"{judged.objective}{recorded}, after {result.seconds:.0f} s of search, seed {args.seed}")
        try:
            draw(args.plot, instance, result.x, points, title)
        except OSError as exc:
            print(f"schedule: cannot write {args.plot}: {exc.strerror or exc}", file=sys.stderr)
            return 1
        lines.append(("picture", f"drawn to {args.plot}"))
    width = max(len(key) for key, _ in lines)
    for key, value in lines:
        print(f"{key:<{width}}  {value}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

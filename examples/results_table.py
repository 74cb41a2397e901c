"""The Markdown table of a batch: one row per instance, summarising its seeds.

Runs are ranked as the search ranks schedules, by infeasibility first and
objective second: the best run of an instance is the first in that order, the
worst the last, and the median objective is that of the middle run (the mean
of the two middle ones for an even number of seeds).

An instance's infeasibility is proven minimal when its best run reaches the
lower bound, or the floor that an exact model proved (``floors``).
"""

from __future__ import annotations

from collections.abc import Sequence

from batch import Failure
from search_job import Run

HEADER = ("| instance | teams | infeasibility: lower bound / proven floor / reached | proven minimal "
          "| objective: best / median / worst | best recorded | best found after (s, median) "
          "| solve calls/s | seeds |\n"
          "|---|---|---|---|---|---|---|---|---|")
NONE = "–"


def spread(low: int, high: int) -> str:
    return f"{low}" if low == high else f"{low}–{high}"


def median(values: Sequence[float]) -> float:
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def objectives(ranked: Sequence[Run]) -> str:
    if len(ranked) == 1:
        return f"{ranked[0].objective}"
    return f"{ranked[0].objective} / {median([run.objective for run in ranked]):g} / {ranked[-1].objective}"


def seeds_text(runs: Sequence[Run], failures: Sequence[Failure]) -> str:
    text = ", ".join(str(seed) for seed in sorted(run.seed for run in runs))
    if failures:
        failed = ", ".join(str(seed) for seed in sorted(f.seed for f in failures))
        text += ("; " if text else "") + f"failed: {failed}"
    return text


def instance_row(name: str, runs: Sequence[Run], failures: Sequence[Failure]) -> str:
    if not runs:  # every job failed, or the batch was interrupted before any was over
        outcome = "failed" if failures else "not run"
        return f"| {name} | {NONE} | {outcome} | {NONE} | {NONE} | {NONE} | {NONE} | {NONE} | {seeds_text(runs, failures)} |"
    ranked = sorted(runs, key=lambda run: (run.infeasibility, run.objective, run.seed))
    best = ranked[0]
    floor = NONE if best.floor is None else str(best.floor)
    minimal = best.infeasibility == best.bound or best.infeasibility == best.floor
    recorded = NONE if best.recorded_best is None else str(best.recorded_best)
    found = median(sorted(run.found for run in runs))
    rate = sum(run.solves for run in runs) / max(sum(run.seconds for run in runs), 1e-9)
    return (f"| {name} | {best.teams} | {best.bound} / {floor} / "
            f"{spread(best.infeasibility, ranked[-1].infeasibility)} | {'yes' if minimal else 'no'} "
            f"| {objectives(ranked)} | {recorded} | {found:.1f} | {rate:.0f} | {seeds_text(runs, failures)} |")


def results_table(names: Sequence[str], runs: Sequence[Run], failures: Sequence[Failure]) -> str:
    """One row per name, in the order given."""
    rows = [HEADER]
    for name in names:
        rows.append(instance_row(name, [r for r in runs if r.instance == name],
                                 [f for f in failures if f.instance == name]))
    return "\n".join(rows)

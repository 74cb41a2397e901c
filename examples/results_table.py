"""The Markdown table of a batch: one row per instance, summarising its seeds.

Runs are ranked as the search ranks schedules, by infeasibility first and
objective second: the best run of an instance is the first in that order, the
worst the last, and the median objective is that of the middle run (the mean
of the two middle ones for an even number of seeds).
"""

from __future__ import annotations

from collections.abc import Sequence

from batch import Failure
from search_job import Run

HEADER = ("| instance | infeasibility | lower bound | proven minimal "
          "| objective: best / median / worst | best recorded | time limit (s) "
          "| solve calls/s | seeds |\n"
          "|---|---|---|---|---|---|---|---|---|")
NONE = "–"


def spread(low: int, high: int) -> str:
    return f"{low}" if low == high else f"{low}–{high}"


def objectives(ranked: Sequence[Run]) -> str:
    if len(ranked) == 1:
        return f"{ranked[0].objective}"
    middle = len(ranked) // 2
    median = (ranked[middle].objective if len(ranked) % 2
              else (ranked[middle - 1].objective + ranked[middle].objective) / 2)
    return f"{ranked[0].objective} / {median:g} / {ranked[-1].objective}"


def seeds_text(runs: Sequence[Run], failures: Sequence[Failure]) -> str:
    text = ", ".join(str(seed) for seed in sorted(run.seed for run in runs))
    if failures:
        failed = ", ".join(str(seed) for seed in sorted(f.seed for f in failures))
        text += ("; " if text else "") + f"failed: {failed}"
    return text


def instance_row(name: str, runs: Sequence[Run], failures: Sequence[Failure],
                 time_limit: float) -> str:
    if not runs:  # every job failed, or the batch was interrupted before any was over
        return (f"| {name} | {'failed' if failures else 'not run'} | {NONE} | {NONE} | {NONE} | {NONE} | {time_limit:g} | {NONE} "
                f"| {seeds_text(runs, failures)} |")
    ranked = sorted(runs, key=lambda run: (run.infeasibility, run.objective, run.seed))
    best, bound = ranked[0], ranked[0].bound
    recorded = NONE if best.recorded_best is None else str(best.recorded_best)
    rate = sum(run.solves for run in runs) / max(sum(run.seconds for run in runs), 1e-9)
    return (f"| {name} | {spread(best.infeasibility, ranked[-1].infeasibility)} | {bound} "
            f"| {'yes' if best.infeasibility == bound else 'no'} | {objectives(ranked)} "
            f"| {recorded} | {time_limit:g} | {rate:.0f} | {seeds_text(runs, failures)} |")


def results_table(names: Sequence[str], runs: Sequence[Run], failures: Sequence[Failure],
                  time_limit: float) -> str:
    """One row per name, in the order given."""
    rows = [HEADER]
    for name in names:
        rows.append(instance_row(name, [r for r in runs if r.instance == name],
                                 [f for f in failures if f.instance == name], time_limit))
    return "\n".join(rows)

"""One run of the scheduler as a self-contained job: an instance, a seed and a
time limit in, plain numbers out.

Batches hand these jobs to worker processes or to the machines of a Dask
cluster, so the arguments and the result pickle and carry nothing that lives
only in the caller's process. The same arguments always start the same search
(its annealing follows the clock, so two runs can still end a point apart).
"""

from __future__ import annotations

from dataclasses import dataclass

from bounds import infeasibility_bound
from evaluate import evaluate
from robinx import Instance
from scheduler import Search


@dataclass(frozen=True)
class Run:
    """The outcome of one job, as judged by the exact evaluator."""

    instance: str
    seed: int
    time_limit: float
    infeasibility: int
    objective: int
    bound: int  # no schedule of the instance has a lower infeasibility
    recorded_best: int | None
    seconds: float
    found: float  # seconds until the best schedule was found
    solves: int


def run_job(instance: Instance, seed: int, time_limit: float) -> Run:
    """Searches ``instance`` for ``time_limit`` seconds (less once a schedule
    at the lower bound with objective 0 is found)."""
    bound = infeasibility_bound(instance)
    result = Search(instance, seed=seed).run(time_limit, target=(bound, 0))
    judged = evaluate(instance, result.x)
    return Run(instance.name, seed, time_limit, judged.infeasibility, judged.objective, bound,
               instance.recorded_best, result.seconds, result.found, result.solves)

"""One run of the scheduler as a self-contained job: an instance, a seed, a
time limit (or a budget of solve calls) and the instance's proven floor in,
plain numbers out.

Batches hand these jobs to worker processes or to the machines of a Dask
cluster, so the arguments and the result pickle and carry nothing that lives
only in the caller's process. The same arguments always start the same search
(it stops by the clock, so two runs can still end a point apart).
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
    bound: int  # the lower bound of bounds.py: no schedule has a lower infeasibility
    floor: int | None  # the proven least infeasibility, where one is known (floors.json)
    teams: int
    recorded_best: int | None
    seconds: float
    found: float  # seconds until the best schedule was found
    solves: int


def run_job(instance: Instance, seed: int, time_limit: float, solves: int | None = None,
            floor: int | None = None) -> Run:
    """Searches ``instance`` for ``time_limit`` seconds, or for ``solves``
    solve calls when given (whose decisions do not follow the clock), and
    less once a schedule at the floor (the lower bound when none is known)
    with objective 0 is found. The caller reads the floor: a worker on
    another machine has the example's modules but not its data files."""
    bound = infeasibility_bound(instance)
    result = Search(instance, seed=seed, floor=floor).run(
        time_limit, target=(bound if floor is None else floor, 0), solves=solves)
    judged = evaluate(instance, result.x)
    return Run(instance.name, seed, time_limit, judged.infeasibility, judged.objective, bound, floor,
               instance.n_teams, instance.recorded_best, result.seconds, result.found, result.solves)

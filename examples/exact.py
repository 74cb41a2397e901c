"""The fewest games without a slot that any schedule of an instance can have,
found exactly with the CP-SAT solver of OR-Tools (an optional extra of the
example: ``pip install ortools``, or tavelin's extra ``exact``).

Why this number is the floor of the infeasibility: every hard rule of the
instances (a team plays no game on its days off nor at home when its venue is
closed, at most one game per slot, at most ``max`` games in every window of
``intp`` slots, at least ``min`` slots between the two games of a pair) costs
at least 1 for each game that breaks it, and taking that game out of the
schedule costs exactly 1 and can only mend the others. So a schedule of least
infeasibility exists that breaks no hard rule and only leaves games without a
slot, and this model counts those.

The model: one 0-1 variable for each game and each slot it may use (a home
slot of the home team on which the away team may play); each game at most
one slot; each team at most one game per slot and at most ``max`` in every
window of intp slots; a game and any slot of the reverse game too near it
not both. It maximises the games that have a slot.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from bounds import infeasibility_bound
from robinx import UNSCHEDULED, Instance


class MissingSolver(RuntimeError):
    """OR-Tools is not installed."""


def _cp_model():
    try:
        from ortools.sat.python import cp_model
    except ImportError:
        raise MissingSolver(
            "the exact floor needs OR-Tools' CP-SAT solver, an optional extra: "
            "pip install ortools (or pip install 'tavelin[exact]')") from None
    return cp_model


@dataclass(frozen=True)
class Floor:
    """What the solver proved about the games without a slot."""

    lowest: int  # no schedule leaves fewer games without a slot
    found: int  # a schedule that leaves this many exists (the floor when equal)
    seconds: float

    @property
    def proven(self) -> bool:
        return self.lowest == self.found


def fewest_missing(instance: Instance, seconds: float = 60.0, hint: np.ndarray | None = None,
                   workers: int = 2) -> Floor:
    """Solves the model for at most ``seconds``. ``hint`` (a schedule, such as
    the search's best) gives the solver a start."""
    cp_model = _cp_model()
    n, n_slots = instance.n_teams, instance.n_slots
    model = cp_model.CpModel()
    unavailable = [instance.unavailable(t) for t in range(n)]
    home = [instance.home_slots(t) for t in range(n)]
    slot_of: dict[tuple[int, int], dict[int, Any]] = {}  # game -> slot -> variable
    at: list[list[list[Any]]] = [[[] for _ in range(n_slots)] for _ in range(n)]
    for i in range(n):
        for j in range(n):
            if i == j:
                continue
            slots = slot_of[i, j] = {}
            for s in home[i]:
                if s in unavailable[j]:
                    continue
                var = slots[s] = model.new_bool_var(f"g{i}_{j}_{s}")
                at[i][s].append(var)
                at[j][s].append(var)
            model.add_at_most_one(slots.values())
    for t in range(n):
        for s in range(n_slots):
            if len(at[t][s]) > 1:
                model.add_at_most_one(at[t][s])
        for rule in instance.windows:
            if not rule.hard:
                continue
            for start in range(n_slots - rule.intp + 1):
                inside = [v for s in range(start, start + rule.intp) for v in at[t][s]]
                if len(inside) > rule.max:
                    model.add(sum(inside) <= rule.max)
    closest = max((rule.min for rule in instance.separations), default=-1)
    for (i, j), slots in slot_of.items():
        reverse = slot_of[j, i]
        if i > j or closest < 0:
            continue
        for s, var in slots.items():
            near = [v for r, v in reverse.items() if abs(r - s) <= closest]
            if near:
                model.add(var + sum(near) <= 1)
    placed = sum(v for slots in slot_of.values() for v in slots.values())
    games = n * (n - 1)
    model.add(placed <= games - infeasibility_bound(instance))
    model.maximize(placed)
    if hint is not None:
        for (i, j), slots in slot_of.items():
            s = hint[i, j]
            for slot, var in slots.items():
                model.add_hint(var, int(s != UNSCHEDULED and int(s) == slot))
    solver = cp_model.CpSolver()
    solver.parameters.max_time_in_seconds = seconds
    solver.parameters.num_workers = workers
    status = solver.solve(model)
    if status not in (cp_model.OPTIMAL, cp_model.FEASIBLE):
        raise RuntimeError(f"CP-SAT found no schedule in {seconds:g} s (status {solver.status_name(status)})")
    return Floor(lowest=games - int(solver.best_objective_bound + 1e-6),
                 found=games - int(round(solver.objective_value)), seconds=solver.wall_time)

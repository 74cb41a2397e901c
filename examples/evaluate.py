"""Exact evaluation of a schedule against a RobinX instance.

A schedule is an n x n matrix X: X[i][j] is the slot in which team i hosts
team j, 9999.0 (or NaN) when that game has no slot. The evaluation follows the
RobinX rules for the constraints the reader accepts, plus the two rules every
instance implies:

* every game has a slot: each game without one adds 1 to the infeasibility;
* a team plays at most one game per slot: each game of a team beyond the
  first in a slot adds 2.

Hard constraints add their deviation to the infeasibility, soft ones add
penalty x deviation to the objective. This module is deliberately plain and
independent of the scheduler's own bookkeeping, so that it can check it.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from robinx import UNSCHEDULED, Instance


@dataclass(frozen=True)
class Evaluation:
    infeasibility: int
    objective: int
    # Contribution of each rule, e.g. {"unscheduled": 1, "CA3 soft": 40}.
    parts: dict[str, int] = field(default_factory=dict)

    @property
    def feasible(self) -> bool:
        return self.infeasibility == 0


def check_schedule(instance: Instance, x: np.ndarray) -> np.ndarray:
    """``x`` as a float matrix with NaN for every game without a slot.

    Raises ValueError for a matrix of the wrong shape or a slot that is not a
    whole number of the instance's range: such a schedule cannot be judged.
    """
    n = instance.n_teams
    x = np.array(x, dtype=float)
    if x.shape != (n, n):
        raise ValueError(f"schedule must be {n} x {n}, not {x.shape}")
    x[x == UNSCHEDULED] = np.nan
    np.fill_diagonal(x, np.nan)
    placed = x[~np.isnan(x)]
    bad = placed[(placed != np.round(placed)) | (placed < 0) | (placed >= instance.n_slots)]
    if bad.size:
        raise ValueError(f"slot {bad[0]!r} is not a slot of 0..{instance.n_slots - 1}")
    return x


def games_per_slot(instance: Instance, x: np.ndarray) -> np.ndarray:
    """counts[t][s]: the number of games team t plays in slot s."""
    n, slots = instance.n_teams, instance.n_slots
    counts = np.zeros((n, slots), dtype=np.int64)
    for i in range(n):
        for j in range(n):
            if i != j and not np.isnan(x[i, j]):
                s = int(x[i, j])
                counts[i, s] += 1
                counts[j, s] += 1
    return counts


def evaluate(instance: Instance, x: np.ndarray) -> Evaluation:
    x = check_schedule(instance, x)
    n = instance.n_teams
    hard: dict[str, int] = {}
    soft: dict[str, int] = {}

    def add(table: dict[str, int], key: str, value: int) -> None:
        table[key] = table.get(key, 0) + int(value)

    # Every game has a slot.
    add(hard, "unscheduled", int(np.isnan(x).sum()) - n)

    counts = games_per_slot(instance, x)
    add(hard, "clashes", 2 * np.maximum(counts - 1, 0).sum())

    # CA1: no games of the given mode in the given slots (max 0).
    for rule in instance.availability:
        slots = sorted(rule.slots)
        if rule.mode == "HA":
            played = counts[rule.team, slots].sum()
        else:
            played = np.isin(x[rule.team], slots).sum()
        add(hard, "CA1", played)

    # CA3: at most `max` games in every window of `intp` consecutive slots.
    running = np.concatenate([np.zeros((n, 1), dtype=np.int64), np.cumsum(counts, axis=1)], axis=1)
    for window in instance.windows:
        in_window = running[:, window.intp:] - running[:, :-window.intp]
        deviation = np.maximum(in_window - window.max, 0).sum()
        if window.hard:
            add(hard, "CA3 hard", deviation)
        else:
            add(soft, "CA3 soft", window.penalty * deviation)

    # SE1: between min and max slots strictly between the two mutual games.
    for separation in instance.separations:
        deviation = 0
        for i in range(n):
            for j in range(i + 1, n):
                if np.isnan(x[i, j]) or np.isnan(x[j, i]):
                    continue
                between = abs(int(x[i, j]) - int(x[j, i])) - 1
                deviation += max(0, separation.min - between) + max(0, between - separation.max)
        add(hard, "SE1", deviation)

    return Evaluation(sum(hard.values()), sum(soft.values()), {**hard, **soft})

"""Where a schedule breaks the rules of its instance: every violation with the
teams and slots it concerns, so that a picture can mark it.

The rules and amounts are those of ``evaluate``: summed per rule, the amounts
of ``violations(instance, x)`` are ``evaluate(instance, x).parts``.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from evaluate import check_schedule, games_per_slot
from robinx import Instance


@dataclass(frozen=True)
class Violation:
    rule: str  # as in evaluate's parts: "unscheduled", "clashes", "CA1", "CA3 hard", "CA3 soft", "SE1"
    teams: tuple[int, ...]  # the teams whose timetable shows it
    slots: tuple[int, ...]  # the slots of the games involved (none for a game without a slot)
    amount: int  # what it adds to the infeasibility (soft: to the objective)

    @property
    def hard(self) -> bool:
        return self.rule != "CA3 soft"


def violations(instance: Instance, x: np.ndarray) -> list[Violation]:
    x = check_schedule(instance, x)
    n = instance.n_teams
    found: list[Violation] = []
    placed = ~np.isnan(x)

    for i, j in zip(*np.nonzero(~placed)):
        if i != j:
            found.append(Violation("unscheduled", (int(i), int(j)), (), 1))

    counts = games_per_slot(instance, x)
    for t, s in zip(*np.nonzero(counts > 1)):
        found.append(Violation("clashes", (int(t),), (int(s),), 2 * int(counts[t, s] - 1)))

    for closed in instance.availability:
        team = closed.team
        for s in sorted(closed.slots):
            played = counts[team, s] if closed.mode == "HA" else np.count_nonzero(x[team] == s)
            if played:
                found.append(Violation("CA1", (team,), (s,), int(played)))

    # A window of intp slots that holds more than max games of a team: one
    # violation per window, naming the slots of the games in it.
    for window in instance.windows:
        key = "CA3 hard" if window.hard else "CA3 soft"
        weight = 1 if window.hard else window.penalty
        for t in range(n):
            running = np.concatenate(([0], np.cumsum(counts[t])))
            excess = running[window.intp:] - running[:-window.intp] - window.max
            for start in map(int, np.nonzero(excess > 0)[0]):
                held = counts[t, start:start + window.intp]
                slots = tuple(start + int(k) for k in np.nonzero(held)[0])
                found.append(Violation(key, (t,), slots, weight * int(excess[start])))

    for rule in instance.separations:
        for i in range(n):
            for j in range(i + 1, n):
                if not (placed[i, j] and placed[j, i]):
                    continue
                first, second = sorted((int(x[i, j]), int(x[j, i])))
                between = second - first - 1
                deviation = max(0, rule.min - between) + max(0, between - rule.max)
                if deviation:
                    found.append(Violation("SE1", (i, j), (first, second), deviation))
    return found

"""A generated league of the same shape as the IF instances.

An amateur indoor league: each team hosts on one weekday of its venue, most
every other week, a few every week; the venue is closed on some of those days,
and each team has a few weeks and single days in which it cannot play at all.
The rules are those of the IF family: at most 2 games in any 4 consecutive
slots (hard), short rests penalised (soft), and at least 60 slots between the
two games of a pair (hard). The draw is repeated until no team has fewer slots
than games (see ``bounds``), so every generated league can be played in full.
"""

from __future__ import annotations

import random

from bounds import infeasibility_bound
from robinx import Availability, Instance, RestWindow, Separation

WINDOWS = (
    RestWindow(4, 2, True, 1),
    RestWindow(2, 1, False, 5),
    RestWindow(3, 1, False, 1),
    RestWindow(4, 1, False, 1),
)


def _team(rng: random.Random, n_teams: int, n_slots: int) -> tuple[set[int], set[int]]:
    """(venue days, days the team cannot play) of one team."""
    weekday, parity = rng.randrange(7), rng.randrange(2)
    weekly = rng.random() < 0.15
    venue = {s for s in range(weekday, n_slots, 7) if weekly or (s // 7) % 2 == parity}
    unavailable: set[int] = set()
    for _ in range(rng.randint(0, 3)):  # holidays: a week or two away
        start = rng.randrange(n_slots)
        unavailable |= set(range(start, min(start + 7 * rng.randint(1, 2), n_slots)))
    unavailable |= set(rng.sample(range(n_slots), rng.randint(0, 8)))  # single days
    venue -= unavailable
    # a venue needs a day or more to spare beyond the home games
    spare = rng.randint(1, 4)
    closed = set(rng.sample(sorted(venue), max(len(venue) - (n_teams - 1) - spare, 0)))
    return venue - closed, unavailable


def generate(seed: int = 1, n_teams: int = 15, n_slots: int = 273) -> Instance:
    """A league that every seed reproduces exactly."""
    if n_teams < 2 or n_slots < 8 * n_teams:
        raise ValueError("a league needs at least 2 teams and 8 slots per team")
    rng = random.Random(seed)
    while True:
        availability = []
        for team in range(n_teams):
            venue, unavailable = _team(rng, n_teams, n_slots)
            availability.append(Availability(team, "H", frozenset(set(range(n_slots)) - venue)))
            availability.append(Availability(team, "HA", frozenset(unavailable)))
        instance = Instance(f"league-{n_teams}x{n_slots}-seed{seed}", n_teams, n_slots,
                            tuple(availability), WINDOWS, (Separation(60, n_slots),))
        if infeasibility_bound(instance) == 0:
            return instance

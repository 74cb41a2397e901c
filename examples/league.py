"""Generated leagues of the same shape as the IF instances, and variants of it.

An amateur indoor league: each team hosts on one weekday of its venue, most
every other week, a few every week; the venue is closed on some of those days,
and each team has a few weeks and single days in which it cannot play at all.
The rules are those of the IF family: at most 2 games in any 4 consecutive
slots (hard), short rests penalised (soft), and at least 60 slots between the
two games of a pair (hard). ``generate`` repeats the draw until no team has
fewer slots than games (see ``bounds``), so every such league can be played
in full.

``variant`` draws a league of any ``Shape``: what the IF family varies (13 to
15 teams, how many venue days there are and how they are spread, weeks and
days off, the rest-window and separation rules) and leagues that cannot be
played in full, in which some teams have fewer venue days than home games or
cannot play on most of the days on which the others host.
"""

from __future__ import annotations

import random
from dataclasses import dataclass, replace

from bounds import infeasibility_bound
from robinx import Availability, Instance, RestWindow, Separation

WINDOWS = (
    RestWindow(4, 2, True, 1),
    RestWindow(2, 1, False, 5),
    RestWindow(3, 1, False, 1),
    RestWindow(4, 1, False, 1),
)


@dataclass(frozen=True)
class Shape:
    """What a generated league looks like. The defaults are the IF shape."""

    n_teams: int = 15
    n_slots: int = 273
    weekly: float = 0.15  # share of venues open every week (the others: every other week)
    second_day: float = 0.0  # share of venues open on a second weekday too
    spare: tuple[int, int] = (1, 4)  # venue days beyond the home games, at least and at most
    holidays: int = 3  # at most this many spells of one or two weeks off per team
    days_off: int = 8  # at most this many single days off per team
    windows: tuple[RestWindow, ...] = WINDOWS
    separation: int = 60  # slots at least between the two games of a pair
    short: int = 0  # teams with one venue day fewer than home games
    stranded: int = 0  # teams that cannot play on most of the days the others host

    @property
    def playable(self) -> bool:
        """Whether every league of this shape is drawn until it can be played in full."""
        return not self.short and not self.stranded


def _team(rng: random.Random, shape: Shape) -> tuple[set[int], set[int]]:
    """(venue days, days the team cannot play) of one team."""
    n_teams, n_slots = shape.n_teams, shape.n_slots
    weekday, parity = rng.randrange(7), rng.randrange(2)
    weekly = rng.random() < shape.weekly
    days = {weekday}
    if shape.second_day and rng.random() < shape.second_day:
        days.add((weekday + rng.randint(2, 5)) % 7)
    venue = {s for s in range(n_slots) if s % 7 in days and (weekly or (s // 7) % 2 == parity)}
    unavailable: set[int] = set()
    for _ in range(rng.randint(0, shape.holidays)):  # holidays: a week or two away
        start = rng.randrange(n_slots)
        unavailable |= set(range(start, min(start + 7 * rng.randint(1, 2), n_slots)))
    unavailable |= set(rng.sample(range(n_slots), rng.randint(0, shape.days_off)))  # single days
    venue -= unavailable
    # a venue needs a day or more to spare beyond the home games
    spare = rng.randint(*shape.spare)
    closed = set(rng.sample(sorted(venue), max(len(venue) - (n_teams - 1) - spare, 0)))
    return venue - closed, unavailable


def _strand(rng: random.Random, teams: list[tuple[set[int], set[int]]], team: int) -> None:
    """Makes ``team`` unavailable on most days on which the others host, so
    that some of its away games find no day."""
    venue, unavailable = teams[team]
    others = sorted(set().union(*(v for t, (v, _) in enumerate(teams) if t != team)) - venue)
    unavailable |= set(rng.sample(others, len(others) * 4 // 5))


def variant(seed: int, shape: Shape = Shape()) -> Instance:
    """A league of ``shape`` that the seed reproduces exactly."""
    n_teams, n_slots = shape.n_teams, shape.n_slots
    if n_teams < 2 or n_slots < 8 * n_teams:
        raise ValueError("a league needs at least 2 teams and 8 slots per team")
    if shape.short + shape.stranded > n_teams:
        raise ValueError("more short and stranded teams than teams")
    rng = random.Random(seed)
    while True:
        teams = [_team(rng, shape) for _ in range(n_teams)]
        for team in range(shape.short):  # one venue day fewer than home games
            venue, _ = teams[team]
            venue -= set(rng.sample(sorted(venue), max(len(venue) - (n_teams - 2), 0)))
        for team in range(shape.short, shape.short + shape.stranded):
            _strand(rng, teams, team)
        availability = []
        for team, (venue, unavailable) in enumerate(teams):
            availability.append(Availability(team, "H", frozenset(set(range(n_slots)) - venue)))
            availability.append(Availability(team, "HA", frozenset(unavailable)))
        instance = Instance(f"league-{n_teams}x{n_slots}-seed{seed}", n_teams, n_slots,
                            tuple(availability), shape.windows,
                            (Separation(shape.separation, n_slots),))
        if (infeasibility_bound(instance) == 0) == shape.playable:
            return instance


def generate(seed: int = 1, n_teams: int = 15, n_slots: int = 273) -> Instance:
    """A league of the IF shape that every seed reproduces exactly."""
    return variant(seed, replace(Shape(), n_teams=n_teams, n_slots=n_slots))

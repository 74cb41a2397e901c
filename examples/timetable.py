"""A schedule of the search with its bookkeeping kept up to date move by move.

The search changes a few games at a time and asks after each change what the
schedule costs, which slots a new game of a team would crowd into a hard rest
window, and which teams have used up their home-day budget. Working these out
from the whole matrix X each time costs far more than the module's ``solve``
itself, so ``Timetable`` keeps X together with per-team summaries that each
change of a game updates in a few integer operations:

* the slots of each team's games, and of its away games, as the bits of a
  Python integer;
* how many away games each team plays on its own home days;
* the games without a slot;
* what each team's games cost (hard rest-window excess, objective) and which
  slots they close to one more game, worked out with a few operations on
  those integers and only again for the teams whose games changed.

``Rules`` holds what never changes during a search: the instance's tables as
integers and bit sets.
"""

from __future__ import annotations

from typing import Callable

import numpy as np

from robinx import UNSCHEDULED, Instance

Cost = tuple[int, int]  # (infeasibility, objective), compared in this order

def bits(slots) -> int:
    """The set of ``slots`` as the bits of an integer."""
    value = 0
    for s in slots:
        value |= 1 << int(s)
    return value


def slots_of(value: int) -> list[int]:
    """The slots whose bits are set in ``value``, ascending."""
    found = []
    while value:
        low = value & -value
        found.append(low.bit_length() - 1)
        value ^= low
    return found


def team_slots(x: np.ndarray) -> np.ndarray:
    """Row t: the slots of team t's games, ascending, padded with 9999.0."""
    return np.sort(np.concatenate((x, x.T), axis=1), axis=1)


class Pricing:
    """Exact cost (infeasibility, objective) of a schedule in the search.

    The schedules of the search keep CA1, SE1 and one game per slot by
    construction (the module's cost model forbids the rest), so the
    infeasibility counts games without a slot and hard rest-window excess.
    A soft window (at most one game in intp slots) holding c > 1 games costs
    c - 1 times its penalty: one for each two consecutive games inside it. So
    the objective sums, over consecutive games s < s + d of each team, the
    cost of the pair: for each soft window, the number of windows that hold
    both slots (fewer near the ends of the season) times its penalty. Pair
    costs are looked up in a table made once.
    """

    def __init__(self, instance: Instance):
        self.n = instance.n_teams
        self.n_slots = instance.n_slots
        self.hard = [(r.intp, r.max) for r in instance.windows if r.hard]
        soft = [(r.intp, r.penalty) for r in instance.windows if not r.hard]
        self.reach = max((intp for intp, _ in soft), default=0)  # gaps below this can cost
        s = np.arange(self.n_slots)[:, None]
        d = np.arange(max(self.reach, 1))[None, :]
        self.pair_cost = np.zeros((self.n_slots, max(self.reach, 1)), dtype=np.int64)
        for intp, penalty in soft:
            # windows start at w, max(0, s + d - intp + 1) <= w <= min(s, n_slots - intp)
            count = np.minimum(s, self.n_slots - intp) - np.maximum(0, s + d - intp + 1) + 1
            self.pair_cost += penalty * np.maximum(count, 0)

    def __call__(self, x: np.ndarray) -> Cost:
        infeasibility = int(np.count_nonzero(x == UNSCHEDULED)) - self.n
        slots = team_slots(x)
        for intp, most in self.hard:
            later = slots[:, most:]
            if np.any((later - slots[:, :-most] < intp) & (later < UNSCHEDULED)):
                infeasibility += self.window_excess(slots, intp, most)
        first = slots[:, :-1]
        gap = slots[:, 1:] - first
        near = (gap < self.reach) & (first < UNSCHEDULED)
        objective = int(self.pair_cost[first[near].astype(np.int64), gap[near].astype(np.int64)].sum())
        return infeasibility, objective

    def window_excess(self, slots: np.ndarray, intp: int, most: int) -> int:
        excess = 0
        for row in slots:
            counts = np.bincount(row[row < UNSCHEDULED].astype(np.int64), minlength=self.n_slots)
            running = np.concatenate(([0], np.cumsum(counts)))
            excess += int(np.maximum(running[intp:] - running[:-intp] - most, 0).sum())
        return excess


class Rules:
    """The fixed tables of one instance for ``Timetable``."""

    def __init__(self, instance: Instance, home_slots: dict[int, list[float]], spare: int):
        n = self.n = instance.n_teams
        self.size = n + spare
        self.n_slots = instance.n_slots
        self.pricing = Pricing(instance)
        self.home = [bits(home_slots[t]) for t in range(n)]
        self.budget = [max(len(home_slots[t]) - (n - 1), 0) for t in range(n)]
        self.hard = [(r.intp, r.max) for r in instance.windows if r.hard]
        soft = [(r.intp, r.penalty) for r in instance.windows if not r.hard]
        # Two consecutive games of a team s and s + d apart cost pair_cost[s][d]
        # for d < reach: for each soft window, the number of windows that hold
        # both (fewer near the ends of the season) times its penalty.
        self.reach = max((intp for intp, _ in soft), default=0)
        s = np.arange(self.n_slots)[:, None]
        d = np.arange(max(self.reach, 1))[None, :]
        table = np.zeros((self.n_slots, max(self.reach, 1)), dtype=np.int64)
        for intp, penalty in soft:
            count = np.minimum(s, self.n_slots - intp) - np.maximum(0, s + d - intp + 1) + 1
            table += penalty * np.maximum(count, 0)
        self.pair_cost: list[list[int]] = table.tolist()
        # Away from the ends of the season a pair costs the same everywhere:
        # gap_cost[d]; edge[d]: the slots s where pair (s, s + d) costs less.
        middle = self.n_slots // 2
        self.gap_cost = self.pair_cost[middle] if self.reach else [0]
        self.edge = [bits(s for s in range(self.n_slots) if self.pair_cost[s][d] != self.gap_cost[d])
                     for d in range(len(self.gap_cost))]
        # The windows that lie within the season (bit w: the window from slot w):
        self.inside = [(1 << (self.n_slots - intp + 1)) - 1 for intp, _ in self.hard]
        # near[s]: the slots that share a window with slot s, the only ones
        # whose closing a game in slot s can take part in
        widest = max((intp for intp, _ in self.hard), default=1)
        self.near = [((1 << (2 * widest - 1)) - 1) << (s - widest + 1) if s >= widest - 1
                     else (1 << (s + widest)) - 1 for s in range(self.n_slots)]
        # The league's usual rules (at most 2 games in 4 slots; soft windows
        # of up to 4 slots) have versions of ``closed`` and ``summary`` in
        # fewer steps; they give the same results as the general ones.
        self.closed: Callable[[int], int] = self.closed_any
        self.summary: Callable[[int], tuple[int, int, int]] = self.summary_any
        if self.hard == [(4, 2)] and self.reach == 4:
            self.closed, self.summary = self._two_in_four()

    def _two_in_four(self) -> tuple[Callable[[int], int], Callable[[int], tuple[int, int, int]]]:
        """``closed`` and ``summary`` for at most 2 games in 4 slots and
        soft windows of up to 4 slots, with the tables in local names."""
        _, cost1, cost2, cost3 = self.gap_cost
        edges = self.edge[1] | self.edge[2] | self.edge[3]
        exact = self.team_cost

        def closed(games: int) -> int:
            one, two, three = games >> 1, games >> 2, games >> 3
            one_two = one | two
            # windows from slot w with 2 games or more: two of w + 1 .. w + 3, or w and one of them
            full = (one & two) | (one_two & three) | (games & (one_two | three))
            return full | full << 1 | full << 2 | full << 3

        def summary(games: int) -> tuple[int, int, int]:
            one, two, three = games >> 1, games >> 2, games >> 3
            one_two = one | two
            later = (one & two) | (one_two & three)  # bit w: 2 games or more in w + 1 .. w + 3
            full = later | (games & (one_two | three))
            # consecutive games 1, 2 and 3 slots apart
            gap1, gap2, gap3 = games & one, games & two & ~one, games & three & ~one_two
            if games & later or (gap1 | gap2 | gap3) & edges:
                # a window over the limit, or pairs near the ends of the season
                excess, objective = exact(games)
            else:
                excess = 0
                objective = cost1 * gap1.bit_count() + cost2 * gap2.bit_count() + cost3 * gap3.bit_count()
            return full | full << 1 | full << 2 | full << 3, excess, objective

        return closed, summary

    def closed_any(self, games: int) -> int:
        """The slots in which one more game would overfill a hard window of a
        team whose games are ``games``: those of every window of intp slots
        that already holds ``max`` games."""
        found = 0
        for intp, most in self.hard:
            full = _at_least(games, intp, most)  # bit w: the window from slot w
            for k in range(1, intp):
                found |= full << k
            found |= full
        return found

    def summary_any(self, games: int) -> tuple[int, int, int]:
        """(closed, excess, objective) of a team's games ``games``."""
        return (self.closed(games), *self.team_cost(games))

    def team_cost(self, games: int) -> tuple[int, int]:
        """(excess, objective) of a team's games ``games``: how far they
        overfill the hard windows (for each window, the games beyond its
        ``max``), and what the gaps between consecutive ones cost."""
        excess = 0
        for (intp, most), inside in zip(self.hard, self.inside):
            # No window is overfull unless some game starts one: ``most``
            # more games within the intp - 1 slots after it.
            if games & _at_least(games >> 1, intp - 1, most):
                for j in range(most + 1, intp + 1):
                    excess += (_at_least(games, intp, j) & inside).bit_count()
        objective = 0
        between = 0  # bit s: a game lies after s and before s + d
        gap_cost, edge = self.gap_cost, self.edge
        for d in range(1, self.reach):
            later = games >> d
            pairs = games & later & ~between
            between |= later
            if pairs:
                objective += gap_cost[d] * pairs.bit_count()
                if pairs & edge[d]:
                    objective -= sum(gap_cost[d] - self.pair_cost[s][d]
                                     for s in slots_of(pairs & edge[d]))
        return excess, objective


def _at_least(games: int, intp: int, most: int) -> int:
    """The windows of intp slots (bit w: the window from slot w) that hold
    ``most`` of ``games`` or more."""
    if most == 2:  # the common rule, in fewer steps
        one, two = games, 0
        for k in range(1, intp):
            later = games >> k
            two |= one & later
            one |= later
        return two
    level = [-1] + [0] * most  # level[j]: windows holding j games so far
    for k in range(intp):
        later = games >> k
        for j in range(most, 0, -1):
            level[j] |= level[j - 1] & later
    return level[most]


class Timetable:
    """The matrix X of a search (n teams and ``spare`` extra rows and
    columns) with every team's games and the home-day budgets used, kept
    current by ``set``, and what each team's games cost and close, worked out
    again only for the teams whose games changed. Write games only through
    ``set``, ``set_row`` and ``clear_row``; ``Placer`` alone writes X
    directly, around a ``solve``, and then reports the new row with
    ``settle_row``.

    While some team plays twice in one slot (the search never makes such a
    schedule, but a caller may), a team's bits cannot say how many games a
    slot holds: the teams concerned are then recounted from X after every
    change, and ``clashes`` tells the users of the bits to work from X."""

    def __init__(self, rules: Rules):
        self.rules = rules
        n = rules.n
        self.x = np.full((rules.size, rules.size), UNSCHEDULED)
        self.flat = self.x.reshape(-1)  # X[i][j] is flat[i * size + j]
        self.games = [0] * n  # the bits of each team's slots
        self.away = [0] * n  # the bits of the slots of each team's away games
        self.spent = [0] * n  # away games of each team on its own home days
        # bit t: team t has no home day to spare (spent[t] >= its budget)
        self.full = bits(t for t in range(n) if rules.budget[t] <= 0)
        self.missing = n * (n - 1)  # games without a slot
        self.doubled = [0] * n  # each team's games beyond the first in a slot
        self.clashes = 0  # their sum
        # What each team's games close and cost (Rules.summary); shut[t] is
        # -1 while the three are to be worked out again.
        self.shut = [0] * n
        self.team_excess = [0] * n
        self.team_objective = [0] * n
        self.shut_away = [0] * n  # Rules.closed of its away games, -1 while not known

    def copy(self) -> Timetable:
        other = Timetable.__new__(Timetable)
        other.__dict__.update(self.__dict__)
        other.x = self.x.copy()
        other.flat = other.x.reshape(-1)
        for name in ("games", "away", "spent", "doubled", "shut", "shut_away", "team_excess",
                     "team_objective"):
            setattr(other, name, getattr(self, name)[:])
        return other

    def cost(self) -> tuple[int, int]:
        """(infeasibility, objective), as ``Pricing`` gives them for X."""
        if self.clashes:  # the teams' bits cannot tell what two games in a slot cost
            return self.rules.pricing(self.x[:self.rules.n, :self.rules.n])
        shut, games, summary = self.shut, self.games, self.rules.summary
        excess, objective = self.team_excess, self.team_objective
        for t in [t for t, known in enumerate(shut) if known < 0]:
            shut[t], excess[t], objective[t] = summary(games[t])
        return self.missing + sum(excess), sum(objective)

    def refresh(self, team: int) -> int:
        """Works out again what the team's games close and cost; returns
        the slots they close."""
        shut, self.team_excess[team], self.team_objective[team] = self.rules.summary(self.games[team])
        self.shut[team] = shut
        return shut

    # -- changing games ----------------------------------------------------

    def set(self, home: int, away: int, slot: float) -> None:
        """Puts game home-away into ``slot`` (UNSCHEDULED: no slot)."""
        old = self.x[home, away]
        if old != slot:
            self.x[home, away] = slot
            self._book(home, [(away, float(old), float(slot))])

    def set_row(self, team: int, slots: list[float]) -> None:
        """Gives team's home games the slots ``slots`` (one per column of X)."""
        n = self.rules.n
        row = self.x[team]
        before = row[:n].tolist()
        for away in range(n):
            if away != team:
                row[away] = slots[away]
        self._book(team, [(away, before[away], float(slots[away])) for away in range(n)
                          if away != team and before[away] != slots[away]])

    def clear_row(self, team: int) -> None:
        self.set_row(team, [UNSCHEDULED] * self.rules.n)

    def settle_row(self, team: int, before: list[float]) -> bool:
        """Takes in row ``team`` of X as ``solve`` left it, where it was
        ``before`` (its first n values): NaN (no slot) becomes UNSCHEDULED,
        the extra columns are emptied. Says whether the row changed."""
        n, size, flat = self.rules.n, self.rules.size, self.flat
        for cell in range(team * size + n, team * size + size):  # scalar writes: the fastest way here
            flat[cell] = UNSCHEDULED
        row = self.x[team]
        after = row[:n].tolist()
        if after == before:
            return False
        total = sum(after)
        if total != total:  # NaN for some opponent
            for away, slot in enumerate(after):
                if slot != slot:
                    row[away] = after[away] = UNSCHEDULED
        moves = [(away, old, new) for away, (old, new) in enumerate(zip(before, after)) if new != old]
        if moves:
            self._book(team, moves)
        return bool(moves)

    def _book(self, home: int, moves: list[tuple[int, float, float]]) -> None:
        """Books the moves (away team, old slot, new slot) of home's games,
        already made in X. Each away team has one game in the row, so its
        game leaves and joins in one step; the home team's games all leave
        before any joins, so that it never seems to play twice in a slot on
        the way."""
        games, away_games, shut, shut_away = self.games, self.away, self.shut, self.shut_away
        home_days = self.rules.home
        recount = self.clashes
        left = joined = 0  # the slots of the home team's games that leave, and that join
        joins = 0
        missing = self.missing
        for away, old, new in moves:
            shut[away] = shut_away[away] = -1
            its, its_away = games[away], away_games[away]
            if old != UNSCHEDULED:
                bit = 1 << int(old)
                left |= bit
                its ^= bit
                its_away ^= bit
                if home_days[away] & bit:
                    self._spend(away, -1)
                missing += 1
            if new != UNSCHEDULED:
                bit = 1 << int(new)
                if its & bit:
                    recount = True  # the away team now plays twice in the slot
                joined |= bit
                joins += 1
                its |= bit
                its_away |= bit
                if home_days[away] & bit:
                    self._spend(away, 1)
                missing -= 1
            games[away], away_games[away] = its, its_away
        self.missing = missing
        kept = games[home] ^ left
        if kept & joined or joined.bit_count() != joins:
            recount = True  # the home team now plays twice in a slot
        if recount:
            self._recount([home] + [away for away, _, _ in moves])
        elif kept | joined != games[home]:  # not when its games only changed opponents
            games[home] = kept | joined
            shut[home] = -1

    def _spend(self, team: int, days: int) -> None:
        spent = self.spent[team] = self.spent[team] + days
        if spent >= self.rules.budget[team]:
            self.full |= 1 << team
        else:
            self.full &= ~(1 << team)

    def _recount(self, teams: list[int]) -> None:
        """Works out the bits and the doubled games of ``teams`` from X."""
        n = self.rules.n
        for t in teams:
            home, away = self.x[t, :n].tolist(), self.x[:n, t].tolist()
            home[t] = away[t] = UNSCHEDULED
            slots = [int(s) for s in home + away if s == s and s != UNSCHEDULED]
            away_slots = [int(s) for s in away if s == s and s != UNSCHEDULED]
            self.games[t], self.away[t] = bits(slots), bits(away_slots)
            self.doubled[t] = len(slots) - len(set(slots))
            self.shut[t] = self.shut_away[t] = -1
        self.clashes = sum(self.doubled)

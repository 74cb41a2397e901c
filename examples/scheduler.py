"""Search for a good timetable with ``tavelin``.

The timetable is the module's matrix X: X[i][j] is the slot in which team i
hosts team j, 9999.0 while that game has no slot. The one move of the search
is the module's: clear one team's row and let ``Tavelin.solve`` place all of
that team's home games anew, optimally given every other game (``Placer``).
Around it the search (``Search``) builds a schedule row by row, puts games
that found no slot back in by making room for them, and then improves the
schedule by re-placing rows until none improves, clearing a few rows at once
to leave such a local optimum.

How the rules of an instance become the module's parameters (``model_for``):

* home slots: the slots in which the venue is open and the team may play;
* forbidden slots: the slots in which a team may not play at all;
* ``m``: the two games of a pair lie at least SE1 min + 1 slots apart;
* ``r_max`` 2: a team plays at most one game per slot;
* ``penalties``: a gap of d slots between two consecutive games of a team lies
  inside intp - d windows of each soft rest window (at most one game in intp
  consecutive slots), so it costs the sum of penalty x (intp - d).

The hard rest windows (at most ``max`` games in ``intp`` consecutive slots)
are not part of the module's cost model. Before each ``solve`` the placer
therefore works out which pairings of a home slot with an opponent would break
one, given the games already placed, and marks them as taken for that call
only, so every placement ``solve`` makes keeps the hard windows.
"""

from __future__ import annotations

import math
import random
import time
from dataclasses import dataclass
from typing import Callable

import numpy as np

import tavelin
from bounds import infeasibility_bound
from floors import known_floor
from robinx import UNSCHEDULED, Instance
from timetable import Pricing, Rules, Timetable, team_slots  # noqa: F401 (Pricing: re-exported)

Cost = tuple[int, int]  # (infeasibility, objective), compared in this order


class UnsupportedInstance(ValueError):
    """An instance whose rules the module's cost model cannot express."""


@dataclass(frozen=True)
class Model:
    """The module's parameters for one instance."""

    sets_home: dict[int, list[float]]
    sets_forbidden: dict[int, list[int]]
    m: int
    p: int
    r_max: int
    penalties: dict[int, int]


def gap_penalties(instance: Instance) -> dict[int, int]:
    penalties: dict[int, int] = {}
    for rule in instance.windows:
        if rule.hard:
            continue
        if rule.max != 1:
            raise UnsupportedInstance(
                f"a soft CA3 with max={rule.max} cannot be priced by gaps (only max=1)")
        for gap in range(1, rule.intp):
            penalties[gap] = penalties.get(gap, 0) + rule.penalty * (rule.intp - gap)
    return penalties


def model_for(instance: Instance) -> Model:
    n = instance.n_teams
    for rule in instance.separations:
        if rule.max < instance.n_slots - 2:
            raise UnsupportedInstance(f"an SE1 with max={rule.max} cannot be enforced")
    penalties = gap_penalties(instance)
    # Leaving a game without a slot must cost more than any row of placed
    # games, so that solve places as many games as it can.
    worst_row = 4 * max(penalties.values(), default=0) * (n - 1)
    return Model(
        sets_home={t: [float(s) for s in instance.home_slots(t)] for t in range(n)},
        sets_forbidden={t: sorted(instance.unavailable(t)) for t in range(n)},
        m=max((rule.min + 1 for rule in instance.separations), default=0),
        p=10 * worst_row + 1000,
        r_max=2,
        penalties=penalties,
    )


class Placer:
    """Re-places one team's home games with ``Tavelin.solve``, keeping the
    hard rest windows and the home-day budgets.

    Home-day budget: a team with h home slots and n - 1 home games can afford
    to play away in at most h - (n - 1) of its own home slots; each more would
    leave one of its home games without a slot. So when a team has used up
    that budget, the placer uses a ``Tavelin`` in whose forbidden slots that
    team's home slots are added, and no other row can place it away on its
    home days. Two ``Tavelin`` are kept for each set of such teams met (one
    for each order of the home slots, see below).

    ``solve`` breaks ties between equally good placements in one fixed way,
    by the order in which it is given the home slots. Every other call goes
    to a ``Tavelin`` that lists them in reverse, so that placing a row again
    can move it sideways to an equally good one: the descent and the
    replicas then walk across the plateaus of the objective instead of
    stopping at the first row of each.

    A slot s is closed to team t when some window of intp slots around s
    already holds ``max`` games of t. Before a call, every home slot of the
    home team that is closed to an opponent is written as a game of that
    opponent into a cell the search never uses: first the opponent's diagonal
    cell, then its cells in ``spare`` extra rows of X. Teams of those extra
    rows may play in no slot, so ``solve`` leaves them without a game. The
    cells are cleared again after the call. A closed slot that finds no free
    cell stays open: the pricing of the search then sees the excess.
    """

    def __init__(self, instance: Instance, model: Model, spare: int = 2):
        n = self.n = instance.n_teams
        self.size = n + spare
        self.model = model
        self.rules = Rules(instance, model.sets_home, spare)
        self.forbidden = {t: set(slots) for t, slots in model.sets_forbidden.items()}
        for extra in range(n, self.size):
            self.forbidden[extra] = set(range(instance.n_slots))
        # engines[full << 1 | order]: see engine
        self.engines: dict[int, tavelin.Tavelin] = {}
        # cells[t]: the cells of X (seen as a flat array) that can hold
        # closed slots of team t: its diagonal cell, then its column in
        # each extra row
        self.cells = [[t * self.size + t] + [row * self.size + t for row in range(n, self.size)]
                      for t in range(n)]
        self.budget = np.array(self.rules.budget)
        self.hard = self.rules.hard
        # following[t][s]: the first home slot of t from s on (past the end: none)
        reach = instance.n_slots + 2 * max((intp for intp, _ in self.hard), default=0) + 1
        self.following = []
        for team in range(n):
            home = set(map(int, model.sets_home[team]))
            row, nxt = [reach] * (reach + 1), reach
            for s in range(reach - 1, -1, -1):
                if s in home:
                    nxt = s
                row[s] = nxt
            self.following.append(row)
        self.solves = 0

    def engine(self, full: int, order: int) -> tavelin.Tavelin:
        """The ``Tavelin`` that keeps the teams whose bits are set in
        ``full`` out of their own home slots, with the home slots in their
        order (``order`` 0) or reversed (1)."""
        key = full << 1 | order
        engine = self.engines.get(key)
        if engine is None:
            forbidden = {t: sorted(self.forbidden[t] | (set(map(int, self.model.sets_home[t]))
                                                        if t < self.n and full >> t & 1 else set()))
                         for t in self.forbidden}
            m = self.model
            home = m.sets_home if order == 0 else {t: s[::-1] for t, s in m.sets_home.items()}
            engine = self.engines[key] = tavelin.Tavelin(home, forbidden, m.m, m.p, m.r_max, m.penalties)
        return engine

    def timetable(self) -> Timetable:
        """An empty schedule, with the extra rows and columns."""
        return Timetable(self.rules)

    def closed(self, x: np.ndarray, team: int) -> list[tuple[int, int]]:
        """(team, slot) pairs where a new game in a home slot of ``team`` would
        overfill a hard window, worked out from the matrix alone."""
        n = self.n
        slots = team_slots(x[:n, :n])
        following = self.following[team]
        found = []
        for intp, most in self.hard:
            # ``most`` consecutive games within intp slots close every slot
            # from the last one - intp + 1 to the first one + intp - 1
            first, last = slots[:, :-most + 1 or None], slots[:, most - 1:]
            full = (last - first < intp) & (last < UNSCHEDULED)
            if not full.any():
                continue
            teams = np.nonzero(full)[0].tolist()
            for t, lo, hi in zip(teams, last[full].tolist(), first[full].tolist()):
                s = following[max(int(lo) - intp + 1, 0)]
                while s <= hi + intp - 1:
                    found.append((t, s))
                    s = following[s + 1]
        return sorted(set(found))

    def mark(self, flat: np.ndarray, team: int, shut: int, taken: int, cells: list[int]) -> None:
        """Gives the lowest of the closed slots ``shut`` of ``team`` the
        team's cells, as many as there are, and writes into ``flat`` (X as
        one row) those that the team's games ``taken`` do not already hold
        (a second game in a slot blocks nothing more); adds the cells
        written to ``cells``."""
        for cell in self.cells[team]:
            if not shut:
                return
            low = shut & -shut
            shut ^= low
            if not taken & low:
                flat[cell] = low.bit_length() - 1
                cells.append(cell)

    def place(self, table: Timetable, team: int) -> list[float] | None:
        """Places all home games of ``team`` anew, optimally given the rest.
        Returns the team's row as it was when the placement changed it, else
        None."""
        n, rules = self.n, self.rules
        row = table.x[team]
        before = row[:n].tolist()
        row.fill(UNSCHEDULED)
        flat = table.flat
        cells: list[int] = []  # the cells written, in X seen as one row
        # The teams out of home-day budget and the closed slots, all without
        # the games of this row.
        full = table.full & ~(1 << team)
        home = rules.home
        at_budget = full
        while at_budget:  # those whose game here is on one of their home days
            low = at_budget & -at_budget
            at_budget ^= low
            t = low.bit_length() - 1
            slot = before[t]
            if slot != UNSCHEDULED and home[t] >> int(slot) & 1 \
                    and table.spent[t] == rules.budget[t]:
                full ^= low
        if table.clashes:  # bit sets cannot tell two games in one slot apart
            used: dict[int, int] = {}
            for t, s in self.closed(table.x, team):
                k = used.get(t, 0)
                if k <= self.size - n:
                    used[t] = k + 1
                    cells.append(self.cells[t][k])
                    flat[cells[-1]] = s
        else:
            games, known, closed = table.games, table.shut, rules.closed
            open_home, near, diagonal = home[team], rules.near, self.size + 1
            # the teams whose closed slots, if known (else -1), meet the home slots
            for t in [t for t, shut in enumerate(known) if shut & open_home]:
                shut = known[t]
                if shut < 0:
                    shut = table.refresh(t) & open_home
                    if not shut:
                        continue
                if t == team:
                    continue
                shut &= open_home
                taken = games[t]
                slot = before[t]
                if slot != UNSCHEDULED:
                    s = int(slot)
                    taken ^= 1 << s
                    if shut & near[s]:  # the game leaving may reopen slots near it
                        shut = closed(taken) & open_home
                if shut & (shut - 1):
                    self.mark(flat, t, shut, taken, cells)
                elif shut & ~taken:  # one slot, for the team's diagonal cell
                    flat[t * diagonal] = shut.bit_length() - 1
                    cells.append(t * diagonal)
            shut = table.shut_away[team]
            if shut < 0:  # the team's own games without this row: its away games
                shut = table.shut_away[team] = closed(table.away[team])
            if shut & open_home:
                self.mark(flat, team, shut & open_home, table.away[team], cells)
        order = self.solves & 1
        (self.engines.get(full << 1 | order) or self.engine(full, order)).solve(table.x, team)
        self.solves += 1
        for cell in cells:
            flat[cell] = UNSCHEDULED
        return before if table.settle_row(team, before) else None


@dataclass
class Progress:
    elapsed: float
    infeasibility: int
    objective: int
    solves: int


@dataclass
class Result:
    x: np.ndarray  # n x n
    infeasibility: int
    objective: int
    solves: int
    seconds: float
    found: float  # seconds until the best schedule was found


class Search:
    # The temperatures of the replicas of the search, in objective points,
    # coldest first (see ``search``).
    temperatures = (0.15, 0.3, 0.6, 1.2)
    # How many rows a perturbation clears, at least and at most.
    ruin = (2, 4)
    # Repair steps at most to put back the games a perturbation lost.
    mend_steps = 3

    def __init__(self, instance: Instance, seed: int = 0, spare: int = 2, floor: int | None = None):
        self.instance = instance
        # What the search's deadlines are measured in: the clock, or during
        # a run with a budget of solve calls, the calls made so far.
        self.now: Callable[[], float] = time.perf_counter
        self.n = instance.n_teams
        self.model = model_for(instance)
        self.placer = Placer(instance, self.model, spare)
        self.rng = random.Random(seed)
        self.unavailable = [instance.unavailable(t) for t in range(self.n)]
        # The fewest games without a slot to aim for: the proven floor given
        # or kept (floors.json), else the lower bound.
        if floor is None:
            floor = known_floor(instance)
        self.bound = infeasibility_bound(instance) if floor is None else floor
        # how often each game was left without a slot during repair
        self.weight = np.ones((self.n, self.n))
        np.fill_diagonal(self.weight, 0.0)

    def cost(self, table: Timetable) -> Cost:
        return table.cost()

    def construct(self) -> Timetable:
        table = self.placer.timetable()
        order = list(range(self.n))
        self.rng.shuffle(order)
        for team in order:
            self.placer.place(table, team)
        return table

    def descend(self, table: Timetable, cost: Cost, deadline: float, patience: int = 0) -> Cost:
        """Re-places rows, in random order, until ``patience`` of them in a row
        (default: all) do not improve the schedule."""
        patience = patience or self.n
        order = list(range(self.n))
        stale = 0  # rows re-placed since the last improvement
        while self.now() < deadline:
            self.rng.shuffle(order)
            for team in order:
                saved = self.placer.place(table, team)
                if saved is None:  # the row stayed as it was
                    stale += 1
                    if stale >= patience:
                        return cost
                    continue
                new = table.cost()
                if new < cost:
                    cost, stale = new, 0
                    continue
                if new > cost:
                    table.set_row(team, saved)
                stale += 1
                if stale >= patience:
                    return cost
        return cost

    # -- games without a slot ----------------------------------------------

    def blockers(self, x: np.ndarray, home: int, away: int, slot: int) -> list[tuple[int, int]]:
        """The games that keep game home-away out of ``slot``: those of either
        team in the slot or in a hard window that the game would overfill,
        and the reverse game when it lies too near."""
        n = self.n
        found = []
        for team in (home, away):
            row, column = x[team, :n].tolist(), x[:n, team].tolist()  # one conversion, not one per cell
            games = [(team, j, s) for j, s in enumerate(row) if s != UNSCHEDULED]
            games += [(i, team, s) for i, s in enumerate(column) if s != UNSCHEDULED]
            found += [(i, j) for i, j, s in games if s == slot]
            for intp, most in self.placer.hard:
                near = sorted((abs(s - slot), s, i, j) for i, j, s in games if 0 < abs(s - slot) < intp)
                # take out the nearest games until no window around the slot is too full
                while near and self.overfull([s for _, s, _, _ in near], slot, intp, most):
                    _, _, i, j = near.pop(0)
                    found.append((i, j))
        if abs(x[away, home] - slot) < self.model.m:
            found.append((away, home))
        return list(dict.fromkeys(found))

    @staticmethod
    def overfull(slots: list[float], slot: int, intp: int, most: int) -> bool:
        for start in range(slot - intp + 1, slot + 1):
            if 1 + sum(start <= s < start + intp for s in slots) > most:
                return True
        return False

    def force(self, table: Timetable, home: int, away: int, slot: int) -> None:
        """Puts game home-away into ``slot``, takes out the games in its way and
        re-places the rows of those games around it. Games of the home team's
        own row that were in the way stay without a slot."""
        ejected = self.blockers(table.x, home, away, slot)
        for i, j in ejected:
            table.set(i, j, UNSCHEDULED)
        table.set(home, away, float(slot))
        rows = list({i for i, _ in ejected if i != home})
        self.rng.shuffle(rows)
        for team in rows:
            self.placer.place(table, team)

    def repair(self, table: Timetable, tabu: dict, step: int) -> tuple[Timetable, Cost]:
        """Takes one game without a slot and makes room for it in each home
        slot it could use in turn, with and without re-placing the home
        team's row afterwards, and keeps the best outcome that is not tabu.
        Outcomes are judged by the games they leave without a slot, each
        weighted by how often it was left out before, so that the walk turns
        to other games instead of circling around the same few. Returns the
        outcome kept (``table`` when there is none) and its cost."""
        n = self.n
        x = table.x
        missing = [(int(i), int(j)) for i, j in np.argwhere(x[:n, :n] == UNSCHEDULED) if i != j]
        if not missing:
            return table, self.cost(table)
        home, away = self.rng.choice(missing)
        best = None
        for slot in self.model.sets_home[home]:
            slot = int(slot)
            if slot in self.unavailable[away] or tabu.get((home, away, slot), 0) > step:
                continue
            trial = table.copy()
            self.force(trial, home, away, slot)
            for variant in (0, 1):
                if variant:
                    trial = trial.copy()
                    self.placer.place(trial, home)
                cost = self.cost(trial)
                key = (self.missing_weight(trial.x), self.rng.random())
                if best is None or key < best[0]:
                    best = (key, trial, cost)
        if best is None:
            return table, self.cost(table)
        _, trial, cost = best
        for i, j in np.argwhere((trial.x != x)[:n, :n]):
            if x[i, j] != UNSCHEDULED:
                tabu[(int(i), int(j), int(x[i, j]))] = step + 7
        for i, j in np.argwhere(trial.x[:n, :n] == UNSCHEDULED):
            self.weight[i, j] += 1
        return trial, cost

    def mend(self, table: Timetable, cost: Cost, goal: int, deadline: float) -> tuple[Timetable, Cost]:
        """Puts back games that a perturbation left without a slot, with at
        most ``mend_steps`` repair steps while more than ``goal`` games lack
        one: where some games can never all have a slot, the perturbed rows
        often lose one more, and without this the replicas would never
        accept a schedule again."""
        tabu: dict = {}
        for step in range(1, self.mend_steps + 1):
            if cost[0] <= goal or self.now() >= deadline:
                break
            table, cost = self.repair(table, tabu, step)
        if cost[0] <= goal:
            cost = self.descend(table, cost, deadline)
        return table, cost

    def missing_weight(self, x: np.ndarray) -> float:
        n = self.n
        return float(self.weight[x[:n, :n] == UNSCHEDULED].sum())

    # -- the whole run -----------------------------------------------------

    def perturb(self, table: Timetable) -> None:
        """Clears a few rows and places them again, one after the other."""
        chosen = self.rng.sample(range(self.n), self.rng.randint(*self.ruin))
        for team in chosen:
            table.clear_row(team)
        for team in chosen:
            self.placer.place(table, team)

    def accepts(self, new: Cost, old: Cost, temperature: float) -> bool:
        """Whether a replica at ``temperature`` goes on from ``new``: always
        when it leaves fewer games without a slot, never when more, and
        otherwise when its objective is lower or equal, or higher by d with
        probability exp(-d / temperature)."""
        if new[0] != old[0]:
            return new[0] < old[0]
        worse = new[1] - old[1]
        return worse <= 0 or self.rng.random() < math.exp(-worse / temperature)

    def trades(self, cold: Cost, hot: Cost, cold_temperature: float, hot_temperature: float) -> bool:
        """Whether two neighbouring replicas trade schedules: always when
        the hotter one's leaves fewer games without a slot, never when more,
        otherwise with probability exp((cold - hot) x (1 / cold_temperature -
        1 / hot_temperature)) of their objectives (1 when the hotter one's is
        lower or equal). That is the Metropolis rule for taking the hotter
        schedule at the temperature 1 / (1 / cold_temperature - 1 /
        hot_temperature)."""
        return self.accepts(hot, cold, 1 / (1 / cold_temperature - 1 / hot_temperature))

    def run(self, seconds: float, report: Callable[[Progress], None] | None = None,
            target: Cost | None = None, *, progress: Callable[[Progress], None] | None = None,
            solves: int | None = None) -> Result:
        """Searches for ``seconds`` (less when ``target`` is reached) and
        returns the best schedule found. ``progress`` (or ``report``) is
        called with the best cost so far every tenth of a second or so.

        With ``solves``, the run ends after about that many ``solve`` calls
        instead (``seconds`` is then ignored) and every decision of the search
        follows the calls made, not the clock: the same seed gives the same
        schedule on any machine."""
        if solves is None:
            return self.search(seconds, progress or report, target)
        self.now = lambda: float(self.placer.solves)
        try:
            return self.search(float(solves), progress or report, target)
        finally:
            self.now = time.perf_counter

    def search(self, budget: float, report: Callable[[Progress], None] | None,
               target: Cost | None) -> Result:
        """The run, for ``budget`` units of ``self.now``."""
        clock = time.perf_counter
        start_time = clock()
        start = self.now()
        deadline = start + budget
        x = self.construct()
        cost = self.descend(x, self.cost(x), deadline)
        best, best_cost, found = x.copy(), cost, clock() - start_time
        last_report = start_time

        def record() -> None:
            nonlocal best, best_cost, found, last_report
            now = clock()
            if cost < best_cost:
                best, best_cost, found = x.copy(), cost, now - start_time
            if report and now - last_report >= 0.1:
                last_report = now
                report(Progress(now - start_time, *best_cost, self.placer.solves))

        def running() -> bool:
            return self.now() < deadline and (target is None or best_cost > target)

        # Games without a slot first: make room for them, as long as more of
        # them lack a slot than must, for at most half of the time.
        tabu: dict = {}
        step = 0
        repair_until = start + budget / 2
        while cost[0] > self.bound and running() and self.now() < repair_until:
            step += 1
            x, cost = self.repair(x, tabu, step)
            if step % 5 == 0:
                cost = self.descend(x, cost, deadline)
            record()
        # Then the objective, by parallel tempering: one replica of the
        # schedule for each temperature, all starting from the best. A step
        # of a replica leaves its local optimum by re-placing a few rows
        # together and descending again, and goes on from the outcome when
        # it is better, or worse by d with probability exp(-d / temperature).
        # After each round of steps, neighbouring replicas trade schedules
        # when the hotter one's is better, or with the probability that keeps
        # both walks fair. The hot replicas roam far; what they find sinks to
        # the cold ones, which search around it closely. Unlike one cooling
        # walk, this does not depend on the length of the run, and it keeps
        # leaving the schedules it has settled on.
        replicas = [(best.copy(), best_cost) for _ in self.temperatures]
        while running():
            for index, temperature in enumerate(self.temperatures):
                x, cost = replicas[index]
                trial = x.copy()
                self.perturb(trial)
                trial_cost = self.descend(trial, self.cost(trial), deadline)
                if trial_cost[0] > cost[0]:
                    trial, trial_cost = self.mend(trial, trial_cost, cost[0], deadline)
                if self.accepts(trial_cost, cost, temperature):
                    replicas[index] = x, cost = trial, trial_cost
                record()
            for index in range(len(replicas) - 1):
                (_, cold), (_, hot) = replicas[index], replicas[index + 1]
                if self.trades(cold, hot, *self.temperatures[index:index + 2]):
                    replicas[index], replicas[index + 1] = replicas[index + 1], replicas[index]
        n = self.n
        return Result(best.x[:n, :n].copy(), best_cost[0], best_cost[1], self.placer.solves,
                      clock() - start_time, found)

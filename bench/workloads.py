"""Seeded problem instances for the benchmark.

Two families, each with three states of the timetable X (empty, half filled,
mostly filled):

* ``compact(n, fill)``: a compact double round robin of n teams in 2(n - 1)
  slots.  Each team's home slots are the rounds in which it hosts in a
  circle-method timetable; X holds a random share of that timetable's games.
* ``league(fill)``: the shape of the example scheduler's time-relaxed indoor
  league: 15 teams, 273 slots, about 20 home slots per team, a few dozen days
  on which a team cannot play, mirrored games at least 61 slots apart, gap
  penalties from soft rest windows.  X holds a random
  share of a greedily built timetable.

Every call of a heuristic clears the row of the team it places (9999.0)
before asking for the placement; ``Workload.prepare`` does the same.
"""
from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

UNSCHEDULED = 9999.0
FILLS = {"empty": 0.0, "half": 0.5, "mostly": 0.9}
COMPACT_SIZES = (10, 20, 40, 80, 160)


@dataclass
class Workload:
    name: str
    n: int
    fill: str
    sets_home: dict
    sets_forbidden: dict
    m: int
    p: int
    r_max: int
    penalties: dict
    X: np.ndarray                      # the state every call starts from
    teams: np.ndarray                  # the team placed by call i is teams[i % len]
    full: np.ndarray = field(repr=False, default=None)   # the timetable X was sampled from

    def args(self):
        """Constructor arguments of tavelin.Tavelin (and of the peer)."""
        return (self.sets_home, self.sets_forbidden, self.m, self.p, self.r_max, self.penalties)

    def opponents(self, team: int) -> list:
        return [j for j in range(self.n) if j != team]

    def fresh(self) -> np.ndarray:
        return self.X.copy()

    def prepare(self, X: np.ndarray, team: int, previous: int | None) -> None:
        """Bring a working copy back to the base state with ``team``'s row cleared."""
        if previous is not None:
            X[previous] = self.X[previous]
        X[team] = UNSCHEDULED


def circle_timetable(n: int) -> np.ndarray:
    """Compact double round robin by the circle method: T[i][j] = round in which i hosts j.

    Team n-1 stays fixed while the others rotate; home rights alternate so
    that no team is at home or away in every round of a half.  The second
    half repeats the first with home and away swapped.
    """
    if n % 2:
        raise ValueError("the circle method needs an even number of teams")
    T = np.full((n, n), UNSCHEDULED)
    rounds = n - 1
    for r in range(rounds):
        pairs = [(n - 1, r) if r % 2 else (r, n - 1)]
        for k in range(1, n // 2):
            u, v = (r + k) % rounds, (r - k) % rounds
            pairs.append((u, v) if k % 2 else (v, u))
        for home, away in pairs:
            T[home, away] = r
            T[away, home] = r + rounds
    return T


def _sample_fill(rng: np.random.Generator, full: np.ndarray, share: float) -> np.ndarray:
    X = np.full(full.shape, UNSCHEDULED)
    games = np.argwhere(full != UNSCHEDULED)
    keep = games[rng.permutation(len(games))[: int(round(share * len(games)))]]
    X[keep[:, 0], keep[:, 1]] = full[keep[:, 0], keep[:, 1]]
    return X


def compact(n: int, fill: str, seed: int = 1) -> Workload:
    rng = np.random.default_rng([seed, n])
    full = circle_timetable(n)
    slots = 2 * (n - 1)
    sets_home = {t: sorted(float(s) for s in full[t] if s != UNSCHEDULED) for t in range(n)}
    sets_forbidden = {t: sorted(int(s) for s in rng.choice(slots, 3, replace=False)) for t in range(n)}
    X = _sample_fill(np.random.default_rng([seed, n, 7 + list(FILLS).index(fill)]), full, FILLS[fill])
    return Workload(
        name=f"n={n}", n=n, fill=fill,
        sets_home=sets_home, sets_forbidden=sets_forbidden,
        m=2, p=1000, r_max=2, penalties={1: 5, 2: 2, 3: 1},
        X=X, teams=rng.permutation(n), full=full,
    )


LEAGUE_TEAMS = 15
LEAGUE_SLOTS = 273
LEAGUE_SEPARATION = 61


def league_timetable(rng, sets_home, sets_forbidden, n, slots, m) -> np.ndarray:
    """A greedy random timetable: every game takes a random home slot of its host
    in which neither team plays yet, the guest may play, and the reverse game
    is at least ``m`` slots away; a game with no such slot stays unscheduled."""
    T = np.full((n, n), UNSCHEDULED)
    busy = np.zeros((n, slots), dtype=bool)
    blocked = np.zeros((n, slots), dtype=bool)
    for t, days in sets_forbidden.items():
        blocked[t, days] = True
    pairs = [(i, j) for i in range(n) for j in range(n) if i != j]
    for idx in rng.permutation(len(pairs)):
        i, j = pairs[idx]
        cand = np.array(sets_home[i], dtype=np.int64)
        ok = ~busy[i, cand] & ~busy[j, cand] & ~blocked[j, cand]
        if T[j, i] != UNSCHEDULED:
            ok &= np.abs(cand - T[j, i]) >= m
        if ok.any():
            s = int(rng.choice(cand[ok]))
            T[i, j] = s
            busy[i, s] = busy[j, s] = True
    return T


def league(fill: str, seed: int = 1) -> Workload:
    rng = np.random.default_rng([seed, 273])
    n, slots = LEAGUE_TEAMS, LEAGUE_SLOTS
    sets_home = {t: sorted(float(s) for s in rng.choice(slots, int(rng.integers(17, 24)), replace=False))
                 for t in range(n)}
    sets_forbidden = {t: sorted(int(s) for s in rng.choice(slots, int(rng.integers(15, 40)), replace=False))
                      for t in range(n)}
    # A day on which a team cannot play at all is no home day of it either.
    for t in range(n):
        sets_home[t] = [s for s in sets_home[t] if int(s) not in set(sets_forbidden[t])]
    full = league_timetable(rng, sets_home, sets_forbidden, n, slots, LEAGUE_SEPARATION)
    X = _sample_fill(np.random.default_rng([seed, 273, 7 + list(FILLS).index(fill)]), full, FILLS[fill])
    # Gap penalties of soft rest windows of 2, 3 and 4 slots (weights 5, 1, 1);
    # leaving a game without a slot costs more than any row of placed games.
    penalties = {1: 10, 2: 3, 3: 1}
    p = 10 * 4 * max(penalties.values()) * (n - 1) + 1000
    return Workload(
        name="league", n=n, fill=fill,
        sets_home=sets_home, sets_forbidden=sets_forbidden,
        m=LEAGUE_SEPARATION, p=p, r_max=2, penalties=penalties,
        X=X, teams=rng.permutation(n), full=full,
    )


def two_teams() -> Workload:
    """The smallest real call: two teams, one home slot each."""
    X = np.full((2, 2), UNSCHEDULED)
    return Workload(
        name="2 teams", n=2, fill="empty",
        sets_home={0: [0.0], 1: [1.0]}, sets_forbidden={}, m=1, p=1000, r_max=2, penalties={1: 1},
        X=X, teams=np.array([0]), full=X.copy(),
    )


def all_workloads(sizes=COMPACT_SIZES, seed: int = 1) -> list[Workload]:
    out = [league(f, seed) for f in FILLS]
    for n in sizes:
        out += [compact(n, f, seed) for f in FILLS]
    return out


def write_text(workloads: list[Workload], path) -> None:
    """Writes workloads in the plain text form that the native kernel
    benchmark (bench/kernel_bench.cpp) reads: one keyword line per item,
    numbers separated by spaces, slots and X written exactly (repr)."""
    def numbers(values) -> str:
        return " ".join(repr(float(v)) if isinstance(v, (float, np.floating)) else str(int(v)) for v in values)

    with open(path, "w") as out:
        for w in workloads:
            out.write(f"workload {w.name.replace(' ', '_')} {w.fill} {w.n} {w.m} {w.p} {w.r_max}\n")
            out.write(f"penalties {len(w.penalties)} {numbers(v for kv in w.penalties.items() for v in kv)}\n")
            for t, slots in w.sets_home.items():
                out.write(f"home {t} {len(slots)} {numbers(float(s) for s in slots)}\n")
            for t, slots in w.sets_forbidden.items():
                out.write(f"forbidden {t} {len(slots)} {numbers(slots)}\n")
            out.write(f"x {numbers(w.X.ravel())}\n")
            out.write(f"teams {len(w.teams)} {numbers(w.teams)}\n")
            out.write("end\n")

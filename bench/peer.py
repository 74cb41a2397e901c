"""The one-team placement step written with NumPy and SciPy alone.

This is what a careful user would write instead of calling tavelin: the cost
matrix is built with sorted slot lists, ``np.searchsorted`` and broadcasting
(no Python loop over cells or opponents), squared up with dummy rows and
columns and handed to ``scipy.optimize.linear_sum_assignment``.  It prices
every cell exactly as tavelin does, so the benchmark can demand equal cost
matrices (bit for bit) and equal totals before it times anything.

Pricing rules, for home team ``a`` hosting opponent ``g`` in slot ``s``:

* A team's used slots are its row of X, then its column, without 9999.0.
  A NaN entry counts as used but equals nothing, is close to nothing and
  yields no gap, so here it is treated like an unused one.
* The cell is infeasible (9999999.0) when ``s`` equals a used slot of either
  team, when a used slot ``t`` of either team is close (``r_max > |t - s| + 1``),
  when ``s`` truncated to int64 is forbidden for ``g``, or when
  ``m > |s - X[g][a]|``.
* Otherwise it costs the sum, in wrapping int64 arithmetic, of the penalties
  of four gaps: to the next and previous used slot of each team.  A gap is
  truncated to an index into the penalty table; no gap, or an index above
  the largest key, costs 0.
"""
from __future__ import annotations

import numpy as np
from scipy.optimize import linear_sum_assignment

UNSCHEDULED = 9999.0
INFEASIBLE = 9999999.0
BLOCKED = 1e15

_I64_MIN = -(2**63)
_TWO_63 = 2.0**63
# Sentinels around a sorted list of used slots: every finite slot has a used
# slot (perhaps a sentinel) at or above it and one below it.
_PADS = np.array([-np.inf, np.inf])


def slot_keys(slots: np.ndarray) -> np.ndarray:
    """Slots truncated toward zero to int64, saturating; NaN becomes 0."""
    t = np.trunc(np.nan_to_num(slots, nan=0.0, posinf=_TWO_63, neginf=-_TWO_63))
    keys = np.empty(t.shape, dtype=np.int64)
    big = t >= _TWO_63
    inside = ~big & (t >= -_TWO_63)
    keys[inside] = t[inside].astype(np.int64)
    keys[big] = np.iinfo(np.int64).max
    keys[~inside & ~big] = _I64_MIN
    return keys


class Peer:
    """Same constructor and methods as ``tavelin.Tavelin``."""

    def __init__(self, sets_home, sets_forbidden, m, p, r_max, penalties):
        self.sets_home = {int(t): np.array(v, dtype=np.float64) for t, v in sets_home.items()}
        self.m = float(int(m))
        self.p = float(int(p))
        self.r_max = 2.0 if int(r_max) < 3 else float(int(r_max))

        max_gap = max((int(k) for k in penalties), default=0)
        # One extra zero entry: every gap above max_gap (and "no gap") reads it.
        table = np.zeros(max_gap + 2, dtype=np.int64)
        for gap, pen in penalties.items():
            table[int(gap)] = int(pen)
        self.penalty_table = table
        self.gap_cap = float(max_gap + 1)

        # Forbidden slots as a dense boolean table: one row per team that has
        # any, one column per distinct forbidden key; the last row and column
        # stand for "team without forbidden slots" and "key forbidden nowhere".
        forb = {int(t): np.unique(np.asarray(v, dtype=np.int64)) for t, v in sets_forbidden.items()}
        # Opponents are row indices of X, so a team key beyond int64 never matches.
        forb = {t: k for t, k in forb.items() if k.size and t < 2**63}
        self.forb_teams = np.array(sorted(forb), dtype=np.int64)
        all_keys = list(forb.values())
        self.forb_keys = np.unique(np.concatenate(all_keys)) if all_keys else np.empty(0, np.int64)
        grid = np.zeros((len(self.forb_teams) + 1, len(self.forb_keys) + 1), dtype=bool)
        for row, team in enumerate(self.forb_teams):
            grid[row, np.searchsorted(self.forb_keys, forb[int(team)])] = True
        self.forb_grid = grid
        self._static = {}
        self._pads = {}

    # -- pieces of the cost matrix -------------------------------------------------

    def _penalty(self, gaps: np.ndarray) -> np.ndarray:
        # fmin maps NaN (no gap) to the cap; every real gap is positive, so the
        # cast truncates it toward zero just like the table index.
        return self.penalty_table[np.fmin(gaps, self.gap_cap).astype(np.int64)]

    def _forbidden(self, slots: np.ndarray, opponents: np.ndarray) -> np.ndarray:
        """Boolean (slots x opponents): is the slot's key forbidden for the opponent."""
        teams, keys = self.forb_teams, self.forb_keys
        if teams.size == 0:
            return np.zeros((slots.size, opponents.size), dtype=bool)
        ti = np.searchsorted(teams, opponents)
        ti_c = np.minimum(ti, teams.size - 1)
        ti = np.where(teams[ti_c] == opponents, ti_c, teams.size)
        sk = slot_keys(slots)
        ki = np.searchsorted(keys, sk)
        ki_c = np.minimum(ki, keys.size - 1)
        ki = np.where(keys[ki_c] == sk, ki_c, keys.size)
        return self.forb_grid[ti[None, :], ki[:, None]]

    def create_cost_matrix(self, X, team_idx, set_home, opponents) -> np.ndarray:
        S = np.asarray(set_home, dtype=np.float64).reshape(-1)
        O = np.asarray(opponents, dtype=np.int64).reshape(-1)
        order = np.argsort(S, kind="stable")
        cost = self._cost(X, int(team_idx), S[order], O, self._forbidden(S[order], O).T)
        K = np.empty((S.size, O.size))
        K[order] = cost.T
        return K

    def _cost(self, X, a, S, O, forbidden) -> np.ndarray:
        """Cost matrix transposed, (opponents x slots), for slots S sorted ascending
        (NaN last).  ``forbidden`` is the opponents x slots forbidden mask."""
        if S.size == 0 or O.size == 0:
            return np.zeros((O.size, S.size))
        finite = np.isfinite(S)
        if finite.all():
            return self._cost_sorted(X, a, S, O, forbidden, None)
        with np.errstate(invalid="ignore"):     # inf - inf on the way; overridden
            return self._cost_sorted(X, a, S, O, forbidden, finite)

    def _cost_sorted(self, X, a, S, O, forbidden, finite) -> np.ndarray:
        nS, nO = S.size, O.size
        R = self.r_max
        odd = finite is not None
        Sq = S
        if odd:
            # NaN and +-inf are priced apart below; the searches see the
            # nearest finite slot instead, which keeps Sq sorted.
            fin = S[finite]
            Sq = np.clip(np.nan_to_num(S, nan=np.inf), fin[0], fin[-1]) if fin.size else np.zeros(nS)

        # Used slots of every team: X without 9999.0 and NaN (neither < nor >
        # 9999.0); the others become -inf, which is never a neighbour that
        # matters (its gap is +inf, it is close to nothing).
        Xu = np.where((X < UNSCHEDULED) | (X > UNSCHEDULED), X, -np.inf)

        # Home team: a sorted list, one searchsorted for all its slots.  The
        # first used slot >= s and the last < s are the only candidates for
        # "close" and give the two gaps; an equal slot shows up as a gap of 0,
        # which is close since r_max >= 2.
        H = np.sort(np.concatenate((Xu[a, :], Xu[:, a], _PADS)))
        at = np.searchsorted(H, Sq)
        h_fwd = H[at] - S
        h_bwd = S - H[at - 1]

        # Opponents: each opponent's used slots sorted in its own row, padded
        # with -inf in front and +inf behind.  For each entry, count the
        # slots s that lie at or below it; the running sum of those counts
        # over a row tells, for every slot s, how many of the opponent's used
        # slots lie below s, which is the position of the first one >= s.
        G = np.concatenate((self._pad_cols(nO, -np.inf), Xu[O, :], Xu[:, O].T,
                            self._pad_cols(nO, np.inf)), axis=1)
        G.sort(axis=1)
        width = G.shape[1]
        bucket = np.searchsorted(Sq, G, "right")
        bucket += np.arange(nO)[:, None] * (nS + 1)
        hist = np.bincount(bucket.ravel(), minlength=nO * (nS + 1)).reshape(nO, nS + 1)
        below = np.cumsum(hist[:, :nS], axis=1)
        below += np.arange(nO)[:, None] * width
        flat = G.ravel()
        g_fwd = flat[below] - S
        g_bwd = S - flat[below - 1]

        if odd:
            # A NaN slot has no neighbours and equals nothing; an infinite one
            # has infinite or NaN gaps only and is excluded by equality alone.
            odd_at = ~finite
            h_fwd[odd_at] = h_bwd[odd_at] = np.nan
            g_fwd[:, odd_at] = g_bwd[:, odd_at] = np.nan
            Xs = X[:, :, None] == S[odd_at]                            # n x n x odd
            h_eq = Xs[a, :].any(0) | Xs[:, a].any(0)
            g_eq = Xs[O, :].any(1) | Xs[:, O].any(0)
            g_fwd[:, odd_at] = np.where(g_eq | h_eq, 0.0, np.nan)     # gap 0: excluded

        bad = (
            (R > np.fmin(h_fwd, h_bwd) + 1.0)
            | (R > np.fmin(g_fwd, g_bwd) + 1.0)
            | (self.m > np.abs(S - X[O, a][:, None]))
            | forbidden
        )
        cost = (self._penalty(h_fwd) + self._penalty(h_bwd)
                + self._penalty(g_fwd) + self._penalty(g_bwd)).astype(np.float64)
        cost[bad] = INFEASIBLE
        return cost

    def _pad_cols(self, rows: int, value: float) -> np.ndarray:
        key = (rows, value)
        pad = self._pads.get(key)
        if pad is None:
            pad = self._pads[key] = np.full((rows, 1), value)
        return pad

    # -- the placement step ---------------------------------------------------------

    def solve(self, X: np.ndarray, team_idx) -> float:
        a = int(team_idx)
        n = X.shape[0]
        static = self._static.get((a, n))
        if static is None:
            static = self._static[(a, n)] = self._team_static(a, n)
        S, O, forbidden, A0 = static
        nS, nO = S.size, O.size
        if nS + nO == 0:
            return -0.0
        # Rows of the assignment follow the sorted home slots; the total does
        # not depend on the order of the rows.
        K = self._cost(X, a, S, O, forbidden)
        A = A0.copy()
        A[:nS, :nO] = np.where(K == INFEASIBLE, BLOCKED, K).T
        rows, cols = linear_sum_assignment(A)
        total = float(A[rows, cols].sum())
        c = cols[:nS]
        placed = c < nO
        slot = np.full(nO, np.nan)
        slot[c[placed]] = S[placed]
        X[a, O] = slot
        return total

    def _team_static(self, a: int, n: int):
        """What solve() needs of a team beyond X: its sorted home slots, its
        opponents, their forbidden mask and the assignment matrix without the
        cost block (dummy rows at p, dummy columns at 0.0)."""
        S = np.sort(self.sets_home[a])
        O = np.concatenate((np.arange(a), np.arange(a + 1, n)))
        N = S.size + O.size
        A0 = np.zeros((N, N))
        A0[S.size:, :O.size] = self.p
        return S, O, self._forbidden(S, O).T, A0

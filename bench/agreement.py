"""The checks that make the comparison fair: both implementations price every
cell alike (bit for bit) and reach the same total, and each writes a row of X
that is a valid placement at the cost it returned."""
from __future__ import annotations

import numpy as np

from peer import BLOCKED, INFEASIBLE


class Disagreement(Exception):
    pass


def same_bits(a: np.ndarray, b: np.ndarray) -> bool:
    return a.shape == b.shape and a.dtype == b.dtype and np.array_equal(
        np.ascontiguousarray(a).view(np.uint64), np.ascontiguousarray(b).view(np.uint64))


def check_row(who, before, after, team, S, K, p, total):
    """The row written by solve must place each opponent in a distinct home
    slot (or none, NaN) at the cost returned, and nothing else may change."""
    n = before.shape[0]
    opps = [j for j in range(n) if j != team]
    untouched = np.ones(before.shape, dtype=bool)
    untouched[team, opps] = False
    if not np.array_equal(before[untouched], after[untouched], equal_nan=True):
        raise Disagreement(f"{who}: solve changed X outside row {team}")
    S = np.asarray(S, dtype=np.float64)
    if np.isnan(S).any():
        return  # a NaN slot cannot be told from "no slot"
    left = {}
    for s in S.tolist():
        left[s] = left.get(s, 0) + 1
    cost = -0.0 if S.size + len(opps) == 0 else 0.0
    for k, g in enumerate(opps):
        v = float(after[team, g])
        if v != v:
            cost += p
            continue
        if left.get(v, 0) == 0:
            raise Disagreement(f"{who}: team {team} vs {g} got slot {v}, not a free home slot")
        left[v] -= 1
        c = K[int(np.flatnonzero(S == v)[0]), k]
        cost += BLOCKED if c == INFEASIBLE else c
    if cost != total:
        raise Disagreement(f"{who}: row {team} as written costs {cost}, solve returned {total}")


def check_cost(label, peer, tav, X, team, S, opponents):
    """Both cost matrices for the same call must be identical to the bit."""
    k_peer = peer.create_cost_matrix(X, team, S, opponents)
    k_tav = tav.create_cost_matrix(X, team, S, opponents)
    if not same_bits(k_peer, k_tav):
        first = None
        if k_peer.shape == k_tav.shape:
            first = np.argwhere(k_peer.view(np.uint64) != k_tav.view(np.uint64))[:5].tolist()
        raise Disagreement(f"{label} team {team}: cost matrices differ "
                           f"(shapes {k_peer.shape} and {k_tav.shape}, first differing cells {first})")
    return k_tav


def check_call(label, peer, tav, X, team, S, p):
    """Compare the two on one call from state X, ``S`` being the team's home
    slots as the instance holds them; returns whether both wrote the same row."""
    opponents = [j for j in range(X.shape[0]) if j != team]
    K = check_cost(label, peer, tav, X, team, S, opponents)
    x_peer, x_tav = X.copy(), X.copy()
    t_peer, t_tav = peer.solve(x_peer, team), tav.solve(x_tav, team)
    if not same_bits(np.float64(t_peer), np.float64(t_tav)):
        raise Disagreement(f"{label} team {team}: totals differ: peer {t_peer!r}, tavelin {t_tav!r}")
    check_row(f"{label}, peer", X, x_peer, team, S, K, p, t_peer)
    check_row(f"{label}, tavelin", X, x_tav, team, S, K, p, t_tav)
    return bool(np.array_equal(x_peer, x_tav, equal_nan=True))

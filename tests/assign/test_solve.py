"""solve: the placement written into X and the total returned."""
import math
import struct

import numpy as np
import pytest

from support import INFEASIBLE, UNSCHEDULED, empty_x, make

NAN_BITS = 0x7FF8000000000000
S = (4.0, 6.0)


def instance_with_costs(K, p=100, team=1, n=3):
    """A team `team` of n teams whose cost matrix for home slots S is K.

    Each opponent g gets one game on its own diagonal X[g][g], far from S, so
    each cell's cost is the penalty of a gap that no other cell shares; an
    infeasible cell is made by forbidding the slot for the opponent."""
    opponents = [g for g in range(n) if g != team]
    x = empty_x(n)
    penalties, forbidden = {}, {}
    for k, g in enumerate(opponents):
        x[g, g] = 100.0 * (k + 1)
        for i, s in enumerate(S):
            if K[i][k] == INFEASIBLE:
                forbidden.setdefault(g, []).append(int(s))
            else:
                penalties[int(x[g, g] - s)] = K[i][k]
    t = make({team: list(S)}, forbidden, p=p, penalties=penalties)
    assert np.array_equal(t.create_cost_matrix(x, team, list(S), opponents), np.array(K, dtype=float))
    return t, x


I = INFEASIBLE


@pytest.mark.parametrize("K, row, total", [
    (((I, 3), (2, I)), (6.0, 4.0), 5.0),
    (((I, 3), (I, I)), (None, 4.0), 103.0),
    (((0, 0), (0, 0)), (4.0, 6.0), 0.0),
    (((1, 2), (2, 3)), (4.0, 6.0), 4.0),
    (((2, 1), (3, 2)), (6.0, 4.0), 4.0),
    (((I, I), (I, I)), (None, None), 200.0),
])
def test_worked_examples(K, row, total):
    t, x = instance_with_costs(K)
    before = x.copy()
    result = t.solve(x, 1)
    assert type(result) is float and result == total
    for opponent, slot in zip((0, 2), row):
        if slot is None:
            assert struct.pack("<d", x[1, opponent]) == struct.pack("<Q", NAN_BITS)
        else:
            assert x[1, opponent] == slot
    changed = [(i, j) for i in range(3) for j in range(3) if not (x[i, j] == before[i, j])]
    assert sorted(changed) == [(1, j) for j, slot in zip((0, 2), row) if slot != before[1, j]]


@pytest.mark.parametrize("cost, p, slot, total", [
    (7, 7, None, 7.0),        # equal to p: the opponent stays without a slot
    (6, 7, 4.0, 6.0),         # just below p: it gets the slot
    (5, 0, None, 0.0),        # p = 0 undercuts every positive cost
    (5, -3, None, -3.0),      # a negative p too ...
    (-4, -3, 4.0, -4.0),      # ... unless a cost is lower still
    (I, 10**16, 4.0, 1e15),   # p above 1e15 takes an infeasible pairing
])
def test_price_of_leaving_an_opponent_out(cost, p, slot, total):
    t, x = instance_with_costs(((cost,), (I,)), p=p, team=1, n=2)
    assert t.solve(x, 1) == total
    assert (math.isnan(x[1, 0]) if slot is None else x[1, 0] == slot)


def test_more_opponents_than_slots():
    t = make({2: [8.0, 3.0]}, p=7)
    x = empty_x(5)
    assert t.solve(x, 2) == 14.0
    assert list(x[2, :2]) == [8.0, 3.0] and np.isnan(x[2, 3:]).all() and x[2, 2] == UNSCHEDULED


def test_more_slots_than_opponents_and_repeated_slots():
    x = empty_x(3)
    assert make({0: [5.0, 5.0, 9.0]}).solve(x, 0) == 0.0
    assert list(x[0]) == [UNSCHEDULED, 5.0, 5.0]


def test_empty_home_slot_list():
    x = empty_x(4)
    assert make({3: []}, p=11).solve(x, 3) == 33.0
    assert np.isnan(x[3, :3]).all()


@pytest.mark.parametrize("slots, sign", [([2.0], 1.0), ([], -1.0)])
def test_one_team(slots, sign):
    x = empty_x(1)
    total = make({0: slots}).solve(x, 0)
    assert total == 0.0 and math.copysign(1.0, total) == sign
    assert x[0, 0] == UNSCHEDULED


def test_placed_games_are_replaced():
    x = empty_x(3)
    x[0, 1], x[0, 2] = 1.0, 2.0
    assert make({0: [10.0]}, p=5).solve(x, 0) == 5.0
    assert x[0, 1] == 10.0 and math.isnan(x[0, 2])


def fail_cases():
    x = empty_x(3)
    t = make({0: [1.0], 7: [2.0]})
    return [
        (t, x, 5, "team_idx not in sets_home"),   # missing key wins over the index test
        (t, x, 7, "ndarray: index out of bounds"),
        (make({0: [1.0]}), np.full((3, 2), UNSCHEDULED), 0, "ndarray: index out of bounds"),
    ]


@pytest.mark.parametrize("t, x, team, message", fail_cases())
def test_failures_leave_x_unchanged(Panic, t, x, team, message):
    x[1, 0] = 4.0
    before = x.copy()
    with pytest.raises(BaseException) as info:
        t.solve(x, team)
    assert type(info.value) is Panic and info.value.args == (message,)
    assert np.array_equal(x, before)


def test_total_is_least_cost_of_the_square_matrix():
    scipy_optimize = pytest.importorskip("scipy.optimize")
    rng = np.random.default_rng(7)
    for _ in range(300):
        n = int(rng.integers(2, 9))
        x = empty_x(n)
        mask = rng.random((n, n)) < 0.3
        x[mask] = rng.integers(0, 3 * n, size=mask.sum())
        team = int(rng.integers(0, n))
        slots = [float(v) for v in rng.integers(0, 3 * n, size=int(rng.integers(0, n + 2)))]
        p = int(rng.choice([0, 3, 20, 10**16]))
        t = make({team: slots}, {int(g): [int(rng.integers(0, 3 * n))] for g in range(n)}, m=int(rng.integers(0, 4)),
                 p=p, r_max=int(rng.integers(2, 4)), penalties={1: 9, 2: 4, 3: 1, 5: -2})
        opponents = [g for g in range(n) if g != team]
        K = t.create_cost_matrix(x, team, slots, opponents)
        nS, nO = K.shape
        A = np.zeros((nS + nO, nS + nO))
        A[:nS, :nO] = np.where(K == INFEASIBLE, 1e15, K)
        A[nS:, :nO] = p
        rows, cols = scipy_optimize.linear_sum_assignment(A)
        total = t.solve(x, team)
        assert total == A[rows, cols].sum()
        placed = x[team, opponents]
        assert np.count_nonzero(~np.isnan(placed)) <= nS

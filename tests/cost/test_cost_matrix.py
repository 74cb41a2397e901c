"""create_cost_matrix: the pricing rules, checked against the worked example,
rule by rule, and against a direct model of the rules on random inputs."""
import math

import numpy as np
import pytest

from support import INFEASIBLE, UNSCHEDULED, empty_x, make

INF = math.inf
NAN = math.nan


def worked_example_x():
    return np.array([[UNSCHEDULED, UNSCHEDULED, 3.0],
                     [1.0, UNSCHEDULED, UNSCHEDULED],
                     [UNSCHEDULED, 9.0, UNSCHEDULED]])


@pytest.mark.parametrize("m, expected", [
    (4, [INFEASIBLE, 7.0, INFEASIBLE, 6.0]),
    (5, [INFEASIBLE, INFEASIBLE, INFEASIBLE, 6.0]),
])
def test_worked_example(m, expected):
    t = make(sets_forbidden={1: [6]}, m=m, r_max=3, penalties={2: 5, 3: 2, 4: 1})
    x = worked_example_x()
    before = x.copy()
    k = t.create_cost_matrix(x, 0, [2, 5, 6, 7], [1])
    assert k.shape == (4, 1) and list(k[:, 0]) == expected
    assert np.array_equal(x, before)


def one_cell(slot, *, x=None, forbidden=None, m=0, r_max=2, penalties=None, team=0, opponent=1):
    t = make(sets_forbidden=forbidden or {}, m=m, r_max=r_max, penalties=penalties or {})
    if x is None:
        x = empty_x(3)
    return t.create_cost_matrix(x, team, [slot], [opponent])[0, 0]


def x_with(*games):
    x = empty_x(3)
    for (i, j, slot) in games:
        x[i, j] = slot
    return x


@pytest.mark.parametrize("case, slot, kwargs, expected", [
    ("home team plays in a close slot", 5.0, dict(x=x_with((0, 2, 6.0)), r_max=3), INFEASIBLE),
    ("home team plays in that slot", 5.0, dict(x=x_with((2, 0, 5.0))), INFEASIBLE),
    ("slot forbidden for the opponent", 5.0, dict(forbidden={1: [5]}), INFEASIBLE),
    ("home team's own forbidden slots do not count", 5.0, dict(forbidden={0: [5]}), 0.0),
    ("too close to the reverse game", 5.0, dict(x=x_with((1, 0, 9.0)), m=5), INFEASIBLE),
    ("exactly m away from the reverse game", 5.0, dict(x=x_with((1, 0, 10.0)), m=5), 0.0),
    ("m <= 0 excludes nothing", 5.0, dict(x=x_with((1, 0, 5.0)), m=0), INFEASIBLE),
    ("opponent plays in that slot", 5.0, dict(x=x_with((2, 1, 5.0))), INFEASIBLE),
    ("opponent plays in a close slot", 5.0, dict(x=x_with((1, 2, 4.0)), r_max=3), INFEASIBLE),
    ("r_max 2: a neighbouring slot is allowed", 5.0, dict(x=x_with((1, 2, 4.0), (0, 2, 6.0)), r_max=2), 0.0),
    ("r_max 3: two slots apart is allowed", 5.0, dict(x=x_with((1, 2, 3.0), (0, 2, 7.0)), r_max=3), 0.0),
    ("unscheduled reverse game within m", 5.0, dict(m=10**4), INFEASIBLE),
    ("unscheduled reverse game beyond m", 5.0, dict(m=9994), 0.0),
    ("fractional slot forbidden by its key", 3.7, dict(forbidden={1: [3]}), INFEASIBLE),
    ("negative fractional slot truncates toward zero", -2.9, dict(forbidden={1: [-2]}), INFEASIBLE),
    ("NaN slot has key 0", NAN, dict(forbidden={1: [0]}), INFEASIBLE),
    ("NaN slot is close to nothing", NAN, dict(x=x_with((0, 2, 1.0), (1, 2, 2.0)), penalties={1: 5}), 0.0),
    ("gap 2.9 uses entry 2", 5.0, dict(x=x_with((0, 2, 7.9)), penalties={2: 11, 3: 13}), 11.0),
    ("gap above max_gap costs 0", 5.0, dict(x=x_with((0, 2, 9.0)), penalties={3: 11}), 0.0),
    ("four gaps summed", 5.0, dict(x=x_with((0, 2, 7.0), (2, 0, 2.0), (1, 2, 9.0), (2, 1, 1.0)),
                                   penalties={2: 1, 3: 10, 4: 100}), 211.0),
    ("negative penalties", 5.0, dict(x=x_with((0, 2, 6.0)), penalties={1: -3}), -3.0),
    ("NaN in X is not a game", 5.0, dict(x=x_with((0, 2, NAN), (2, 1, NAN)), r_max=9, penalties={1: 5}), 0.0),
    ("infinite slot equals itself", INF, dict(x=x_with((0, 2, INF))), INFEASIBLE),
])
def test_rules(case, slot, kwargs, expected):
    assert one_cell(slot, **kwargs) == expected, case


def test_penalty_sum_wraps_around():
    big = 2**63 - 1
    x = x_with((0, 2, 4.0), (2, 0, 6.0), (1, 2, 3.0))
    # gaps: home 1 forward and 1 backward, opponent 2 backward
    cost = one_cell(5.0, x=x, penalties={1: big, 2: 3})
    assert cost == float(np.int64(-2 + 3))


@pytest.mark.parametrize("set_home, opponents, shape", [([1.0, 2.0], [], (2, 0)), ([], [1, 2], (0, 2))])
def test_empty_shapes(set_home, opponents, shape):
    assert make().create_cost_matrix(empty_x(3), 0, set_home, opponents).shape == shape


@pytest.mark.parametrize("x, team, set_home, opponents", [
    (empty_x(3), 3, [1.0], [1]),
    (empty_x(3), 0, [1.0], [1, 3]),
    (empty_x(3), 0, [], [3]),          # tested even without home slots
    (empty_x(0), 0, [1.0], [0]),
    (np.full((3, 0), UNSCHEDULED), 0, [], []),
    (np.full((0, 3), UNSCHEDULED), 0, [], []),
    (np.full((3, 2), UNSCHEDULED), 0, [], [2]),
])
def test_index_failures(Panic, x, team, set_home, opponents):
    with pytest.raises(BaseException) as info:
        make().create_cost_matrix(x, team, set_home, opponents)
    assert type(info.value) is Panic and info.value.args == ("ndarray: index out of bounds",)


def test_no_teams_and_no_opponents():
    assert make().create_cost_matrix(empty_x(0), 5, [1.0, 2.0], []).shape == (2, 0)


def test_opponent_equal_to_home_team_and_repeats():
    x = x_with((0, 0, 4.0), (0, 1, 8.0))
    k = make(penalties={1: 1, 2: 2, 3: 3, 4: 4}).create_cost_matrix(x, 0, [6.0, 6.0, 1.0], [0, 2, 0])
    assert np.array_equal(k[0], k[1]) and np.array_equal(k[:, 0], k[:, 2])
    assert list(k[2]) == [6.0, 3.0, 6.0]


# A direct model of the pricing rules, written independently of the module.

def model_slots(x, t):
    rows, cols = x.shape
    out = []
    if cols:
        if t >= rows:
            raise IndexError
        out += [v for v in x[t, :] if v != UNSCHEDULED]
    if rows:
        if t >= cols:
            raise IndexError
        out += [v for v in x[:, t] if v != UNSCHEDULED]
    return out


def model_penalty(gap, table):
    if gap == INF:
        return 0
    index = 2**64 - 1 if gap >= 2.0**64 else int(gap)
    return table[index] if index < len(table) else 0


def model_key(s):
    if math.isnan(s):
        return 0
    return max(-2**63, min(2**63 - 1, int(s))) if math.isfinite(s) else (2**63 - 1 if s > 0 else -2**63)


def model_cost_matrix(x, a, S, O, m, R, forbidden, table):
    H = model_slots(x, a)
    result = np.zeros((len(S), len(O)))
    for k, g in enumerate(O):
        G = model_slots(x, g)
        if a >= x.shape[1] or g >= x.shape[0]:
            raise IndexError
        for i, s in enumerate(S):
            r = x[g, a]
            blocked = any(t == s or R > abs(t - s) + 1.0 for t in H + G)
            if blocked or model_key(s) in forbidden.get(g, ()) or m > abs(s - r):
                result[i, k] = INFEASIBLE
                continue
            total = 0
            for L in (H, G):
                total += model_penalty(min([t - s for t in L if t - s > 0], default=INF), table)
                total += model_penalty(min([s - t for t in L if s - t > 0], default=INF), table)
            result[i, k] = float((total + 2**63) % 2**64 - 2**63)
    return result


SLOT_POOL = [0.0, 1.0, 2.0, 2.5, 3.0, 4.0, 5.0, 6.9, 7.0, 9.0, 12.0, -1.0, -0.0, NAN, INF, -INF, UNSCHEDULED, 9999.5]


def random_instance(rng):
    n = int(rng.integers(1, 6))
    x = np.full((n, n), UNSCHEDULED)
    mask = rng.random((n, n)) < 0.6
    x[mask] = rng.choice(SLOT_POOL, size=mask.sum())
    S = list(rng.choice(SLOT_POOL, size=int(rng.integers(0, 6))))
    O = [int(v) for v in rng.integers(0, n, size=int(rng.integers(0, 4)))]
    a = int(rng.integers(0, n))
    penalties = {int(g): int(rng.choice([1, 3, -7, 2**62, -2**63, 2**63 - 1])) for g in rng.integers(0, 14, size=4)}
    forbidden = {int(t): [int(v) for v in rng.integers(-2, 10, size=3)] for t in range(n) if rng.random() < 0.5}
    m = int(rng.choice([-3, 0, 1, 2, 4, 9994, 10**4]))
    r_max = int(rng.choice([0, 2, 3, 4]))
    return x, a, S, O, m, r_max, forbidden, penalties


def test_matches_model_on_random_inputs():
    rng = np.random.default_rng(20261208)
    for _ in range(1500):
        x, a, S, O, m, r_max, forbidden, penalties = random_instance(rng)
        t = make(sets_forbidden=forbidden, m=m, r_max=r_max, penalties=penalties)
        table = [0] * (max(penalties, default=0) + 1)
        for g, v in penalties.items():
            table[g] = v
        view = x.T.copy().T[::-1][::-1]  # read through a Fortran-ordered view
        got = t.create_cost_matrix(view, a, S, O)
        want = model_cost_matrix(x, a, S, O, float(m), float(max(r_max, 2)),
                                 {k: set(v) for k, v in forbidden.items()}, table)
        assert got.tobytes() == want.tobytes(), (x, a, S, O, m, r_max, forbidden, penalties)

"""The benchmark's NumPy/SciPy peer must price and total exactly like tavelin,
otherwise its timings compare different work.  These tests guard that, and
that the benchmark's own checks catch a wrong row or total."""
import sys
from pathlib import Path

import numpy as np
import pytest

pytest.importorskip("scipy")
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import tavelin  # noqa: E402
from agreement import Disagreement, check_call, check_cost, check_row  # noqa: E402
from peer import Peer, slot_keys  # noqa: E402
from workloads import compact, league, two_teams  # noqa: E402

UNSCHEDULED = 9999.0

# Slot values that stress the rules: fractions, both zeros, NaN, values
# next to the unscheduled marker, infinities and huge magnitudes.
POOL = np.array([0.0, -0.0, 1.0, 2.0, 2.9, 3.0, 3.5, 3.7, 4.0, 5.0, 6.0, 7.0, 9.0, 12.0, -1.0, -3.7,
                 np.nan, 9999.5, np.inf, -np.inf, 1e300, -1e300])


def random_instance(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 8))
    X = np.full((n, n), UNSCHEDULED)
    used = rng.random((n, n)) < rng.uniform(0.2, 0.9)
    X[used] = rng.choice(POOL, used.sum())
    # Home lists with repeats, NaN and fractions; some teams forbid slots
    # (including 0, the key of a NaN slot, and -3, the key of -3.7).
    sets_home = {t: [float(v) for v in rng.choice(POOL, rng.integers(0, 7))] for t in range(n)}
    sets_forbidden = {t: [int(v) for v in rng.integers(-4, 13, rng.integers(0, 5))]
                      for t in range(n) if rng.random() < 0.7}
    penalties = {int(g): int(rng.integers(-3, 12)) for g in rng.integers(0, 7, rng.integers(0, 5))}
    args = (sets_home, sets_forbidden, int(rng.integers(-1, 5)), int(rng.integers(0, 40)),
            int(rng.integers(0, 5)), penalties)
    return rng, X, args


@pytest.mark.parametrize("seed", range(150))
def test_peer_agrees_on_random_instances(seed):
    rng, X, args = random_instance(seed)
    peer, tav = Peer(*args), tavelin.Tavelin(*args)
    n = X.shape[0]
    for team in range(n):
        check_call(f"seed {seed}", peer, tav, X, team, args[0][team], float(args[3]))
        # The caller's own lists: arbitrary slots, repeated opponents, the home team itself.
        slots = list(rng.choice(POOL, rng.integers(0, 6)))
        opponents = [int(g) for g in rng.integers(0, n, rng.integers(0, n + 3))]
        check_cost(f"seed {seed}", peer, tav, X, team, slots, opponents)


@pytest.mark.parametrize("make", [lambda: league("half"), lambda: league("mostly"),
                                  lambda: compact(10, "half"), lambda: compact(20, "mostly"),
                                  two_teams], ids=["league-half", "league-mostly", "n10-half", "n20-mostly", "2-teams"])
def test_peer_agrees_on_benchmark_workloads(make):
    w = make()
    peer, tav = Peer(*w.args()), tavelin.Tavelin(*w.args())
    X = w.fresh()
    previous = None
    for team in (int(t) for t in w.teams):
        w.prepare(X, team, previous)
        check_call(w.name, peer, tav, X, team, w.sets_home[team], float(w.p))
        previous = team


def test_peer_prices_the_worked_example():
    X = np.array([[UNSCHEDULED, UNSCHEDULED, 3.0], [1.0, UNSCHEDULED, UNSCHEDULED], [UNSCHEDULED, 9.0, UNSCHEDULED]])
    penalties = {2: 5, 3: 2, 4: 1}
    K = Peer({}, {1: [6]}, 4, 0, 3, penalties).create_cost_matrix(X, 0, [2.0, 5.0, 6.0, 7.0], [1])
    assert K.ravel().tolist() == [9999999.0, 7.0, 9999999.0, 6.0]
    K = Peer({}, {1: [6]}, 5, 0, 3, penalties).create_cost_matrix(X, 0, [2.0, 5.0, 6.0, 7.0], [1])
    assert K.ravel().tolist() == [9999999.0, 9999999.0, 9999999.0, 6.0]


@pytest.mark.parametrize("slot, key", [(3.7, 3), (-3.7, -3), (-0.0, 0), (np.nan, 0),
                                       (1e300, 2**63 - 1), (np.inf, 2**63 - 1),
                                       (-1e300, -(2**63)), (-np.inf, -(2**63)), (-(2.0**63), -(2**63))])
def test_slot_keys_truncate_and_saturate(slot, key):
    assert slot_keys(np.array([slot]))[0] == key


def solved_row():
    """Team 0 of three, home slots 4 and 6; opponent 1 already plays in slot 4."""
    X = np.full((3, 3), UNSCHEDULED)
    X[1, 1] = 4.0
    args = ({0: [4.0, 6.0]}, {}, 0, 100, 2, {})
    K = Peer(*args).create_cost_matrix(X, 0, [4.0, 6.0], [1, 2])
    after = X.copy()
    total = Peer(*args).solve(after, 0)
    return X, after, K, total


@pytest.mark.parametrize("cells, extra, message", [
    ({(0, 1): 4.0, (0, 2): 6.0}, 0.0, "costs"),          # the infeasible pairing
    ({(0, 2): 7.0}, 0.0, "not a free home slot"),        # not a home slot
    ({(0, 2): 6.0}, 0.0, "not a free home slot"),        # one slot given twice
    ({(2, 0): 1.0}, 0.0, "outside row"),
    ({}, 1.0, "costs"),                                  # a total the row does not cost
])
def test_row_check_catches_a_wrong_result(cells, extra, message):
    before, after, K, total = solved_row()
    assert after[0].tolist()[1:] == [6.0, 4.0] and total == 0.0
    check_row("ok", before, after, 0, [4.0, 6.0], K, 100.0, total)
    for cell, value in cells.items():
        after[cell] = value
    with pytest.raises(Disagreement, match=message):
        check_row("bad", before, after, 0, [4.0, 6.0], K, 100.0, total + extra)

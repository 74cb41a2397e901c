import hashlib
import time

import numpy as np
import pytest

from bounds import infeasibility_bound
from evaluate import evaluate
from league import generate
from robinx import UNSCHEDULED, Instance, RestWindow, Separation, read_instance
from scheduler import Pricing, Search, UnsupportedInstance, model_for, team_slots
from timetable import slots_of


@pytest.fixture(scope="module")
def instance():
    return generate(seed=2)


@pytest.fixture(scope="module")
def settled(instance):
    """A schedule after construction and one descent."""
    search = Search(instance, seed=5)
    table = search.construct()
    search.descend(table, search.cost(table), time.perf_counter() + 5)
    return search, table


def test_model_of_the_if_rules(instance):
    model = model_for(instance)
    assert model.penalties == {1: 10, 2: 3, 3: 1}  # 5+2+3, 1+2, 1
    assert model.m == 61 and model.r_max == 2
    assert model.p > 4 * 10 * (instance.n_teams - 1)
    for team in range(instance.n_teams):
        home = {int(s) for s in model.sets_home[team]}
        assert home == set(instance.home_slots(team))
        assert not home & set(model.sets_forbidden[team])


@pytest.mark.parametrize("windows, separations", [
    ((RestWindow(4, 2, False, 1),), ()),          # a soft window of 2 games is not a sum of gaps
    ((), (Separation(60, 100),)),                 # an upper separation the cost model cannot keep
])
def test_rules_the_module_cannot_express_are_refused(windows, separations):
    with pytest.raises(UnsupportedInstance):
        model_for(Instance("x", 4, 273, (), windows, separations))


@pytest.mark.parametrize("seed", range(6))
def test_pricing_agrees_with_the_evaluator(instance, seed):
    """On random schedules without clashes, crowded ones included."""
    rng = np.random.default_rng(seed)
    n = instance.n_teams
    bare = Instance("bare", n, instance.n_slots, (), instance.windows, ())
    span = 40 if seed % 2 else instance.n_slots
    x = rng.integers(0, span, (n, n)).astype(float)
    x[rng.random((n, n)) < 0.15] = UNSCHEDULED
    np.fill_diagonal(x, UNSCHEDULED)
    for t in range(n):  # drop games that would put a team twice into one slot
        seen = set()
        for i, j in [(t, j) for j in range(n)] + [(i, t) for i in range(n)]:
            if x[i, j] != UNSCHEDULED:
                if x[i, j] in seen:
                    x[i, j] = UNSCHEDULED
                seen.add(x[i, j])
    judged = evaluate(bare, x)
    assert judged.parts["clashes"] == 0
    expected = (judged.parts["unscheduled"] + judged.parts["CA3 hard"], judged.objective)
    assert Pricing(bare)(x) == expected


def test_placed_rows_keep_every_hard_rule(instance, settled):
    search, table = settled
    judged = evaluate(instance, table.x[:instance.n_teams, :instance.n_teams])
    assert {k: v for k, v in judged.parts.items() if k not in ("unscheduled", "CA3 soft")} == {
        "clashes": 0, "CA1": 0, "CA3 hard": 0, "SE1": 0}
    assert (judged.infeasibility, judged.objective) == search.cost(table)


def test_extra_rows_and_diagonal_stay_empty(settled):
    search, table = settled
    n, x = search.n, table.x
    assert np.all(np.diag(x) == UNSCHEDULED)
    assert np.all(x[n:] == UNSCHEDULED) and np.all(x[:, n:] == UNSCHEDULED)


def test_closed_slots_are_exactly_those_that_overfill_a_window(instance, settled):
    """Both ways of finding them: from the matrix, and from a team's bits."""
    search, table = settled
    n, placer, rules = search.n, search.placer, search.placer.rules
    for team in range(n):
        y = table.copy()
        y.clear_row(team)
        closed = set(placer.closed(y.x, team))
        assert closed == {(t, s) for t in range(n)
                          for s in slots_of(rules.closed(y.games[t]) & rules.home[team])}
        slots = team_slots(y.x[:n, :n])
        for t in range(n):
            games = [int(s) for s in slots[t] if s < UNSCHEDULED]
            for home in map(int, search.model.sets_home[team]):
                if home in games:
                    continue
                crowded = any(sum(w <= s < w + 4 for s in games + [home]) > 2
                              for w in range(home - 3, home + 1))
                assert ((t, home) in closed) == crowded, (team, t, home)


def test_no_team_plays_away_on_more_home_days_than_it_can_spare(settled):
    search, table = settled
    n, home = search.n, search.placer.rules.home
    spent = [sum(1 for i in range(n) if i != t and table.x[i, t] != UNSCHEDULED
                 and home[t] >> int(table.x[i, t]) & 1) for t in range(n)]
    assert spent == table.spent
    assert np.all(np.array(spent) <= search.placer.budget)


def test_default_league_is_scheduled_in_full(instance):
    result = Search(instance, seed=1).run(2.0)
    judged = evaluate(instance, result.x)
    assert judged.infeasibility == 0
    assert (judged.infeasibility, judged.objective) == (result.infeasibility, result.objective)


def test_seeded_run_on_a_real_instance(robinx_dir):
    inst = read_instance(robinx_dir / "IF4.xml")
    result = Search(inst, seed=1).run(3.0)
    judged = evaluate(inst, result.x)
    assert judged.infeasibility == 0
    assert (judged.infeasibility, judged.objective) == (result.infeasibility, result.objective)
    assert judged.objective <= 1.5 * inst.recorded_best


def test_run_stops_at_the_target(instance):
    result = Search(instance, seed=1).run(30.0, target=(10**6, 10**6))
    assert result.seconds < 5.0


def test_generated_league_has_the_if_shape():
    inst = generate(seed=7)
    assert generate(seed=7) == inst and generate(seed=8) != inst
    assert (inst.n_teams, inst.n_slots) == (15, 273)
    assert infeasibility_bound(inst) == 0
    assert all(len(inst.home_slots(t)) >= inst.n_teams for t in range(inst.n_teams))
    assert [(s.min, s.max) for s in inst.separations] == [(60, 273)]


# Schedules that runs of 5000 solve calls ended with, fingerprinted: the search
# must make the same decisions however its bookkeeping is done.
REPLAYS = [
    ("generated-2", 3, (0, 67), "b28c5e3d4be5835d"),
    ("IF1", 3, (2, 101), "5aba0d5e27944ce5"),  # repairs, and ends at the bound
    ("IF3", 3, (0, 64), "bc67adeb40e15b8f"),   # repairs, then tempers (replicas trade)
    ("IF8", 3, (1, 36), "566531fae4276649"),
]


@pytest.mark.parametrize("name, seed, cost, fingerprint", REPLAYS)
def test_runs_with_a_budget_of_solve_calls_replay_exactly(robinx_dir, name, seed, cost, fingerprint):
    inst = generate(seed=2) if name == "generated-2" else read_instance(robinx_dir / f"{name}.xml")
    result = Search(inst, seed=seed).run(0.001, solves=5000)
    assert (result.infeasibility, result.objective) == cost
    assert 5000 <= result.solves < 5100
    assert hashlib.sha256(result.x.tobytes()).hexdigest()[:16] == fingerprint


@pytest.mark.parametrize("cold, hot, draw, traded", [
    ((0, 53), (0, 52), 0.999, True),    # the hotter replica's schedule is better
    ((1, 40), (0, 60), 0.999, True),    # fewer games without a slot outweigh the objective
    ((0, 40), (1, 30), 0.0, False),
    ((0, 52), (0, 53), 0.035, True),    # worse by 1 between 0.15 and 0.3: exp(-10/3) = 0.0357
    ((0, 52), (0, 53), 0.036, False),
])
def test_replicas_trade_schedules_downhill_and_fairly(instance, cold, hot, draw, traded):
    search = Search(instance, seed=1)
    search.rng.random = lambda: draw
    assert search.trades(cold, hot, 0.15, 0.3) is traded

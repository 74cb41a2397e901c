"""The search's running bookkeeping against the same facts worked out afresh."""
import random

import numpy as np
import pytest

from league import generate
from robinx import UNSCHEDULED, Instance, RestWindow
from scheduler import Pricing, Search
from timetable import Rules, bits


def recount(table, rules):
    """Games, away games and home days spent of each team, from X alone."""
    n = rules.n
    x = table.x[:n, :n]
    games = [bits(s for s in np.concatenate((x[t], x[:, t])) if s != UNSCHEDULED) for t in range(n)]
    away = [bits(s for s in x[:, t] if s != UNSCHEDULED) for t in range(n)]
    spent = [sum(rules.home[t] >> int(s) & 1 for s in x[:, t] if s != UNSCHEDULED) for t in range(n)]
    return games, away, spent


@pytest.mark.parametrize("seed", range(4))
def test_bookkeeping_follows_every_kind_of_move(seed):
    instance = generate(seed=2)
    search = Search(instance, seed=seed)
    n, rules, price = search.n, search.placer.rules, Pricing(instance)
    rng = random.Random(seed)
    table = search.construct()
    for step in range(150):
        kind = rng.randrange(4)
        team = rng.randrange(n)
        if kind == 0:
            search.placer.place(table, team)
        elif kind == 1:
            table.clear_row(team)
        elif kind == 2:  # any slot, clashes and crowded windows included
            away = rng.choice([t for t in range(n) if t != team])
            table.set(team, away, float(rng.randrange(instance.n_slots)))
        else:
            snapshot = table.copy()
            search.placer.place(table, team)
            table = snapshot  # a copy must not see later changes of the original
        games, away, spent = recount(table, rules)
        doubled = sum(bin(g).count("1") != c for g, c in zip(
            games, [np.count_nonzero(np.concatenate((table.x[t, :n], table.x[:n, t])) != UNSCHEDULED)
                    for t in range(n)]))
        assert (doubled > 0) == (table.clashes > 0)
        if not table.clashes:
            assert (table.games, table.away) == (games, away)
            assert table.cost() == price(table.x[:n, :n])
        assert table.spent == spent
        assert table.full == bits(t for t in range(n) if spent[t] >= rules.budget[t])
        assert search.cost(table) == price(table.x[:n, :n])


def random_games(rng, n_slots, crowded):
    """A team's games: spread over the season, or crowded into a short span
    at either end (where windows are cut short)."""
    if crowded:
        start = rng.choice([0, n_slots - 12, rng.randrange(n_slots - 12)])
        return bits(rng.sample(range(start, start + 12), rng.randint(2, 8)))
    return bits(rng.sample(range(n_slots), 28))


def by_brute_force(games, instance):
    """(closed slots, excess, objective) from the definitions."""
    slots = [s for s in range(instance.n_slots) if games >> s & 1]
    closed, excess, objective = set(), 0, 0
    for rule in instance.windows:
        for w in range(-rule.intp + 1, instance.n_slots):
            held = sum(w <= s < w + rule.intp for s in slots)
            inside = 0 <= w <= instance.n_slots - rule.intp
            if rule.hard:
                if held >= rule.max:
                    closed |= set(range(max(w, 0), w + rule.intp))
                if inside:
                    excess += max(held - rule.max, 0)
            elif inside:
                objective += rule.penalty * max(held - rule.max, 0)
    return bits(closed), excess, objective


IF_RULES = (RestWindow(4, 2, True, 1), RestWindow(2, 1, False, 5),
            RestWindow(3, 1, False, 1), RestWindow(4, 1, False, 1))
OTHER_RULES = (RestWindow(5, 3, True, 1), RestWindow(3, 2, True, 1),
               RestWindow(2, 1, False, 4), RestWindow(5, 1, False, 2))


@pytest.mark.parametrize("windows", [IF_RULES, OTHER_RULES])
def test_what_a_team_closes_and_costs(windows):
    instance = Instance("rules", 4, 60, (), windows, ())
    rules = Rules(instance, {t: [] for t in range(4)}, spare=2)
    assert (rules.summary.__qualname__ == "Rules._two_in_four.<locals>.summary") == (windows is IF_RULES)
    rng = random.Random(7)
    for case in range(300):
        games = random_games(rng, instance.n_slots, crowded=case % 2 == 0)
        expected = by_brute_force(games, instance)
        assert rules.summary(games) == rules.summary_any(games) == expected
        assert rules.closed(games) == rules.closed_any(games) == expected[0]

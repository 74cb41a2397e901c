"""The evaluator's totals on small schedules worked out by hand.

Three teams, 24 slots, the rest windows of the IF league (hard: at most 2 games
in 4 slots; soft: 2 slots/penalty 5, 3 slots/penalty 1, 4 slots/penalty 1) and
at least 2 slots between mutual games. The base schedule plays one game every
fourth slot, so every team rests at least 4 slots and costs nothing.
"""
import numpy as np
import pytest

from evaluate import evaluate
from robinx import UNSCHEDULED, Availability, Instance, RestWindow, Separation

WINDOWS = (RestWindow(4, 2, True, 1), RestWindow(2, 1, False, 5),
           RestWindow(3, 1, False, 1), RestWindow(4, 1, False, 1))
BASE = {(0, 1): 0, (1, 2): 4, (2, 0): 8, (1, 0): 12, (2, 1): 16, (0, 2): 20}


def league(availability=()):
    return Instance("hand", 3, 24, tuple(availability), WINDOWS, (Separation(2, 24),))


def schedule(**moves):
    """The base schedule with games moved: g01=3 puts game 0-1 into slot 3."""
    games = dict(BASE)
    for name, slot in moves.items():
        games[(int(name[1]), int(name[2]))] = slot
    x = np.full((3, 3), UNSCHEDULED)
    for (i, j), slot in games.items():
        x[i, j] = slot
    return x


@pytest.mark.parametrize("moves, infeasibility, objective", [
    # nothing close
    ({}, 0, 0),
    # team 1 plays in slots 0 and 1: at the start of the season only one window
    # of each size holds both: 5 + 1 + 1
    (dict(g12=1), 0, 7),
    # team 2 in 8 and 9 (gap 1 in mid-season: 5 + 2 x 1 + 3 x 1 = 10) and
    # team 1 in 9 and 12 (gap 3: one window of 4)
    (dict(g12=9), 0, 11),
    # team 0 in 0, 2, 3: one window of 4 holds three games (hard, 1); soft:
    # team 0 12 (5 + 3 + 4 by windows), team 1 in 0, 3, 4: 1 + 10,
    # team 2 in 2, 4: 3
    (dict(g20=2, g10=3), 1, 26),
    # mutual games 0-1 in slots 0 and 2 have one slot between them (1 short);
    # team 0 in 0, 2: 2 at the season start; team 1 in 0, 2, 4: 2 + 3
    (dict(g10=2), 1, 7),
    # a game without a slot
    (dict(g02=UNSCHEDULED), 1, 0),
    # NaN marks a game without a slot as well
    (dict(g02=np.nan), 1, 0),
    # team 0 plays two games in slot 0: one game beyond the first adds 2; the
    # two count as a gap of 0, inside one window of each size: 5 + 1 + 1
    (dict(g02=0), 2, 7),
])
def test_totals(moves, infeasibility, objective):
    result = evaluate(league(), schedule(**moves))
    assert (result.infeasibility, result.objective) == (infeasibility, objective)


def test_parts_name_the_rule_that_costs():
    result = evaluate(league(), schedule(g20=2, g10=3))
    assert result.parts == {"unscheduled": 0, "clashes": 0, "CA3 hard": 1, "SE1": 0, "CA3 soft": 26}


@pytest.mark.parametrize("rule, infeasibility", [
    (Availability(0, "H", frozenset({20})), 1),      # team 0 hosts 0-2 in 20
    (Availability(0, "H", frozenset({8})), 0),       # team 0 is away in 8: allowed
    (Availability(0, "HA", frozenset({8, 12})), 2),  # team 0 plays in both
    (Availability(2, "HA", frozenset({16, 17})), 1),
    (Availability(1, "H", frozenset()), 0),
])
def test_availability(rule, infeasibility):
    assert evaluate(league([rule]), schedule()).infeasibility == infeasibility


@pytest.mark.parametrize("bad, message", [
    (np.full((2, 2), UNSCHEDULED), "3 x 3"),
    (schedule(g01=24), "not a slot"),
    (schedule(g01=-1), "not a slot"),
    (schedule(g01=2.5), "not a slot"),
])
def test_refuses_schedules_it_cannot_judge(bad, message):
    with pytest.raises(ValueError, match=message):
        evaluate(league(), bad)


def test_the_schedule_is_not_changed():
    x = schedule(g02=np.nan)
    before = x.copy()
    evaluate(league(), x)
    assert np.array_equal(x, before, equal_nan=True)

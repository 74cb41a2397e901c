import numpy as np
import pytest

from evaluate import evaluate
from league import generate
from robinx import UNSCHEDULED, Availability, Instance, RestWindow, Separation
from violations import Violation, violations


def test_each_broken_rule_with_its_teams_and_slots():
    inst = Instance("hand", 3, 12, (Availability(0, "HA", frozenset({5})),),
                    (RestWindow(4, 2, True, 1), RestWindow(2, 1, False, 5)), (Separation(3, 12),))
    x = np.full((3, 3), UNSCHEDULED)
    # team 0 plays in 5 (a day it cannot play), 6 and 7; its two games with
    # team 1 have one slot between them; game 2-0 has no slot
    x[0, 1], x[1, 0], x[0, 2], x[1, 2], x[2, 1] = 5, 7, 6, 0, 11
    found = violations(inst, x)
    assert set(found) == {
        Violation("unscheduled", (2, 0), (), 1),
        Violation("CA1", (0,), (5,), 1),
        Violation("CA3 hard", (0,), (5, 6, 7), 1),  # one each for the windows 4-7 and 5-8
        Violation("CA3 soft", (0,), (5, 6), 5),
        Violation("CA3 soft", (0,), (6, 7), 5),
        Violation("SE1", (0, 1), (5, 7), 2),
    }
    assert len(found) == 7


@pytest.mark.parametrize("seed", range(4))
def test_amounts_add_up_to_the_evaluation(seed):
    """On random schedules that break every rule, crowded ones included."""
    inst = generate(seed=3)
    rng = np.random.default_rng(seed)
    n = inst.n_teams
    span = 30 if seed % 2 else inst.n_slots
    x = rng.integers(0, span, (n, n)).astype(float)
    x[rng.random((n, n)) < 0.1] = UNSCHEDULED
    totals: dict[str, int] = {}
    for v in violations(inst, x):
        assert v.amount > 0
        totals[v.rule] = totals.get(v.rule, 0) + v.amount
    parts = evaluate(inst, x).parts
    assert totals == {rule: amount for rule, amount in parts.items() if amount}
    assert set(totals) == {"unscheduled", "clashes", "CA1", "CA3 hard", "CA3 soft", "SE1"}

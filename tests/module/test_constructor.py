"""What the constructor stores, observed through the cost matrix and solve."""
import collections

import numpy as np
import pytest

import tavelin
from support import INFEASIBLE, empty_x, make


def gap_cost(t, gap):
    """Cost of a home slot `gap` slots after team 0's only game (opponent 2 is idle)."""
    x = empty_x(3)
    x[0, 1] = 0.0
    return t.create_cost_matrix(x, 0, [float(gap)], [2])[0, 0]


@pytest.mark.parametrize("penalties, costs_for_gaps_1_to_5", [
    ({}, [0, 0, 0, 0, 0]),
    ({3: 7}, [0, 0, 7, 0, 0]),
    ({0: 5, 2: 1}, [0, 1, 0, 0, 0]),
    ({1: -4, 5: 2**40}, [-4, 0, 0, 0, 2**40]),
    (collections.OrderedDict([(2, 3), (1, 10)]), [10, 3, 0, 0, 0]),
])
def test_penalty_table(penalties, costs_for_gaps_1_to_5):
    t = make(penalties=penalties)
    assert [gap_cost(t, g) for g in range(1, 6)] == costs_for_gaps_1_to_5


@pytest.mark.parametrize("r_max, closest_feasible_gap", [(5, 4), (3, 2), (2, 1), (1, 1), (0, 1), (-4, 1)])
def test_r_max_is_at_least_two(r_max, closest_feasible_gap):
    t = make(r_max=r_max)
    costs = [gap_cost(t, g) for g in range(1, closest_feasible_gap + 1)]
    assert costs == [INFEASIBLE] * (closest_feasible_gap - 1) + [0.0]


def test_m_is_rounded_to_nearest_float():
    x = empty_x(3)
    x[2, 0] = 0.0  # the reverse game of team 0 against team 2
    s = float(2**53)
    assert make(m=2**53 + 1).create_cost_matrix(x, 0, [s], [2])[0, 0] == 0.0
    assert make(m=2**53 + 3).create_cost_matrix(x, 0, [s], [2])[0, 0] == INFEASIBLE


def test_forbidden_lists_become_sets():
    t = make(sets_forbidden={1: [4, 4, 7], 1000: [1]})
    row = t.create_cost_matrix(empty_x(2), 0, [4.0, 5.0, 7.0, 1.0], [1])[:, 0]
    assert list(row) == [INFEASIBLE, 0.0, INFEASIBLE, 0.0]


def test_home_slots_keep_order_and_mixed_numbers():
    t = make(sets_home={0: (3, 1, 2.0), 7: []})
    x = empty_x(4)
    assert t.solve(x, 0) == 0.0
    assert list(x[0, 1:]) == [3.0, 1.0, 2.0]


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(sets_home={0: "135"}), TypeError, "Can't extract `str` to `Vec`"),
    (dict(sets_forbidden={0: {4, 7}}), TypeError, "'set' object cannot be converted to 'Sequence'"),
    (dict(sets_home={0: 5}), TypeError, "'int' object cannot be converted to 'Sequence'"),
    (dict(sets_forbidden={0: [2.0]}), TypeError, "'float' object cannot be interpreted as an integer"),
    (dict(penalties={1: 2.5}), TypeError, "'float' object cannot be interpreted as an integer"),
    (dict(sets_home={0: [1, None]}), TypeError, "must be real number, not NoneType"),
    (dict(sets_home={-1: []}), OverflowError, "can't convert negative int to unsigned"),
    (dict(sets_forbidden={2.0: []}), TypeError, "'float' object cannot be interpreted as an integer"),
    (dict(penalties={2**64: 1}), OverflowError, None),
    (dict(penalties={1: 2**63}), OverflowError, None),
])
def test_dictionary_content_errors_are_unnamed(kwargs, error, message):
    with pytest.raises(error) as info:
        make(**kwargs)
    assert type(info.value) is error
    assert "argument" not in str(info.value)
    if message:
        assert str(info.value) == message


def test_dict_subclasses_accepted():
    home = collections.defaultdict(list, {0: [1.0]})
    t = tavelin.Tavelin(home, collections.OrderedDict(), 0, 0, 0, collections.Counter())
    assert t.solve(empty_x(2), 0) == 0.0


def test_caller_objects_are_copied():
    home, forbidden, penalties = {0: [1.0, 3.0]}, {1: [3]}, {2: 9}
    t = make(home, forbidden, penalties=penalties)
    x = empty_x(2)
    x[1, 0] = 5.0
    before = t.create_cost_matrix(x, 0, [1.0, 3.0], [1])
    home[0].append(7.0)
    forbidden[1].clear()
    penalties.clear()
    home.clear()
    assert np.array_equal(t.create_cost_matrix(x, 0, [1.0, 3.0], [1]), before)
    assert t.solve(x.copy(), 0) == before.min()


class MutatingKey:
    """A key whose conversion changes the dictionary it is read from."""

    def __init__(self, target, action):
        self.target, self.action = target, action

    def __index__(self):
        self.action(self)
        return 1


def test_dictionary_growing_while_read(Panic):
    d = {}
    d[MutatingKey(d, lambda k: d.setdefault(99, []))] = []
    with pytest.raises(BaseException) as info:
        make(sets_home=d)
    assert type(info.value) is Panic and info.value.args == ("dictionary changed size during iteration",)


def test_dictionary_keys_replaced_while_read(Panic):
    d = {}

    def replace(key):  # same size, but always one more entry ahead
        del d[key]
        d[MutatingKey(d, replace)] = 1

    d[MutatingKey(d, replace)] = 1
    with pytest.raises(BaseException) as info:
        make(penalties=d)
    assert type(info.value) is Panic and info.value.args == ("dictionary keys changed during iteration",)


@pytest.mark.parametrize("gap", [2**60 - 1, 2**60, 2**64 - 1])
def test_penalty_table_too_large_to_size(Panic, gap):
    with pytest.raises(BaseException) as info:
        make(penalties={gap: 1})
    assert type(info.value) is Panic and info.value.args == ("capacity overflow",)


@pytest.mark.parametrize("gap", [2**60 - 2, 10**12])
def test_penalty_table_too_large_to_allocate(gap):
    with pytest.raises(MemoryError):
        make(penalties={gap: 1})

"""Extreme but valid inputs: integers at the int64 and uint64 limits, slots
near 2^63 and beyond, empty and huge matrices and lists, zero-stride arrays
and huge penalty tables. They behave as for ordinary inputs, and stay fast.
"""
import math
import os
import struct
import sys
import time

import numpy as np
import pytest

import tavelin
from support import INFEASIBLE, UNSCHEDULED, empty_x, make

I64_MIN, I64_MAX, U64_MAX = -(2**63), 2**63 - 1, 2**64 - 1
SANITIZED = os.environ.get("TAVELIN_SANITIZED") == "1"
# The sanitized build runs several times slower; the bounds are for either.
FAST = 10.0 if SANITIZED else 2.0


def bits(value):
    return struct.pack("<d", value)


class Timer:
    def __enter__(self):
        self.start = time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.seconds = time.perf_counter() - self.start


def four_gaps_of_one():
    """Team 0 hosts team 1 in slot 5.0: each team has a game one slot before
    and one after, so the cell costs four times the penalty of gap 1."""
    x = empty_x(3)
    x[0, 2], x[2, 0], x[1, 2], x[2, 1] = 6.0, 4.0, 6.0, 4.0
    return x


def wrap(value):
    return (value + 2**63) % 2**64 - 2**63


@pytest.mark.parametrize("penalty", [I64_MAX, I64_MIN, I64_MAX - 1, -(2**62), 2**62])
def test_penalty_sum_wraps_in_int64(penalty):
    t = make(penalties={1: penalty})
    k = t.create_cost_matrix(four_gaps_of_one(), 0, [5.0], [1])
    assert k[0, 0] == float(wrap(4 * penalty))


@pytest.mark.parametrize("p, slot, total", [
    (I64_MAX, 1.0, 0.0),              # leaving the opponent out costs more than anything
    (I64_MIN, None, float(I64_MIN)),  # leaving it out pays
    (0, 1.0, 0.0),                    # a tie of equal weights places the slot
])
def test_p_at_the_int64_limits(p, slot, total):
    x = empty_x(2)
    result = make({0: [1.0]}, p=p).solve(x, 0)
    assert result == total
    assert bits(x[0, 1]) == (bits(slot) if slot is not None else struct.pack("<Q", 0x7FF8000000000000))


@pytest.mark.parametrize("m, r_max, expected", [
    (I64_MIN, 2, 0.0),             # a separation below zero excludes nothing
    (I64_MAX, 2, INFEASIBLE),      # nothing lies that far from the reverse game
    (0, I64_MAX, INFEASIBLE),      # every used slot is close
    (0, I64_MIN, 0.0),             # r_max below 2 counts as 2
])
def test_m_and_r_max_at_the_int64_limits(m, r_max, expected):
    x = empty_x(3)
    x[0, 2] = 100.0
    assert make(m=m, r_max=r_max).create_cost_matrix(x, 0, [5.0], [1])[0, 0] == expected


HUGE_SLOTS = [2.0**63, 2.0**64, 1e300, math.inf, -math.inf, -(2.0**63), -1e300, math.nan]


def test_slots_beyond_int64_saturate_to_their_keys():
    t = make(sets_forbidden={1: [I64_MAX], 2: [I64_MIN], 3: [0]})
    k = t.create_cost_matrix(empty_x(4), 0, HUGE_SLOTS, [1, 2, 3])
    feasible = np.where(k == INFEASIBLE, 0, 1)
    # keys: 2^63 and above -> INT64_MAX; -2^63 and below -> INT64_MIN; NaN -> 0
    assert feasible.T.tolist() == [[0, 0, 0, 0, 1, 1, 1, 1],
                                   [1, 1, 1, 1, 0, 0, 0, 1],
                                   [1, 1, 1, 1, 1, 1, 1, 0]]


def test_gaps_beyond_the_table_cost_nothing():
    x = empty_x(3)
    x[0, 2] = 0.0          # the home team's only game
    t = make(penalties={1: 7, 2**20: 5})
    k = t.create_cost_matrix(x, 0, [2.0**20, 2.0**63, 2.0**64, 1e300, -(2.0**64)], [1])
    assert k[:, 0].tolist() == [5.0, 0.0, 0.0, 0.0, 0.0]


def test_solve_places_huge_slots_bit_for_bit():
    slots = [2.0**63, 1e300, -(2.0**64), 5e-324]
    x = empty_x(5)
    assert make({4: slots}).solve(x, 4) == 0.0
    assert [bits(v) for v in x[4, :4]] == [bits(s) for s in slots]


@pytest.mark.parametrize("call, error", [
    (lambda t, x: t.solve(x, U64_MAX), "team_idx not in sets_home"),
    (lambda t, x: t.solve(x, U64_MAX - 1), "ndarray: index out of bounds"),
    (lambda t, x: t.create_cost_matrix(x, U64_MAX, [1.0], []), "ndarray: index out of bounds"),
    (lambda t, x: t.create_cost_matrix(x, 0, [], [1, U64_MAX]), "ndarray: index out of bounds"),
    (lambda t, x: t.create_cost_matrix(x, 0, [], [np.uint64(U64_MAX)]), "ndarray: index out of bounds"),
])
def test_team_indices_near_the_uint64_limit(Panic, capfd, call, error):
    t = make({U64_MAX - 1: [1.0], 0: [2.0]})
    x = empty_x(3)
    with pytest.raises(BaseException) as info:
        call(t, x)
    assert type(info.value) is Panic and info.value.args == (error,)
    assert np.array_equal(x, empty_x(3))
    capfd.readouterr()


def test_team_index_beyond_uint64():
    with pytest.raises(OverflowError):
        make({0: [1.0]}).solve(empty_x(2), U64_MAX + 1)


def test_empty_matrix(Panic, capfd):
    x = np.full((0, 0), UNSCHEDULED)
    assert make({0: [1.0, 2.0]}).solve(x, 0) == 0.0
    assert make({7: []}).solve(x, 7) == 0.0     # no opponents: nothing to place or read
    assert make().create_cost_matrix(x, 5, [1.0, 2.0], []).shape == (2, 0)
    with pytest.raises(BaseException) as info:
        make().create_cost_matrix(x, 0, [], [0])
    assert type(info.value) is Panic
    capfd.readouterr()


def test_one_row_of_a_million_columns():
    x = np.full((1, 10**6), UNSCHEDULED)
    x[0, 10**6 - 1] = 3.0
    t = make({0: [1.0, 3.0, 5.0]}, r_max=3, penalties={2: 4})
    with Timer() as timer:
        assert t.solve(x, 0) == 0.0                              # no opponents
        k = t.create_cost_matrix(x, 0, [1.0, 3.0, 5.0, 8.0], [0, 0])
    assert timer.seconds < FAST
    # Team 0 is its own opponent here: its gaps count twice.
    assert k[:, 0].tolist() == [8.0, INFEASIBLE, 8.0, 0.0] and k[:, 1].tolist() == k[:, 0].tolist()


def test_a_million_rows_of_one_column_fail_fast(Panic, capfd):
    x = np.full((10**6, 1), UNSCHEDULED)
    before = x.copy()
    with Timer() as timer, pytest.raises(BaseException) as info:
        make({0: [1.0]}).solve(x, 0)
    assert timer.seconds < FAST
    assert type(info.value) is Panic and info.value.args == ("ndarray: index out of bounds",)
    assert np.array_equal(x, before)
    capfd.readouterr()


def test_empty_home_slot_list():
    x = empty_x(4)
    assert make({1: []}, p=I64_MIN).solve(x, 1) == 3.0 * I64_MIN
    assert np.isnan(x[1, [0, 2, 3]]).all()
    assert make().create_cost_matrix(x, 1, [], [0, 2, 3]).shape == (0, 3)


def test_huge_home_slot_list_in_the_cost_matrix():
    slots = np.arange(200_000, dtype=np.float64)
    x = empty_x(4)
    x[0, 1], x[2, 0] = 10.0, 20.0
    with Timer() as timer:
        k = make(r_max=3, penalties={1: 1, 5: 2}).create_cost_matrix(x, 0, slots, [1, 2, 3])
    assert timer.seconds < FAST
    assert k.shape == (200_000, 3)
    assert k[15, 2] == 4.0 and k[25, 1] == 4.0 and k[12, 0] == 0.0
    assert (k[9:12] == INFEASIBLE).all() and (k[19:22] == INFEASIBLE).all()


@pytest.mark.skipif(SANITIZED, reason="under AddressSanitizer a refused operator new ends the process")
def test_home_slot_list_too_large_to_assign_fails_fast():
    t = tavelin.Tavelin({0: [0.0] * 200_000}, {}, 0, 1, 0, {})
    x = empty_x(2)
    with Timer() as timer, pytest.raises(MemoryError):
        t.solve(x, 0)      # 200001^2 cells, twice
    assert timer.seconds < FAST
    assert np.array_equal(x, empty_x(2))


def test_length_claims_are_only_hints():
    class Claims:
        def __init__(self, length):
            self.length = length

        def __len__(self):
            return self.length

        def __getitem__(self, i):
            if i < 3:
                return float(i)
            raise IndexError

    for length in (0, 1, sys.maxsize, 2**40):
        assert make().create_cost_matrix(empty_x(1), 0, Claims(length), []).shape == (3, 0)


@pytest.mark.parametrize("strides", [(0, 8), (0, 0)])
def test_zero_stride_matrix(strides):
    """Rows (or all cells) share memory: solve reads X as the view it is and
    writes through the same strides, so the writes land in the shared memory."""
    cells = np.full(4, UNSCHEDULED)
    cells[2] = 5.0 if strides == (0, 8) else UNSCHEDULED
    x = np.lib.stride_tricks.as_strided(cells, (4, 4), strides, writeable=True)
    copy = np.array(x)
    t = make({1: [1.0, 9.0, 14.0]}, r_max=3, penalties={4: 3})
    k = t.create_cost_matrix(x, 1, [1.0, 9.0, 14.0], [0, 2, 3])
    assert np.array_equal(k, t.create_cost_matrix(copy, 1, [1.0, 9.0, 14.0], [0, 2, 3]))
    assert t.solve(x, 1) == t.solve(copy, 1)
    if strides == (0, 8):
        assert np.array_equal(x[1], copy[1], equal_nan=True)
    else:  # every write lands on the one cell: the last opponent's slot stays
        assert bits(cells[0]) == bits(copy[1, 3])


def test_broadcast_matrix_is_read_but_not_written():
    x = np.broadcast_to(np.full(3, UNSCHEDULED), (3, 3))
    t = make({0: [1.0]})
    assert t.create_cost_matrix(x, 0, [1.0], [1, 2]).tolist() == [[0.0, 0.0]]
    with pytest.raises(ValueError, match="^argument 'x_py': array is read-only"):
        t.solve(x, 0)


def test_penalty_table_of_a_billion_gaps_is_quick():
    x = empty_x(3)
    x[0, 2] = 0.0
    with Timer() as timer:
        t = make(penalties={10**9: I64_MIN, 3: 1})
        k = t.create_cost_matrix(x, 0, [1e9, 3.0, 1e9 + 1], [1])
        del t
    assert timer.seconds < FAST
    assert k[:, 0].tolist() == [float(I64_MIN), 1.0, 0.0]


def test_penalty_table_too_large_for_memory_fails_fast():
    with Timer() as timer, pytest.raises(MemoryError):
        make(penalties={10**12: 1})
    assert timer.seconds < FAST

"""Repeated calls through success and failure paths keep references and
interpreter memory flat."""
import gc
import sys

import numpy as np
import pytest

import tavelin
from conftest import empty_x, make


def calls():
    x = empty_x(6)
    x[0, 3] = 2.0
    ro = x.copy()
    ro.flags.writeable = False
    home = {i: [float(i), 10.0 + i, 20.0] for i in range(6)}
    forbidden = {1: [3, 4]}
    penalties = {1: 5, 2: 2}
    t = tavelin.Tavelin(home, forbidden, 3, 50, 3, penalties)
    set_home, opponents = [1.0, 7.5], [1, 2, 3]

    def bad_index():
        class Bad:
            def __index__(self):
                raise ValueError("no")
        return Bad()

    return (x, ro, home, forbidden, penalties, t, set_home, opponents), [
        lambda: t.solve(x, 0),
        lambda: t.create_cost_matrix(x, 0, set_home, opponents),
        lambda: t.create_cost_matrix(ro, 2, set_home, []),
        lambda: tavelin.Tavelin(home, forbidden, 3, 50, 3, penalties),
        lambda: t.solve(x, 9),                         # not in sets_home
        lambda: t.solve(ro, 0),                        # read-only
        lambda: t.solve(x),                            # binding
        lambda: t.solve(x, team=0),
        lambda: t.solve(x, -1),                        # overflow
        lambda: t.create_cost_matrix(x, 0, set_home, [1, 6]),   # index
        lambda: t.create_cost_matrix(x, 0, "12", opponents),
        lambda: t.create_cost_matrix(x, 0, set_home, [1, bad_index()]),
        lambda: t.create_cost_matrix(x.astype(np.float32), 0, set_home, opponents),
        lambda: tavelin.Tavelin(home, {0: [1], 1: "x"}, 3, 50, 3, penalties),
        lambda: tavelin.Tavelin(home, forbidden, 3, 50, 3, {1: 1, 2**61: 1}),
        lambda: tavelin.Tavelin(home, forbidden, 3, 50, 3, {1: 1, 2: None}),
    ]


def run(fn, times):
    for _ in range(times):
        try:
            fn()
        except BaseException:  # noqa: BLE001 - the internal-error exception too
            pass


@pytest.mark.parametrize("index", range(16))
def test_no_reference_or_block_growth(index, capfd):
    objects, fns = calls()
    fn = fns[index]
    run(fn, 200)  # warm caches
    gc.collect()
    refs = [sys.getrefcount(o) for o in objects]
    blocks = sys.getallocatedblocks()
    run(fn, 3000)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == refs
    assert sys.getallocatedblocks() - blocks < 50
    capfd.readouterr()

"""Repeated calls through every success and failure path keep the reference
counts of the arguments and the interpreter's allocated blocks flat."""
import gc
import sys

import pytest

from leak_paths import paths, run

CALLS = 3000
NAMES = list(paths()[1])


@pytest.mark.parametrize("name", NAMES)
def test_no_reference_or_block_growth(name, capfd):
    objects, calls = paths()
    fn = calls[name]
    run(fn, 200)  # warm caches
    gc.collect()
    refs = [sys.getrefcount(o) for o in objects]
    growth = block_growth(fn)
    assert [sys.getrefcount(o) for o in objects] == refs
    if growth >= 50:
        # A leak grows in every round; a cache of the interpreter that the
        # rest of the suite left half filled (seen on the paths that print a
        # traceback) grows once. A second round tells them apart.
        growth = block_growth(fn)
    assert growth < 50
    capfd.readouterr()


def block_growth(fn):
    blocks = sys.getallocatedblocks()
    run(fn, CALLS)
    gc.collect()
    return sys.getallocatedblocks() - blocks

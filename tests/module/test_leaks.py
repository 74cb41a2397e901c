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
    blocks = sys.getallocatedblocks()
    run(fn, CALLS)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == refs
    assert sys.getallocatedblocks() - blocks < 50
    capfd.readouterr()

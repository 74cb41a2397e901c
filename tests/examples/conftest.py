"""Shared setup for the tests of the example scheduler in examples/."""
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))

# The ten real league instances shipped with the examples.
ROBINX = ROOT / "examples" / "instances"


@pytest.fixture
def robinx_dir():
    return ROBINX

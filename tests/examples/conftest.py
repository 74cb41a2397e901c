"""Shared setup for the tests of the example scheduler in examples/."""
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))

# The real league instances live beside the project, never inside it.
ROBINX = ROOT.parent / "shared" / "robinx"


@pytest.fixture
def robinx_dir():
    if not (ROBINX / "IF1.xml").is_file():
        pytest.skip(f"RobinX instances not found in {ROBINX}")
    return ROBINX

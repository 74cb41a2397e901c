import os
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings

import tavelin

# Test modules import their shared helpers as `support`; every conftest.py is
# named alike, so none of them is imported by name.
sys.path.insert(0, str(Path(__file__).resolve().parent))

from support import panic_type  # noqa: E402


@pytest.fixture(scope="session")
def Panic():
    return panic_type()


def pytest_report_header():
    return f"tavelin: {tavelin.__file__}"


# Hypothesis profiles for the fuzz tests: "ci" (the default) runs a bounded,
# reproducible number of examples; "long" (./dev fuzz) runs many, randomly.
# TAVELIN_FUZZ_EXAMPLES overrides the number of examples of either.
_examples = os.environ.get("TAVELIN_FUZZ_EXAMPLES")
_fuzz = dict(deadline=None, suppress_health_check=list(HealthCheck), print_blob=True)
settings.register_profile("ci", max_examples=int(_examples or 150), derandomize=True,
                          database=None, **_fuzz)
settings.register_profile("long", max_examples=int(_examples or 20000), **_fuzz)
settings.load_profile("ci")

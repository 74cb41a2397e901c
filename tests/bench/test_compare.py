"""bench/compare.py times two builds against each other in both load
orders; given the same build twice it must run and report each workload."""
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("scipy")
import tavelin  # noqa: E402

SCRIPT = Path(__file__).resolve().parents[2] / "bench" / "compare.py"


def test_compare_reports_each_workload_for_one_build_twice():
    done = subprocess.run([sys.executable, str(SCRIPT), tavelin.__file__, tavelin.__file__,
                           "--workloads", "league/half,n=10/empty", "--seconds", "0.05"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    rows = [line.split() for line in done.stdout.splitlines()[1:]]
    assert [r[0] for r in rows] == ["league/half", "n=10/empty"]
    assert all(0.2 < float(r[1]) < 5.0 for r in rows)

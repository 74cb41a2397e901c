"""The split of the solve time reads what the native kernel benchmark
prints: the table must keep the form the parser expects."""
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))

from kernel_parts import BOTH, kernel_times, parse_routes, parse_table  # noqa: E402
from workloads import compact, league, two_teams  # noqa: E402

# Built by ./dev test together with the C++ tests.
BINARY = ROOT / "build" / "native-tests" / "kernel_bench"


@pytest.mark.skipif(not BINARY.exists(), reason="kernel_bench is not built (./dev test builds it)")
def test_kernel_bench_times_every_workload():
    loads = [league("half"), compact(10, "mostly"), two_teams()]
    times = kernel_times(BINARY, loads, 0.0)
    assert set(times) == {("league", "half"), ("n=10", "mostly"), ("2 teams", "empty")}
    assert all(list(t)[:2] == ["cost matrix", "scalar"] and list(t)[-1] == BOTH and min(t.values()) >= 0.0
               for t in times.values())


def test_kernel_bench_refuses_a_broken_workload_file(tmp_path):
    if not BINARY.exists():
        pytest.skip("kernel_bench is not built (./dev test builds it)")
    bad = tmp_path / "bad.txt"
    bad.write_text("workload n=2 empty 2 1 10 2\npenalties x\n")
    assert subprocess.run([str(BINARY), str(bad)], capture_output=True).returncode != 0


def test_parse_table_takes_the_widest_assignment_column():
    text = ("| workload | X | cost matrix | assignment: scalar | assignment: avx2 | both, in a row |\n"
            "|---|---|---:|---:|---:|---:|\n| 2_teams | empty | 0.10 | 0.30 | 0.20 | 0.25 |\n")
    assert parse_table(text) == {("2 teams", "empty"): (0.10, 0.20, 0.25)}
    assert parse_routes(text) == {("2 teams", "empty"): {"cost matrix": 0.10, "scalar": 0.30, "avx2": 0.20,
                                                         BOTH: 0.25}}

"""The benchmark's workloads must be the timetables they claim to be, and the
harness must refuse to time anything when the two implementations disagree."""
import sys
from pathlib import Path

import numpy as np
import pytest

pytest.importorskip("scipy")
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import peer as peer_module  # noqa: E402
import run  # noqa: E402
from workloads import (FILLS, LEAGUE_SEPARATION, LEAGUE_SLOTS, UNSCHEDULED,  # noqa: E402
                       circle_timetable, compact, league)


@pytest.mark.parametrize("n", [2, 4, 10, 20, 40, 80, 160])
def test_circle_timetable_is_a_compact_double_round_robin(n):
    T = circle_timetable(n)
    off = ~np.eye(n, dtype=bool)
    assert (T[off] != UNSCHEDULED).all() and (T[~off] == UNSCHEDULED).all()
    for t in range(n):
        # One game in every one of the 2(n-1) slots, half of them at home.
        games = np.concatenate((T[t][off[t]], T[:, t][off[:, t]]))
        assert sorted(games) == list(range(2 * (n - 1)))
    # The second half mirrors the first with home and away swapped.
    assert (np.abs(T - T.T)[off] == n - 1).all()


@pytest.mark.parametrize("fill", list(FILLS))
@pytest.mark.parametrize("n", [10, 40])
def test_compact_workload_samples_its_timetable(n, fill):
    w = compact(n, fill)
    placed = w.X != UNSCHEDULED
    assert placed.sum() == round(FILLS[fill] * n * (n - 1))
    assert (w.X[placed] == w.full[placed]).all()
    assert all(len(w.sets_home[t]) == n - 1 and set(w.sets_home[t]) == set(w.full[t][w.full[t] != UNSCHEDULED])
               for t in range(n))
    assert sorted(w.teams) == list(range(n))


def test_league_timetable_respects_its_rules():
    w = league("mostly")
    T, n = w.full, w.n
    assert n == 15 and 17 <= np.mean([len(h) for h in w.sets_home.values()]) <= 23
    placed = T != UNSCHEDULED
    assert placed.sum() > 0.9 * n * (n - 1)
    for i, j in np.argwhere(placed):
        s = T[i, j]
        assert 0 <= s < LEAGUE_SLOTS and s in w.sets_home[i] and int(s) not in w.sets_forbidden[j]
        if T[j, i] != UNSCHEDULED:
            assert abs(s - T[j, i]) >= LEAGUE_SEPARATION
    for t in range(n):
        slots = np.concatenate((T[t][placed[t]], T[:, t][placed[:, t]]))
        assert len(slots) == len(set(slots.tolist())), f"team {t} plays twice in one slot"


def test_prepare_restores_the_previous_row_and_clears_the_next():
    w = compact(10, "mostly")
    X = w.fresh()
    w.prepare(X, 3, None)
    X[3] = 1.0                       # what a call leaves behind
    w.prepare(X, 5, 3)
    expected = w.X.copy()
    expected[5] = UNSCHEDULED
    assert np.array_equal(X, expected)


def test_harness_times_nothing_when_the_peer_disagrees(monkeypatch, capsys):
    class OffByOne(peer_module.Peer):
        def solve(self, X, team_idx):
            return super().solve(X, team_idx) + 1.0

    monkeypatch.setattr(run, "Peer", OffByOne)
    monkeypatch.setattr(run, "time_interleaved", lambda *a, **k: pytest.fail("timed despite a disagreement"))
    assert run.main(["--quick"]) == 1
    assert "totals differ" in capsys.readouterr().err

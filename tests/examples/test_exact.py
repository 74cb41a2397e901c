import os
import sys

import numpy as np
import pytest

import floors
from exact import MissingSolver, fewest_missing
from family import family_instance
from robinx import UNSCHEDULED, Availability, Instance, RestWindow, Separation
from scheduler import Search

# OR-Tools is a large native library of its own, not built for the sanitizers
# that check tavelin; it is tested without them (and not even loaded).
if os.environ.get("TAVELIN_SANITIZED") == "1":
    pytest.skip("OR-Tools is not built for the sanitizers", allow_module_level=True)
cp_model = pytest.importorskip("ortools.sat.python.cp_model")


def league(n, slots, closed=(), unavailable=(), windows=(), separation=None):
    rules = [Availability(t, "H", frozenset(s)) for t, s in closed]
    rules += [Availability(t, "HA", frozenset(s)) for t, s in unavailable]
    seps = () if separation is None else (Separation(separation, slots),)
    return Instance("hand", n, slots, tuple(rules), tuple(windows), seps)


@pytest.mark.parametrize("inst, fewest", [
    # two teams hosting in slots 0-3: both games fit
    (league(2, 4), 0),
    # ... but not 3 or more slots apart: one game stays out
    (league(2, 4, separation=3), 1),
    # the matching bound sees 0 here (2 games, 3 slots), but at most one
    # game in any 3 slots leaves one out
    (league(2, 3, windows=[RestWindow(3, 1, True, 1)]), 1),
    # one game per slot: three teams, two slots, six games; each slot holds one game
    (league(3, 2), 4),
])
def test_fewest_games_without_a_slot(inst, fewest):
    found = fewest_missing(inst, seconds=10)
    assert (found.lowest, found.found, found.proven) == (fewest, fewest, True)


def test_the_floor_above_the_matching_bound_of_a_generated_league():
    inst = family_instance("G14")
    assert floors.known_floor(inst) == 2  # the matching bound says 1
    empty = np.full((inst.n_teams, inst.n_teams), UNSCHEDULED)
    assert fewest_missing(inst, seconds=60, hint=empty).lowest == 2


def test_a_kept_floor_applies_only_to_its_instance():
    inst = family_instance("G13")
    assert floors.known_floor(inst) == 5
    assert Search(inst).bound == 5  # the search aims for it, not for the lower bound 2
    other = league(inst.n_teams, inst.n_slots)
    assert floors.known_floor(type(inst)(**{**inst.__dict__, "n_slots": 274})) is None
    assert floors.known_floor(other) is None


def test_without_ortools_the_message_says_what_to_install(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "ortools.sat.python", None)
    with pytest.raises(MissingSolver, match="pip install ortools"):
        fewest_missing(league(2, 4))
    assert floors.main(["G13", "--seconds", "1"]) == 2
    assert "pip install ortools" in capsys.readouterr().err

import pytest

from bounds import infeasibility_bound, shortfalls, team_shortfall
from robinx import Availability, Instance, read_instance


def league(n, slots, closed=(), unavailable=()):
    """n teams; closed[t] = slots where t may not host, unavailable[t] = may not play."""
    rules = [Availability(t, "H", frozenset(s)) for t, s in closed]
    rules += [Availability(t, "HA", frozenset(s)) for t, s in unavailable]
    return Instance("hand", n, slots, tuple(rules), (), ())


@pytest.mark.parametrize("inst, deficits, bound", [
    # enough slots for everybody
    (league(3, 6), {}, 0),
    # team 0 may host only in slot 0 but has two home games
    (league(3, 6, closed=[(0, {1, 2, 3, 4, 5})]), {0: 1}, 1),
    # ... and cannot play in slot 0 at all: its two home games have no slot,
    # and for each other team its game away at team 0 has none
    (league(3, 6, closed=[(0, {1, 2, 3, 4, 5})], unavailable=[(0, {0})]), {0: 2, 1: 1, 2: 1}, 2),
    # two teams that both host only in slot 0: each has two games for one
    # slot, and the one game left out covers both deficits
    (league(2, 2, closed=[(0, {1}), (1, {1})]), {0: 1, 1: 1}, 1),
    # teams 0 and 1 host only in slot 0: games 0-1, 1-0, 0-2 and 1-2 all need
    # slot 0, and at most one of them gets it
    (league(3, 3, closed=[(0, {1, 2}), (1, {1, 2})]), {0: 2, 1: 2, 2: 1}, 3),
])
def test_deficits_and_bound(inst, deficits, bound):
    assert {s.team: s.deficit for s in shortfalls(inst)} == deficits
    assert infeasibility_bound(inst) == bound


def test_the_proof_has_more_games_than_slots():
    inst = league(3, 6, closed=[(0, {1, 2, 3, 4, 5})])
    s = team_shortfall(inst, 0)
    assert s.games == (("home", 1), ("home", 2)) and s.slots == (0,)


@pytest.mark.parametrize("name, bound, teams", [
    ("IF1", 2, {4, 9, 14}),
    ("IF8", 1, {7}),
    ("IF2", 0, set()),
])
def test_real_instances(robinx_dir, name, bound, teams):
    inst = read_instance(robinx_dir / f"{name}.xml")
    found = shortfalls(inst)
    assert {s.team for s in found} == teams
    for s in found:
        assert len(s.games) - len(s.slots) == s.deficit
    assert infeasibility_bound(inst) == bound

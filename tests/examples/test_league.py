import pytest

from bounds import infeasibility_bound
from family import FAMILY, family_instance
from league import Shape, variant


@pytest.mark.parametrize("name", list(FAMILY))
def test_generated_family_has_the_shape_asked_for(name):
    seed, shape = FAMILY[name]
    inst = family_instance(name)
    assert family_instance(name) == inst  # the same league on every call
    assert (inst.n_teams, inst.n_slots, inst.windows) == (shape.n_teams, shape.n_slots, shape.windows)
    assert [(s.min, s.max) for s in inst.separations] == [(shape.separation, shape.n_slots)]
    # the leagues meant to be played in full can be, the others cannot
    assert (infeasibility_bound(inst) == 0) == shape.playable
    home_days = [len(inst.home_slots(t)) for t in range(inst.n_teams)]
    assert sum(days < inst.n_teams - 1 for days in home_days) == shape.short


def test_venue_days_follow_the_shape():
    """With days to spare beyond any need, no venue day is closed: a venue
    open every other week has at most 20 days, one open on two weekdays
    every week some 70 less the days off."""
    sparse = variant(5, Shape(weekly=0.0, spare=(200, 200)))
    dense = variant(5, Shape(weekly=1.0, second_day=1.0, spare=(200, 200)))
    assert max(len(sparse.home_slots(t)) for t in range(15)) <= 20
    assert min(len(dense.home_slots(t)) for t in range(15)) >= 50
    tight = variant(5, Shape(spare=(0, 0)))
    assert {len(tight.home_slots(t)) for t in range(15)} == {14}


def test_more_short_and_stranded_teams_than_teams_are_refused():
    with pytest.raises(ValueError, match="more short and stranded"):
        variant(1, Shape(n_teams=4, n_slots=64, short=3, stranded=2))

import os
import stat
from pathlib import Path

import numpy as np
import pytest

from robinx import (UNSCHEDULED, Availability, RestWindow, RobinXError, Separation,
                    parse_instance, parse_solution, read_instance, solution_xml, write_solution)

CONSTRAINTS = """
      <CA1 max="0" min="0" mode="H" penalty="1" slots="0;1;2" teams="0" type="HARD"/>
      <CA1 max="0" min="0" mode="HA" penalty="1" slots="5" teams="1;2" type="HARD"/>
      <CA1 max="0" min="0" mode="H" penalty="1" teams="2" type="HARD"/>
      <CA3 intp="4" max="2" min="0" mode1="HA" mode2="SLOTS" penalty="1" teamGroups1="0" teamGroups2="0" type="HARD"/>
      <CA3 intp="2" max="1" min="0" mode1="HA" mode2="SLOTS" penalty="5" teamGroups1="0" teamGroups2="0" type="SOFT"/>
"""
SEPARATION = '<SE1 max="9" min="3" penalty="1" teamGroups="0" type="HARD"/>'


def document(constraints=CONSTRAINTS, separation=SEPARATION, teams=3, slots=10,
             fmt="<numberRoundRobin>2</numberRoundRobin><compactness>R</compactness>",
             data="<Distances/><COEWeights/><Costs/>", capacity_tag="CapacityConstraints"):
    team_xml = "".join(f'<team id="{i}" league="0" name="T{i}" teamGroups="0"/>' for i in range(teams))
    slot_xml = "".join(f'<slot id="{i}" name="S{i}"/>' for i in range(slots))
    return f"""<?xml version="1.0"?>
<Instance>
  <MetaData><InstanceName>Tiny</InstanceName></MetaData>
  <Structure><Format leagueIds="0">{fmt}</Format><AdditionalGames/></Structure>
  <ObjectiveFunction><Objective>SC</Objective></ObjectiveFunction>
  <Data>{data}</Data>
  <Resources>
    <TeamGroups><teamGroup id="0" name="All teams"/></TeamGroups>
    <LeagueGroups/><Leagues><league id="0" name="L"/></Leagues>
    <Teams>{team_xml}</Teams><SlotGroups/><Slots>{slot_xml}</Slots>
  </Resources>
  <Constraints>
    <BasicConstraints/>
    <{capacity_tag}>{constraints}</{capacity_tag}>
    <SeparationConstraints>{separation}</SeparationConstraints>
  </Constraints>
</Instance>"""


def test_reads_every_supported_element():
    inst = parse_instance(document())
    assert (inst.name, inst.n_teams, inst.n_slots, inst.n_games) == ("Tiny", 3, 10, 6)
    assert inst.availability == (
        Availability(0, "H", frozenset({0, 1, 2})),
        Availability(1, "HA", frozenset({5})),
        Availability(2, "HA", frozenset({5})),
        Availability(2, "H", frozenset()),
    )
    assert inst.windows == (RestWindow(4, 2, True, 1), RestWindow(2, 1, False, 5))
    assert inst.separations == (Separation(3, 9),)


def test_home_slots_leave_out_closed_venue_and_unavailable_days():
    inst = parse_instance(document())
    assert inst.home_slots(0) == [3, 4, 5, 6, 7, 8, 9]
    assert inst.home_slots(1) == [0, 1, 2, 3, 4, 6, 7, 8, 9]
    # a CA1 without slots closes nothing
    assert inst.home_slots(2) == [0, 1, 2, 3, 4, 6, 7, 8, 9]
    assert inst.unavailable(0) == frozenset() and inst.unavailable(2) == {5}


@pytest.mark.parametrize("change, element", [
    (dict(constraints='<CA2 max="0" mode1="H" teams1="0" teams2="1" slots="1" type="HARD"/>'), "CA2"),
    (dict(constraints='<CA1 max="0" mode="A" slots="1" teams="0" type="HARD"/>'), "CA1"),
    (dict(constraints='<CA1 max="0" mode="H" slots="1" teams="0" type="SOFT"/>'), "CA1"),
    (dict(constraints='<CA1 max="1" mode="H" slots="1" teams="0" type="HARD"/>'), "CA1"),
    (dict(constraints='<CA1 max="0" mode="H" slots="10" teams="0" type="HARD"/>'), "CA1"),
    (dict(constraints='<CA1 max="0" mode="H" slots="1" teams="3" type="HARD"/>'), "CA1"),
    (dict(constraints='<CA1 max="0" mode="H" slots="x" teams="0" type="HARD"/>'), "CA1"),
    (dict(constraints='<CA3 intp="2" max="1" mode1="H" mode2="SLOTS" teamGroups1="0" '
                      'teamGroups2="0" type="SOFT"/>'), "CA3"),
    (dict(constraints='<CA3 intp="2" max="1" mode1="HA" mode2="SLOTS" teams1="0" '
                      'teamGroups2="0" type="SOFT"/>'), "CA3"),
    (dict(constraints='<CA3 intp="2" max="1" min="1" mode1="HA" mode2="SLOTS" teamGroups1="0" '
                      'teamGroups2="0" type="SOFT"/>'), "CA3"),
    (dict(separation='<SE1 max="9" min="3" teamGroups="0" type="SOFT"/>'), "SE1"),
    (dict(separation='<SE1 max="9" min="3" teamGroups="7" type="HARD"/>'), "SE1"),
    (dict(separation='<BR1 intp="0" mode2="HA" slots="1" teams="0" type="HARD"/>'), "BR1"),
    (dict(capacity_tag="OtherConstraints"), "OtherConstraints"),
    (dict(fmt="<numberRoundRobin>1</numberRoundRobin><compactness>R</compactness>"), "numberRoundRobin"),
    (dict(fmt="<numberRoundRobin>2</numberRoundRobin><compactness>C</compactness>"), "compactness"),
    (dict(fmt="<numberRoundRobin>2</numberRoundRobin><compactness>R</compactness><gameMode>P</gameMode>"),
     "gameMode"),
    (dict(data='<Distances><distance team1="0" team2="1" dist="3"/></Distances>'), "Distances"),
    (dict(teams=1), "Teams"),
])
def test_refuses_what_it_does_not_support_naming_the_element(change, element):
    with pytest.raises(RobinXError, match=f"<{element}>"):
        parse_instance(document(**change))


@pytest.mark.parametrize("text, why", [
    ("<Instance><unclosed></Instance>", "not well-formed"),
    ("<Solution/>", "root must be <Instance>"),
    (document().replace('<slot id="3" name="S3"/>', ""), "slot ids must be 0..8"),
    (document().replace('<team id="1" ', '<team id="7" '), "team ids must be 0..2"),
])
def test_refuses_broken_documents(text, why):
    with pytest.raises(RobinXError, match=why):
        parse_instance(text)


def test_unreadable_file_is_a_clear_error(tmp_path):
    with pytest.raises(RobinXError, match="cannot be read"):
        read_instance(tmp_path / "missing.xml")


def test_solution_round_trip(tmp_path):
    inst = parse_instance(document())
    x = np.full((3, 3), UNSCHEDULED)
    x[0, 1], x[1, 0], x[2, 0], x[1, 2] = 4.0, 9.0, 3.0, 6.0
    path = tmp_path / "out.xml"
    write_solution(path, inst, x, infeasibility=2, objective=17)
    assert [p.name for p in tmp_path.iterdir()] == ["out.xml"]  # no temporary file left
    text = path.read_text()
    assert '<ObjectiveValue infeasibility="2" objective="17" />' in text
    assert text.count("<ScheduledMatch") == 4
    assert np.array_equal(parse_solution(text, inst), x)


@pytest.mark.parametrize("umask, mode", [(0o022, 0o644), (0o077, 0o600), (0o002, 0o664)],
                         ids=["umask-022", "umask-077", "umask-002"])
def test_solution_file_mode_follows_the_umask(tmp_path, umask, mode):
    path = tmp_path / "out.xml"
    path.write_text("old")
    previous = os.umask(umask)
    try:
        path.chmod(0o600)   # a replaced file's mode is not carried over either
        write_solution(path, parse_instance(document()), np.full((3, 3), UNSCHEDULED), 0, 0)
    finally:
        os.umask(previous)
    assert stat.S_IMODE(path.stat().st_mode) == mode


def test_failed_solution_write_leaves_the_old_file_alone(tmp_path, monkeypatch):
    path = tmp_path / "out.xml"
    path.write_text("old")
    renames = []

    def failing_replace(src, dst):
        renames.append((Path(src).parent, Path(dst)))
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(os, "replace", failing_replace)
    with pytest.raises(OSError):
        write_solution(path, parse_instance(document()), np.full((3, 3), UNSCHEDULED), 0, 0)
    assert renames == [(tmp_path, path)]   # the new file was made beside the old one
    assert path.read_text() == "old"
    assert [p.name for p in tmp_path.iterdir()] == ["out.xml"]


@pytest.mark.parametrize("games, why", [
    ('<ScheduledMatch home="0" away="1" slot="1"/><ScheduledMatch home="0" away="1" slot="2"/>',
     "scheduled twice"),
    ('<ScheduledMatch home="1" away="1" slot="1"/>', "not a game"),
    ('<ScheduledMatch home="0" away="3" slot="1"/>', "not a game"),
    ('<ScheduledMatch home="0" away="1" slot="10"/>', "outside 0..9"),
    ('<ScheduledMatch home="0" away="1"/>', 'missing attribute "slot"'),
])
def test_solution_reader_refuses_inconsistent_games(games, why):
    inst = parse_instance(document())
    with pytest.raises(RobinXError, match=why):
        parse_solution(f"<Solution><Games>{games}</Games></Solution>", inst)


def test_real_instances_read_whole(robinx_dir):
    for k in range(1, 11):
        inst = read_instance(robinx_dir / f"IF{k}.xml")
        assert inst.name == f"IF{k}" and inst.n_teams in (14, 15) and inst.n_slots in (273, 274)
        assert sorted((w.intp, w.max, w.hard, w.penalty) for w in inst.windows) == [
            (2, 1, False, 5), (3, 1, False, 1), (4, 1, False, 1), (4, 2, True, 1)]
        assert [s.min for s in inst.separations] == [60]
        assert len(inst.availability) == 2 * inst.n_teams


def test_if1_team_14_has_fewer_home_slots_than_home_games(robinx_dir):
    inst = read_instance(robinx_dir / "IF1.xml")
    assert len(inst.home_slots(14)) == 13 and inst.recorded_best == 0

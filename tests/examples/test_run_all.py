import shutil
import sys
from pathlib import Path

import pytest

import run_all

ROBINX = Path(run_all.__file__).resolve().parent / "instances"


@pytest.fixture(scope="module")
def instances(tmp_path_factory):
    """IF8, and BAD: IF3 with a soft rest window the scheduler refuses, so
    that its jobs fail inside the worker."""
    folder = tmp_path_factory.mktemp("instances")
    shutil.copy(ROBINX / "IF8.xml", folder)
    text = (ROBINX / "IF3.xml").read_text()
    (folder / "BAD.xml").write_text(text.replace('intp="3" max="1"', 'intp="3" max="2"'))
    return folder


@pytest.fixture(scope="module")
def dask_scheduler():
    distributed = pytest.importorskip("distributed")
    # The workers must get the example modules from the batch, not from a
    # path inherited from this process as a remote worker would not.
    examples = str(ROBINX.parent)
    saved = sys.path[:]
    sys.path[:] = [p for p in sys.path if p != examples]
    try:
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           dashboard_address=None)
    finally:
        sys.path[:] = saved
    with cluster:
        yield cluster.scheduler_address


def table_rows(text):
    lines = text.splitlines()
    assert lines[0].startswith("| instance |") and lines[1].startswith("|---")
    return {cells[0]: cells[1:] for cells in
            ([c.strip() for c in line.strip("|").split("|")] for line in lines[2:])}


@pytest.mark.parametrize("where", ["processes", "dask"])
def test_batch_runs_every_seed_and_reports_the_failed_jobs(where, instances, request, tmp_path, capsys):
    place = (["--jobs", "2"] if where == "processes"
             else ["--scheduler", request.getfixturevalue("dask_scheduler")])
    table = tmp_path / "table.md"
    status = run_all.main(["--robinx", str(instances), "--instances", "IF8,BAD", "--seeds", "1,2",
                           "--time-limit", "1", "--output", str(table), *place])
    out, err = capsys.readouterr()
    assert status == 1
    rows = table_rows(out)
    assert list(rows) == ["IF8", "BAD"]
    teams, infeasibility, proven, objective, recorded, found, rate, seeds = rows["IF8"]
    assert (teams, infeasibility, proven, recorded, seeds) == ("15", "1 / 1 / 1", "yes", "0", "1, 2")
    assert len(objective.split(" / ")) == 3 and int(rate) > 0 and 0 <= float(found) <= 1.5
    assert rows["BAD"][1] == "failed" and rows["BAD"][-1] == "failed: 1, 2"
    for seed in (1, 2):
        assert f"BAD seed {seed} failed: UnsupportedInstance: a soft CA3 with max=2" in err
    assert "[4/4]" in err and "2 failed" in err
    assert table.read_text() == out


def test_generated_league_with_its_proven_floor_and_a_budget_of_solve_calls(capsys):
    # G14 cannot be played in full: lower bound 1, proven floor 2; no run
    # ends below the floor, and the reached value is ranked, best first.
    assert run_all.main(["--instances", "G14", "--solves", "3000", "--seeds", "1,2", "--jobs", "1",
                         "--quiet"]) == 0
    teams, infeasibility, proven, objective = table_rows(capsys.readouterr().out)["G14"][:4]
    bound, floor, reached = infeasibility.split(" / ")
    assert (teams, bound, floor) == ("13", "1", "2")
    assert int(reached.split("–")[0]) >= 2 and proven == ("yes" if reached == "2" else "no")
    best, median, worst = (float(v) for v in objective.split(" / "))
    assert best <= median <= worst or reached != "2"


def test_without_dask_the_scheduler_option_says_what_to_install(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "distributed", None)
    assert run_all.main(["--instances", "IF3", "--scheduler", "tcp://127.0.0.1:8786"]) == 2
    assert "pip install 'dask[distributed]" in capsys.readouterr().err


@pytest.mark.parametrize("args, message", [
    (["--instances", "IF3,NOPE"], "NOPE.xml not found"),
    (["--instances", ","], "must name each instance once"),
    (["--instances", "IF3,IF4,IF3"], "must name each instance once"),
    (["--instances", "IF3", "--output", "/nonexistent-folder/table.md"], "no such folder"),
])
def test_a_batch_that_cannot_finish_stops_before_any_job(args, message, capsys):
    assert run_all.main([*args, "--time-limit", "30"]) == 2
    assert message in capsys.readouterr().err


@pytest.mark.parametrize("args", [
    ["--seeds", "1,x"],
    ["--seeds", "1,1"],
    ["--seeds", "1", "--seed", "2"],
    ["--jobs", "2", "--scheduler", "tcp://127.0.0.1:8786"],
    ["--jobs", "0"],
    ["--solves", "0"],
    ["--sets", "shipped,nope"],
    ["--sets", "family", "--instances", "IF3"],
])
def test_usage_errors(args):
    with pytest.raises(SystemExit) as exit:
        run_all.parse_args(args)
    assert exit.value.code == 2


def test_the_modules_sent_to_dask_workers_are_all_a_job_imports_in_order():
    import ast

    import pools

    sent = list(pools.JOB_MODULES)
    for position, name in enumerate(sent):
        tree = ast.parse((pools.EXAMPLES / f"{name}.py").read_text())
        top_level = {node.module for node in tree.body if isinstance(node, ast.ImportFrom)}
        top_level |= {alias.name for node in tree.body if isinstance(node, ast.Import) for alias in node.names}
        local = {m for m in top_level if m and (pools.EXAMPLES / f"{m}.py").is_file()}
        assert local <= set(sent[:position]), f"{name} imports {sorted(local - set(sent[:position]))}"

import pytest
from support import Terminal

import schedule
from robinx import parse_solution, read_instance
from league import generate
from scheduler import Progress


def test_default_run_prints_the_summary_and_writes_the_solution(tmp_path, capsys):
    out = tmp_path / "solution.xml"
    assert schedule.main(["--time-limit", "1", "--quiet", "--output", str(out)]) == 0
    summary = dict(line.split(None, 1) if not line.startswith("solve calls")
                   else ("solve calls", line[len("solve calls"):].strip())
                   for line in capsys.readouterr().out.splitlines())
    assert summary["teams"] == "15"
    assert summary["games"] == "210 (210 with a slot)"
    assert summary["infeasibility"] == "0"
    assert "per second" in summary["solve calls"]
    x = parse_solution(out.read_text(), generate(1))
    assert (x < 9999.0).sum() == 210
    assert f'objective="{summary["objective"]}"' in out.read_text()


def test_instance_file_with_the_lower_bound(robinx_dir, capsys):
    assert schedule.main([str(robinx_dir / "IF8.xml"), "--time-limit", "1", "--quiet"]) == 0
    out = capsys.readouterr().out
    assert "instance       IF8" in out
    assert "at least 1 in any schedule: team 7 cannot have a slot for every game" in out
    assert "best recorded 0" in out


@pytest.mark.parametrize("content, message", [
    (None, "cannot be read"),
    ("<Instance>", "not well-formed"),
    ("<Solution/>", "root must be <Instance>"),
])
def test_bad_instances_are_reported_without_a_traceback(tmp_path, capsys, content, message):
    path = tmp_path / "bad.xml"
    if content is not None:
        path.write_text(content)
    assert schedule.main([str(path), "--quiet"]) == 2
    assert message in capsys.readouterr().err


def test_output_in_a_missing_folder_is_refused_before_the_search(tmp_path, capsys):
    target = tmp_path / "missing-folder" / "out.xml"
    assert schedule.main(["--time-limit", "30", "--quiet", "--output", str(target)]) == 2
    assert "cannot write" in capsys.readouterr().err


@pytest.mark.parametrize("tty", [True, False])
def test_progress_waits_a_second_then_shows_time_and_best(tty):
    stream = Terminal(tty)
    line = schedule.ProgressLine(stream)
    line(Progress(0.5, 3, 90, 100))
    assert stream.getvalue() == ""
    line(Progress(1.2, 0, 70, 2000))
    line(Progress(1.3, 0, 69, 2100))  # too soon for a new line
    line.close()
    text = stream.getvalue()
    assert "1.2 s  infeasibility 0  objective 70" in text and "objective 69" not in text
    assert text.startswith("\r") == tty and text.endswith("\n") != tty


def test_generated_league_of_another_size(capsys):
    assert schedule.main(["--teams", "6", "--slots", "120", "--time-limit", "0.5", "--quiet"]) == 0
    assert "games          30" in capsys.readouterr().out

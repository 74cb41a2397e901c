import struct
import sys

import pytest

import schedule
from league import generate
from robinx import UNSCHEDULED
from scheduler import Search
from violations import violations

pytest.importorskip("matplotlib")


def png_size(path):
    """(width, height) of a PNG file, after checking its signature."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    assert 20_000 < len(data) < 1_000_000
    return struct.unpack(">II", data[16:24])


def broken_schedule():
    """A schedule that breaks every rule: each kind of mark is drawn."""
    inst = generate(seed=2)
    x = Search(inst, seed=1).run(0.3).x
    x[0, 1] = x[0, 2]  # team 0 twice in one slot
    x[3, 4] = x[4, 3] + 5  # return game too soon
    x[5, 6] = UNSCHEDULED
    x[7, 8] = min(inst.unavailable(7) | inst.unavailable(8))
    x[9, 10], x[9, 12] = x[9, 11] + 1, x[9, 11] + 2  # three games in four slots
    assert {v.rule for v in violations(inst, x)} == {
        "unscheduled", "clashes", "CA1", "CA3 hard", "CA3 soft", "SE1"}
    return inst, x


@pytest.mark.parametrize("how", ["command", "every mark"])
def test_the_picture_is_a_png_of_the_figure_size(how, tmp_path, capsys):
    path = tmp_path / "picture.png"
    if how == "command":
        assert schedule.main(["--teams", "8", "--slots", "120", "--time-limit", "0.5", "--quiet",
                              "--plot", str(path)]) == 0
        assert f"picture        drawn to {path}" in capsys.readouterr().out
    else:
        from timetable_plot import draw
        inst, x = broken_schedule()
        draw(path, inst, x, [(0.1, 3, 90), (0.2, 1, 80)], "every mark")
    assert png_size(path) == (1600, 850)


def test_without_matplotlib_plot_says_what_to_install_before_searching(monkeypatch, tmp_path, capsys):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    assert schedule.main(["--time-limit", "30", "--quiet", "--plot", str(tmp_path / "p.png")]) == 2
    assert "pip install 'matplotlib>=3.8'" in capsys.readouterr().err
    assert not (tmp_path / "p.png").exists()

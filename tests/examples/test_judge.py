import judge


def test_judge_prints_the_spread_over_seeds_with_the_floor(capsys):
    # G14 cannot be played in full: lower bound 1, proven floor 2
    assert judge.main(["--instances", "G14", "--solves", "3000", "--seeds", "1,2", "--jobs", "1"]) == 0
    out = capsys.readouterr()
    row = next(line for line in out.out.splitlines() if line.startswith("| G14 "))
    cells = [c.strip() for c in row.strip("|").split("|")]
    assert cells[:3] == ["G14", "13", "1 / 2"]
    assert int(cells[3].split()[0]) >= 2  # never below the proven floor
    best, median, worst = (float(v) for v in cells[4].split(" / "))
    assert best <= median <= worst
    assert "G14 seed 1:" in out.err and "G14 seed 2:" in out.err

import pytest
from support import Terminal

from batch import Failure
from progress_bar import BatchProgress
from results_table import results_table
from search_job import Run


def run(seed, infeasibility, objective, bound=0, floor=None, solves=3000, seconds=2.0, found=1.0, name="IF3"):
    return Run(name, seed, 2.0, infeasibility, objective, bound, floor, 15, 58, seconds, found, solves)


@pytest.mark.parametrize("runs, failures, row", [
    # one seed: single values; solve calls/s over all seeds
    ([run(1, 0, 58)], [], "| IF3 | 15 | 0 / – / 0 | yes | 58 | 58 | 1.0 | 1500 | 1 |"),
    # runs ranked by infeasibility, then objective: the best run is (0, 61),
    # the median run (0, 70), the worst (1, 40), whatever the seed order
    ([run(3, 1, 40, found=5.0), run(1, 0, 70, found=1.0), run(2, 0, 61, found=2.0)], [],
     "| IF3 | 15 | 0 / – / 0–1 | yes | 61 / 70 / 40 | 58 | 2.0 | 1500 | 1, 2, 3 |"),
    # an even number of seeds: the mean of the two middle runs; above the
    # bound and no floor known: not proven minimal
    ([run(s, 2, obj, bound=1, solves=1000 * s) for s, obj in ((1, 90), (2, 87), (3, 95), (4, 88))], [],
     "| IF3 | 15 | 1 / – / 2 | no | 87 / 89 / 95 | 58 | 1.0 | 1250 | 1, 2, 3, 4 |"),
    # above the bound but at the proven floor: minimal
    ([run(1, 5, 14, bound=2, floor=5)], [], "| IF3 | 15 | 2 / 5 / 5 | yes | 14 | 58 | 1.0 | 1500 | 1 |"),
    # a failed seed does not hide the others
    ([run(3, 0, 60), run(1, 0, 58)], [Failure("IF3", 2, "KilledWorker: ...")],
     "| IF3 | 15 | 0 / – / 0 | yes | 58 / 59 / 60 | 58 | 1.0 | 1500 | 1, 3; failed: 2 |"),
    ([], [Failure("IF3", 2, "x"), Failure("IF3", 1, "y")],
     "| IF3 | – | failed | – | – | – | – | – | failed: 1, 2 |"),
    ([], [], "| IF3 | – | not run | – | – | – | – | – |  |"),
])
def test_instance_row(runs, failures, row):
    other = [run(1, 0, 1, name="IF4")]
    lines = results_table(["IF3", "IF4"], runs + other, failures).splitlines()
    assert lines[2] == row
    assert lines[3].startswith("| IF4 | 15 | 0 / – / 0 | yes | 1 |")


@pytest.mark.parametrize("tty", [True, False])
def test_progress_bar(tty):
    now = [100.0]
    stream = Terminal(tty)
    bar = BatchProgress(4, stream, clock=lambda: now[0])
    now[0] += 30
    bar.finished("IF3 seed 1: infeasibility 0, objective 58 (30.0 s)")
    now[0] += 30
    bar.finished("IF3 seed 2: failed: KilledWorker", failed=True)
    bar.close()
    text = stream.getvalue()
    if tty:
        assert "[############------------] 2/4 runs, 1 failed  1:00, about 1:00 left" in text
        assert "\r\x1b[KIF3 seed 2: failed: KilledWorker\n" in text
    else:
        assert text == ("[1/4] IF3 seed 1: infeasibility 0, objective 58 (30.0 s)\n"
                        "[2/4] IF3 seed 2: failed: KilledWorker\n"
                        "2/4 runs, 1 failed in 1:00\n")

"""How tavelin is typed, as its users see it: mypy and pyright check this
file against the installed stub (tests/module/test_typing.py).

`usage` must check clean and also runs. Every line of `misuse` is an error
the checkers must report: its `# type: ignore` comment would otherwise be
reported as unused.
"""
# pyright: reportUnnecessaryTypeIgnoreComment=true
from typing import assert_type

import numpy as np
import numpy.typing as npt

import tavelin


def usage() -> None:
    home: dict[int, list[int]] = {0: [1, 4, 7], 1: [2, 5, 8]}   # whole numbers stand for slots
    t = tavelin.Tavelin(home, {1: (3,)}, 3, 1000, 2, {1: 10, 2: 3})
    assert_type(t, tavelin.Tavelin)
    x = np.full((2, 2), 9999.0)
    assert_type(t.solve(x, 0), float)
    assert_type(t.solve(x_py=x, team_idx=np.int64(1)), float)
    k = t.create_cost_matrix(x, 1, np.array([2.0, 5.5]), range(1))
    assert_type(k, npt.NDArray[np.float64])
    tavelin.Tavelin({np.uint8(0): [0.5, float("nan")]}, {}, True, 0, 0, {})
    # Dictionaries written in the call: int and float slot lists mixed, NumPy scalars anywhere.
    tavelin.Tavelin({0: [1, 4, 7], 1: [2.5, 5], np.int64(2): [np.float32(1.5), np.int8(3)]},
                    {1: [np.int64(3), 4]}, np.int64(3), np.uint8(1), 2, {1: np.int16(10), 2: 3})
    t.create_cost_matrix(x, 1, [np.float32(1.5), 2], np.arange(1))


def misuse(t: tavelin.Tavelin, x: npt.NDArray[np.float64], floats: list[float]) -> None:
    t.solve(x, 1.5)  # type: ignore[arg-type]
    t.solve(x)  # type: ignore[call-arg]
    t.solve([[9999.0]], 0)  # type: ignore[type-var]
    t.solve(np.zeros((2, 2), dtype=np.float32), 0)  # type: ignore[type-var]
    t.create_cost_matrix(x.astype(np.float32), 0, [1.0], [1])  # type: ignore[type-var]
    t.create_cost_matrix(x, 0, "12", [1])  # type: ignore[arg-type]
    t.create_cost_matrix(x, 0, [1.0], floats)  # type: ignore[arg-type]
    tavelin.Tavelin([], {}, 0, 0, 0, {})  # type: ignore[call-overload]
    tavelin.Tavelin({0: [1]}, {}, 1.5, 0, 0, {})  # type: ignore[call-overload]
    tavelin.Tavelin({0: [1]}, {}, np.float64(3), 0, 0, {})  # type: ignore[call-overload]
    tavelin.Tavelin({0: "135"}, {}, 0, 0, 0, {})  # type: ignore[dict-item]
    tavelin.Tavelin({0: [1]}, {0: [1.5]}, 0, 0, 0, {})  # type: ignore[list-item]
    tavelin.Tavelin({0: [1]}, {}, 0, 0, 0, {1: 2.5})  # type: ignore[dict-item]
    t.solve(x, 0).upper()  # type: ignore[attr-defined]
    t.extra = 1  # type: ignore[attr-defined]

    class Sub(tavelin.Tavelin):  # type: ignore[misc]
        pass

"""The schedule matrix taken in, read in place, and the result handed out."""
import numpy as np
import pytest

from support import UNSCHEDULED, make

SLOTS = [1.0, 2.0, 3.0, 4.0, 6.0]


def schedule(n=4, seed=0):
    rng = np.random.default_rng(seed)
    x = np.full((n, n), UNSCHEDULED)
    for i in range(n):
        for j in range(n):
            if i != j and rng.random() < 0.5:
                x[i, j] = float(rng.integers(0, 8))
    return x


@pytest.mark.parametrize("x_py, type_name", [
    ([[1.0]], "list"),
    (np.zeros((2, 2), dtype=np.float32), "ndarray"),
    (np.zeros((2, 2), dtype=np.int64), "ndarray"),
    (np.zeros(4), "ndarray"),
    (np.zeros((2, 2, 1)), "ndarray"),
    (np.zeros((2, 2), dtype=">f8"), "ndarray"),
    (None, "NoneType"),
])
@pytest.mark.parametrize("method", ["solve", "create_cost_matrix"])
def test_rejected_arrays(x_py, type_name, method):
    t = make({0: [1.0]})
    args = (x_py, 0) if method == "solve" else (x_py, 0, [], [])
    with pytest.raises(TypeError) as info:
        getattr(t, method)(*args)
    assert str(info.value) == f"argument 'x_py': '{type_name}' object cannot be converted to 'PyArray<T, D>'"


def unaligned(x):
    raw = np.frombuffer(bytearray(x.nbytes + 1), dtype=np.uint8)[1:]
    view = raw.view(np.float64).reshape(x.shape)
    view[...] = x
    assert not view.flags.aligned
    return view


def readonly(x):
    x = x.copy()
    x.flags.writeable = False
    return x


@pytest.mark.parametrize("layout", [
    lambda x: np.asfortranarray(x),
    lambda x: np.ascontiguousarray(x.T).T,
    lambda x: np.ascontiguousarray(x[::-1, ::-1])[::-1, ::-1],
    lambda x: np.repeat(np.repeat(x, 2, axis=0), 3, axis=1)[::2, ::3],
    unaligned,
    readonly,
    lambda x: np.asmatrix(x),
])
@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_views_are_read_as_the_view(layout):
    t = make(sets_forbidden={2: [3]}, r_max=3, penalties={1: 1, 2: 4, 3: 9})
    x = schedule()
    expected = t.create_cost_matrix(x, 1, SLOTS, [0, 2, 3])
    view = layout(x)
    assert np.array_equal(view, x)
    assert np.array_equal(t.create_cost_matrix(view, 1, SLOTS, [0, 2, 3]), expected)


@pytest.mark.parametrize("layout", [
    lambda b: b.T,
    lambda b: b[::-1, ::-1],
    lambda b: b[::2, 1::2],
])
def test_solve_writes_through_strides(layout):
    t = make({1: SLOTS}, penalties={1: 1, 2: 4})
    base = np.full((8, 8), UNSCHEDULED)
    view = layout(base)
    reference = np.array(view)
    total = t.solve(view, 1)
    assert t.solve(reference, 1) == total
    expected = np.full((8, 8), UNSCHEDULED)
    layout(expected)[1, :] = reference[1, :]
    assert np.array_equal(base, expected, equal_nan=True)


def test_solve_refuses_read_only_array():
    t = make({0: [1.0]})
    x = readonly(np.full((2, 2), UNSCHEDULED))
    with pytest.raises(ValueError, match=r"^argument 'x_py': array is read-only"):
        t.solve(x, 0)
    assert np.array_equal(x, np.full((2, 2), UNSCHEDULED))
    broadcast = np.broadcast_to(np.array([UNSCHEDULED]), (3, 3))
    with pytest.raises(ValueError, match="x_py"):
        t.solve(broadcast, 0)


def test_flag_cleared_by_a_later_conversion_is_honoured():
    t = make({0: [1.0]})
    x = np.full((2, 2), UNSCHEDULED)

    class Team:
        def __index__(self):
            x.flags.writeable = False
            return 0

    with pytest.raises(ValueError, match="x_py"):
        t.solve(x, Team())
    assert np.array_equal(x, np.full((2, 2), UNSCHEDULED))


def test_array_reshaped_by_a_later_conversion_is_refused():
    x = np.full((3, 3), UNSCHEDULED)

    class Team:
        def __index__(self):
            x.resize(9, refcheck=False)
            return 0

    with pytest.raises(TypeError, match="x_py"):
        make().create_cost_matrix(x, Team(), [1.0], [1])


@pytest.mark.parametrize("rows, cols", [(3, 2), (0, 2), (3, 0), (0, 0)])
def test_result_array(rows, cols):
    t = make()
    x = np.full((4, 4), UNSCHEDULED)
    k = t.create_cost_matrix(x, 0, [float(s) for s in range(1, rows + 1)], list(range(1, cols + 1)))
    assert k.dtype == np.float64 and k.shape == (rows, cols)
    assert k.flags.c_contiguous and k.flags.writeable and not k.flags.owndata
    assert k.base is not None and not np.shares_memory(k, x)
    if rows == 0 or cols == 0:
        assert k.strides == (0, 0)
    else:
        assert k.strides == (8 * cols, 8)
        k[...] = -1.0
        assert np.array_equal(x, np.full((4, 4), UNSCHEDULED))
        assert np.array_equal(t.create_cost_matrix(x, 0, [1.0, 2.0, 3.0], [1, 2]), np.zeros((3, 2)))

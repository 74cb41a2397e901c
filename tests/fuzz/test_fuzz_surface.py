"""Fuzzing of the whole Python surface: the constructor, solve and
create_cost_matrix with arbitrary objects for every argument.

Whatever they are handed, calls return a result of the documented form or
raise one of the documented exceptions (TypeError, OverflowError, MemoryError,
the internal-error exception, ValueError for a read-only X in solve, and
whatever caller code raises); the process never dies, create_cost_matrix
never changes X, and solve changes nothing but the cells it places: a
failing solve leaves X bit for bit as it was. Run under the sanitizers
(./dev sanitize, ./dev fuzz), a memory error anywhere also ends the run.
"""
import ctypes
import math
import struct
import warnings

import numpy as np
import pytest
from hypothesis import assume, event, given
from hypothesis import strategies as st

import tavelin
from support import INFEASIBLE, empty_x
from fuzz_objects import (HOOK_CLASSES, SCENE, HookError, HookSequence, Panic, constructor_arguments,
                          forbidden_lists, home_slot_lists, matrix_arguments, plain_slot, team_indices,
                          valid_constructor_arguments)

QUIET_NAN = 0x7FF8000000000000
READ_ONLY = "argument 'x_py': array is read-only; "


def check_raised(exc, *, solve=False, strict=False):
    """Fails unless `exc` is one of the documented outcomes of a call."""
    if type(exc) is Panic:
        assert len(exc.args) == 1 and isinstance(exc.args[0], str)
        return
    if isinstance(exc, (TypeError, OverflowError, MemoryError, HookError)):
        return
    if solve and type(exc) is ValueError and str(exc).startswith(READ_ONLY):
        return
    if strict and isinstance(exc, Warning):  # a warning of a conversion, turned into an error
        return
    raise AssertionError(f"undocumented exception {type(exc).__name__}: {exc!r}") from exc


def call(fn, *, solve=False, strict=False, label="call"):
    """Runs fn with warnings ignored or (strict) turned into errors; returns
    (result, None) or (None, exception). The outcome is counted as an event
    (shown by --hypothesis-show-statistics)."""
    with warnings.catch_warnings():
        warnings.simplefilter("error" if strict else "ignore")
        try:
            result = fn()
        except BaseException as exc:  # noqa: BLE001 - the internal-error exception too
            check_raised(exc, solve=solve, strict=strict)
            event(f"{label}: raised {type(exc).__name__}" + (f": {exc.args[0]}" if type(exc) is Panic else ""))
            return None, exc
    event(f"{label}: returned")
    return result, None


def memory_of(owner):
    """The bytes of an array's buffer, as laid out in memory."""
    if owner.flags.c_contiguous or owner.flags.f_contiguous:
        return ctypes.string_at(owner.ctypes.data, owner.nbytes)
    return owner.tobytes()


def snapshot(x, owner):
    if owner is None:
        return None
    return memory_of(owner)


def plain_length(obj):
    if isinstance(obj, (list, tuple, range, bytes, bytearray)):
        return len(obj)
    if type(obj) is np.ndarray and obj.ndim == 1:
        return len(obj)
    return None


def is_float_matrix(x):
    return isinstance(x, np.ndarray) and x.ndim == 2 and x.dtype == np.float64 and x.dtype.isnative


def converted_team(team):
    """The team index that a successful call converted `team` to."""
    if hasattr(team, "action"):  # a hook: it returned its value or its wrong result
        team = team.wrong if team.wrong is not None else team.value
    return int(team)


def instance(args):
    result, _ = call(lambda: tavelin.Tavelin(*args), label="instance")
    return result


REENTRY = tavelin.Tavelin({0: [1.0, 5.0]}, {1: [2]}, 1, 10, 3, {1: 4, 2: 1})


@given(args=constructor_arguments(), strict=st.booleans())
def test_constructor(args, strict):
    SCENE.reset(dicts=[a for a in args if isinstance(a, dict)], instance=REENTRY)
    t, exc = call(lambda: tavelin.Tavelin(*args), strict=strict, label="Tavelin()")
    if exc is not None:
        return
    assert type(t) is tavelin.Tavelin
    # Whatever was stored serves every later call.
    SCENE.reset()
    x = empty_x(4)
    x[1, 2], x[3, 0] = 2.0, 6.0
    k, exc = call(lambda: t.create_cost_matrix(x, 0, [0.0, 1.0, 4.0, 5.0, float("nan")], [1, 2, 3]),
                  label="then create_cost_matrix")
    assert exc is None and k.shape == (5, 3)
    for team in range(4):
        call(lambda: t.solve(x.copy(), team), solve=True, label="then solve")


def likely_team(data, x, keys):
    """Mostly a team that is a row of X (and a key of sets_home, when
    `keys` are given); sometimes any team index at all."""
    rows = len(x) if isinstance(x, np.ndarray) and x.ndim >= 1 else 0
    fitting = [k for k in keys if k < rows] if keys is not None else list(range(rows))
    if fitting and data.draw(st.integers(0, 3)) != 3:  # Hypothesis favours 0: the common case
        return data.draw(st.sampled_from(fitting))
    return data.draw(team_indices)


@given(args=valid_constructor_arguments, x_and_owner=matrix_arguments(), data=st.data(),
       strict=st.booleans())
def test_solve(args, x_and_owner, data, strict):
    x, owner = x_and_owner
    team = likely_team(data, x, None)
    if isinstance(team, int) and data.draw(st.integers(0, 3)) != 3:  # mostly a team with home slots
        args[0].setdefault(team, data.draw(st.lists(plain_slot, max_size=7)))
    t = instance(args)
    assume(t is not None)
    SCENE.reset(x=x, instance=REENTRY)
    before = snapshot(x, owner)
    was_writeable = isinstance(x, np.ndarray) and x.flags.writeable
    total, exc = call(lambda: t.solve(x, team), solve=True, strict=strict, label="solve")
    if SCENE.resized or owner is None:
        return
    after = snapshot(x, owner)
    if exc is not None:
        assert after == before, "a failing solve changed X"
        return

    assert type(total) is float and is_float_matrix(x) and was_writeable
    team = converted_team(team)
    xa = np.asarray(x)  # the data of a masked array or matrix, as a plain view
    rows, cols = xa.shape
    written = [j for j in range(rows) if j != team]
    assert not written or team < rows
    # Only the bytes of X[team][j], j != team, may differ.
    placed = set()
    base = owner.ctypes.data
    for j in written:
        start = xa.ctypes.data + team * xa.strides[0] + j * xa.strides[1] - base
        placed.update(range(start, start + 8))
    if owner.flags.c_contiguous or owner.flags.f_contiguous:
        changed = {i for i, (b, a) in enumerate(zip(before, after)) if b != a}
        assert changed <= placed, "solve wrote outside row team_idx"
    home = args[0][team]
    for j in written:
        value = xa[team, j]
        if math.isnan(value) and struct.pack("<d", value) == struct.pack("<Q", QUIET_NAN):
            continue
        assert any(struct.pack("<d", value) == struct.pack("<d", float(s)) for s in home), \
            f"X[{team}][{j}] = {value!r} is neither NaN nor a home slot of the team"


@given(args=valid_constructor_arguments, x_and_owner=matrix_arguments(), data=st.data(),
       set_home=home_slot_lists, strict=st.booleans())
def test_create_cost_matrix(args, x_and_owner, data, set_home, strict):
    t = instance(args)
    assume(t is not None)
    x, owner = x_and_owner
    team = likely_team(data, x, None)
    rows = len(x) if isinstance(x, np.ndarray) and x.ndim >= 1 else 0
    opponents = data.draw(st.lists(st.integers(0, rows - 1), max_size=6) if rows and data.draw(st.booleans())
                          else forbidden_lists)
    SCENE.reset(x=x, instance=REENTRY)
    before = snapshot(x, owner)
    k, exc = call(lambda: t.create_cost_matrix(x, team, set_home, opponents), strict=strict,
                  label="create_cost_matrix")
    if not SCENE.resized and owner is not None:
        assert snapshot(x, owner) == before, "create_cost_matrix changed X"
    if exc is not None:
        return
    assert type(k) is np.ndarray and k.dtype == np.float64 and k.ndim == 2
    assert k.flags.c_contiguous and k.flags.writeable and not k.flags.owndata
    for length, argument in zip(k.shape, (set_home, opponents)):
        expected = plain_length(argument)
        assert expected is None or length == expected
    # Every cell is the infeasible marker or a sum of int64 penalties.
    assert np.isfinite(k).all() and (k == np.trunc(k)).all()
    assert not np.shares_memory(k, x) if isinstance(x, np.ndarray) else True


PARAMETERS = {
    "new": ("sets_home", "sets_forbidden", "m", "p", "r_max", "penalties"),
    "solve": ("x_py", "team_idx"),
    "create_cost_matrix": ("x_py", "team_idx", "set_home", "opponents"),
}
VALUES = {"sets_home": {0: [1.0, 4.0]}, "sets_forbidden": {}, "m": 1, "p": 5, "r_max": 2,
          "penalties": {1: 3}, "team_idx": 0, "set_home": [1.0], "opponents": [1]}
ODD_NAMES = ["bogus", "X_py", "team", "\ud800", "self", "args", "kwargs"]


ALL_NAMES = sorted({p for ps in PARAMETERS.values() for p in ps}) + ODD_NAMES


@given(which=st.sampled_from(list(PARAMETERS)), data=st.data())
def test_binding(which, data):
    """Any mix of positional and keyword arguments binds or fails with TypeError."""
    params = PARAMETERS[which]
    positional = data.draw(st.integers(0, len(params) + 1))
    # Mostly the remaining parameters by keyword, in any order, with a
    # parameter left out, given twice or replaced by a name it does not have.
    names = data.draw(st.permutations(params[positional:]))
    if data.draw(st.booleans()):
        names = data.draw(st.lists(st.sampled_from(ALL_NAMES), unique=True, max_size=5))
    t = tavelin.Tavelin({0: [1.0, 4.0]}, {}, 1, 5, 2, {1: 3})
    x = empty_x(3)
    values = dict(VALUES, x_py=x)
    args = [values.get(p, 0) for p in params[:positional]] + [1] * max(0, positional - len(params))
    kwargs = {name: values.get(name, 0) for name in names}
    fn = {"new": tavelin.Tavelin, "solve": t.solve, "create_cost_matrix": t.create_cost_matrix}[which]
    before = x.copy()
    result, exc = call(lambda: fn(*args, **kwargs), label="binding")
    bound = positional <= len(params) and set(names) <= set(params) and \
        not set(names) & set(params[:positional]) and positional + len(names) == len(params)
    if bound:
        assert exc is None
    else:
        name = "__new__" if which == "new" else which
        assert type(exc) is TypeError and str(exc).startswith(f"Tavelin.{name}() ")
        assert np.array_equal(x, before)


@given(n=st.integers(1, 6), data=st.data())
def test_solve_total_is_its_placement_and_the_optimum(n, data):
    """On ordinary inputs, where float arithmetic is exact: the total is the
    cost of what solve wrote into X, and no assignment costs less."""
    optimize = pytest.importorskip("scipy.optimize")
    x = data.draw(st.lists(st.lists(st.sampled_from([9999.0, 9999.0, 9999.0] + [float(s) for s in range(12)]),
                                    min_size=n, max_size=n), min_size=n, max_size=n).map(np.array))
    team = data.draw(st.integers(0, n - 1))
    slots = data.draw(st.lists(st.integers(0, 12).map(float), max_size=n + 2))
    p = data.draw(st.integers(-2, 40) | st.just(10**14))
    t = tavelin.Tavelin({team: slots}, data.draw(st.dictionaries(st.integers(0, n), st.lists(st.integers(0, 12)))),
                        data.draw(st.integers(0, 3)), p, data.draw(st.integers(2, 4)),
                        data.draw(st.dictionaries(st.integers(0, 8), st.integers(-5, 30))))
    opponents = [g for g in range(n) if g != team]
    K = t.create_cost_matrix(x, team, slots, opponents)
    total = t.solve(x, team)

    nS, nO = K.shape
    A = np.zeros((nS + nO, nS + nO))
    A[:nS, :nO] = np.where(K == INFEASIBLE, 1e15, K)
    A[nS:, :nO] = p
    rows, cols = optimize.linear_sum_assignment(A)
    assert total == A[rows, cols].sum()

    placed_cost, used = 0.0, []
    for k, g in enumerate(opponents):
        slot = x[team, g]
        if math.isnan(slot):
            placed_cost += p
            continue
        candidates = [i for i, s in enumerate(slots) if s == slot and i not in used]
        assert candidates, "a slot was placed more often than the list holds it"
        used.append(candidates[0])
        placed_cost += A[candidates[0], k]
    assert placed_cost == total


SIZE_CHANGES = ["dict add", "dict delete", "dict clear"]
SAME_SIZE = ["dict replace values", "dict delete and add"]


@given(which=st.sampled_from(["sets_home", "sets_forbidden", "penalties"]),
       entries=st.dictionaries(st.integers(0, 6), st.lists(st.integers(-1, 12), max_size=4),
                               min_size=1, max_size=5),
       where=st.sampled_from(["key", "value", "length"]), at=st.integers(0, 4),
       action=st.sampled_from(SIZE_CHANGES + SAME_SIZE))
def test_dictionary_changed_while_read(which, entries, where, at, action):
    """Caller code that changes the dictionary being read, from a key, a
    value or a length: a change of size is always noticed before the next
    entry is taken; entries replaced in place are read as they now are."""
    keys = list(entries)
    target = keys[at % len(keys)]
    values = {k: [float(s) for s in v] if which == "sets_home" else list(v) for k, v in entries.items()}
    if which == "penalties":
        values = {k: len(v) for k, v in values.items()}
    hooked_value = values[target]
    if where == "value":
        kind = "float" if which == "sets_home" else "index"
        if which == "penalties":
            hooked_value = HOOK_CLASSES["index"]("index", hooked_value, action, None)
        else:
            hooked_value = [*hooked_value, HOOK_CLASSES[kind](kind, 1.0 if kind == "float" else 1, action, None)]
    elif where == "length" and which != "penalties":
        hooked_value = HookSequence(hooked_value, action, None, None, None)
    d = {}
    for k, v in values.items():
        if k == target and where == "key":
            d[HOOK_CLASSES["index"]("index", k, action, None)] = v
        else:
            d[k] = hooked_value if k == target else v
    args = {"sets_home": {}, "sets_forbidden": {}, "m": 0, "p": 1, "r_max": 2, "penalties": {}}
    args[which] = d
    SCENE.reset(dicts=[d])
    t, exc = call(lambda: tavelin.Tavelin(**args), label="Tavelin()")
    hook_ran = not (where == "length" and which == "penalties")
    if action in SIZE_CHANGES and hook_ran:
        assert type(exc) is Panic and exc.args == ("dictionary changed size during iteration",)
    elif exc is not None:
        assert type(exc) is TypeError or (
            type(exc) is Panic and exc.args == ("dictionary keys changed during iteration",))

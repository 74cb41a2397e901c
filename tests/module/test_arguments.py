"""Argument binding, the argument kinds and their exact error texts."""
import re

import numpy as np
import pytest

import tavelin
from support import empty_x, make

ARGS = ({}, {}, 0, 0, 0, {})


@pytest.fixture
def t():
    return make({0: [1.0, 2.0]})


@pytest.mark.parametrize("call, message", [
    (lambda t, x: t.solve(x, 0, 1), "Tavelin.solve() takes 2 positional arguments but 3 were given"),
    # too many positionals is reported before keywords are looked at
    (lambda t, x: t.solve(x, 0, 1, bogus=2), "Tavelin.solve() takes 2 positional arguments but 3 were given"),
    (lambda t, x: t.solve(x, team=1), "Tavelin.solve() got an unexpected keyword argument 'team'"),
    (lambda t, x: t.solve(x, x_py=x), "Tavelin.solve() got multiple values for argument 'x_py'"),
    (lambda t, x: t.solve(x), "Tavelin.solve() missing 1 required positional argument: 'team_idx'"),
    (lambda t, x: t.solve(), "Tavelin.solve() missing 2 required positional arguments: 'x_py' and 'team_idx'"),
    (lambda t, x: t.solve(team_idx=0), "Tavelin.solve() missing 1 required positional argument: 'x_py'"),
    (lambda t, x: t.create_cost_matrix(x, 0),
     "Tavelin.create_cost_matrix() missing 2 required positional arguments: 'set_home' and 'opponents'"),
    (lambda t, x: t.create_cost_matrix(x, 0, [], [], []),
     "Tavelin.create_cost_matrix() takes 4 positional arguments but 5 were given"),
    (lambda t, x: type(t)(), "Tavelin.__new__() missing 6 required positional arguments: "
     "'sets_home', 'sets_forbidden', 'm', 'p', 'r_max', and 'penalties'"),
    (lambda t, x: type(t)({}, {}, 0, 0, 0, {}, 1), "Tavelin.__new__() takes 6 positional arguments but 7 were given"),
    (lambda t, x: type(t)({}, {}, 0, 0, 0, {}, m=1), "Tavelin.__new__() got multiple values for argument 'm'"),
    (lambda t, x: type(t)({}, {}, 0, 0, 0, pens={}), "Tavelin.__new__() got an unexpected keyword argument 'pens'"),
    (lambda t, x: type(t)({}, {}, 0, r_max=0), "Tavelin.__new__() missing 2 required positional arguments: 'p' and 'penalties'"),
    # the first failing keyword decides
    (lambda t, x: t.solve(x, team=1, x_py=x), "Tavelin.solve() got an unexpected keyword argument 'team'"),
    (lambda t, x: t.solve(x, x_py=x, team=1), "Tavelin.solve() got multiple values for argument 'x_py'"),
])
def test_binding_errors(t, call, message):
    with pytest.raises(TypeError) as info:
        call(t, empty_x(2))
    assert type(info.value) is TypeError and str(info.value) == message


def test_keywords_bind_in_any_order(t):
    x = empty_x(2)
    assert t.solve(team_idx=0, x_py=x) == t.solve(x, team_idx=0)
    made = type(t)(penalties={}, r_max=0, p=0, m=0, sets_forbidden={}, sets_home={0: [1]})
    assert made.solve(x, 0) == 0.0


@pytest.mark.parametrize("position, value, message", [
    (0, [], "argument 'sets_home': 'list' object cannot be converted to 'PyDict'"),
    (1, None, "argument 'sets_forbidden': 'NoneType' object cannot be converted to 'PyDict'"),
    (5, [(1, 2)], "argument 'penalties': 'list' object cannot be converted to 'PyDict'"),
    (2, 1.5, "argument 'm': 'float' object cannot be interpreted as an integer"),
    (3, "3", "argument 'p': 'str' object cannot be interpreted as an integer"),
    (4, None, "argument 'r_max': 'NoneType' object cannot be interpreted as an integer"),
])
def test_constructor_argument_errors(position, value, message):
    args = list(ARGS)
    args[position] = value
    with pytest.raises(TypeError) as info:
        tavelin.Tavelin(*args)
    assert str(info.value) == message
    assert info.value.__cause__ is None and info.value.__suppress_context__


@pytest.mark.parametrize("value", [2**63, -2**63 - 1])
def test_integer_overflow_passes_through_unnamed(value):
    with pytest.raises(OverflowError) as info:
        make({}, {}, value, 0, 0, {})
    assert "argument" not in str(info.value)


@pytest.mark.parametrize("team_idx, error, message", [
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, None),
    (1.0, TypeError, "argument 'team_idx': 'float' object cannot be interpreted as an integer"),
    ("0", TypeError, "argument 'team_idx': 'str' object cannot be interpreted as an integer"),
])
def test_team_idx_conversion_errors(t, team_idx, error, message):
    with pytest.raises(error) as info:
        t.solve(empty_x(2), team_idx)
    assert type(info.value) is error
    if message:
        assert str(info.value) == message
    if error is OverflowError:
        assert "team_idx" not in str(info.value)


@pytest.mark.parametrize("team_idx", [True, np.int64(0) + 1, np.uint8(1)])
def test_team_idx_accepts_index_objects(team_idx):
    t = make({1: [3.0]})
    x = empty_x(2)
    assert t.solve(x, team_idx) == 0.0
    assert x[1, 0] == 3.0


@pytest.mark.parametrize("set_home, expected", [
    ((1, 2.5), [1.0, 2.5]),
    (range(3), [0.0, 1.0, 2.0]),
    (np.array([4.0, 5.0]), [4.0, 5.0]),
    ([np.float32(1.5), True], [1.5, 1.0]),
])
def test_list_kinds_accepted(set_home, expected):
    rows = make().create_cost_matrix(empty_x(1), 0, set_home, [])
    assert rows.shape == (len(expected), 0)


def test_bytes_is_a_list_of_integers():
    k = make().create_cost_matrix(empty_x(3), 0, [5.0], b"\x01\x02")
    assert k.shape == (1, 2)


@pytest.mark.parametrize("argument, value, message", [
    ("set_home", "123", "argument 'set_home': Can't extract `str` to `Vec`"),
    ("opponents", "12", "argument 'opponents': Can't extract `str` to `Vec`"),
    ("set_home", {1, 2}, "argument 'set_home': 'set' object cannot be converted to 'Sequence'"),
    ("opponents", (i for i in range(2)), "argument 'opponents': 'generator' object cannot be converted to 'Sequence'"),
    ("set_home", {1: 2}, "argument 'set_home': 'dict' object cannot be converted to 'Sequence'"),
    ("set_home", 5, "argument 'set_home': 'int' object cannot be converted to 'Sequence'"),
    ("set_home", [1, "a"], "argument 'set_home': must be real number, not str"),
    ("opponents", [0, 1.5], "argument 'opponents': 'float' object cannot be interpreted as an integer"),
])
def test_list_conversion_errors(argument, value, message):
    kwargs = {"set_home": [1.0], "opponents": [0]}
    kwargs[argument] = value
    with pytest.raises(TypeError) as info:
        make().create_cost_matrix(empty_x(2), 0, **kwargs)
    assert str(info.value) == message


def test_first_failing_argument_wins():
    with pytest.raises(TypeError, match="argument 'team_idx'"):
        make().create_cost_matrix(empty_x(2), 1.5, "bad", "bad")


class IndexRaises:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class TypeErrorChild(TypeError):
    pass


def test_only_exact_type_error_is_tagged():
    cause = KeyError("why")
    inner = TypeError("inner text")
    inner.__cause__ = cause
    with pytest.raises(TypeError) as info:
        make().create_cost_matrix(empty_x(2), IndexRaises(inner), [], [])
    assert str(info.value) == "argument 'team_idx': inner text"
    assert info.value.__cause__ is cause and info.value.__suppress_context__

    for exc in (TypeErrorChild("child"), ValueError("value"), ZeroDivisionError()):
        with pytest.raises(type(exc)) as info:
            make().create_cost_matrix(empty_x(2), IndexRaises(exc), [], [])
        assert info.value is exc


def test_caller_panic_is_resumed(Panic, capfd):
    original = Panic("raised by the caller")
    with pytest.raises(BaseException) as info:
        make().create_cost_matrix(empty_x(2), 0, [], [IndexRaises(original)])
    assert type(info.value) is Panic and info.value is not original
    assert info.value.args == ("raised by the caller",)
    err = capfd.readouterr().err
    assert "raised by the caller" in err and "Traceback" in err


class BadLen:
    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        raise self.exc

    def __getitem__(self, i):
        if i < 2:
            return float(i)
        raise IndexError


def test_length_hint_failure_is_ignored(Panic):
    k = make().create_cost_matrix(empty_x(1), 0, BadLen(ValueError()), [])
    assert k.shape == (2, 0)
    with pytest.raises(BaseException) as info:
        make().create_cost_matrix(empty_x(1), 0, BadLen(Panic("from len")), [])
    assert type(info.value) is Panic and info.value.args == ("from len",)


def test_iterator_error_passes_through():
    class Seq(BadLen):
        def __len__(self):
            return 3

        def __getitem__(self, i):
            raise RuntimeError("iteration broke")
    with pytest.raises(RuntimeError, match="^iteration broke$"):
        make().create_cost_matrix(empty_x(1), 0, Seq(None), [])


def test_diagnostic_names_place_in_source(Panic, capfd):
    with pytest.raises(BaseException) as info:
        make().solve(empty_x(2), 0)
    assert type(info.value) is Panic and info.value.args == ("team_idx not in sets_home",)
    err = capfd.readouterr().err.strip().splitlines()
    assert len(err) == 1
    assert re.search(r"src/\S+\.cpp:\d+", err[0]) and "team_idx not in sets_home" in err[0]

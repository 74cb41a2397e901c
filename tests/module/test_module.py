import importlib
import inspect
import pickle
import copy
import subprocess
import sys
import textwrap

import pytest

import tavelin


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=60)


def test_module_attributes():
    assert tavelin.__all__ == ["Tavelin"]
    assert tavelin.__doc__ == ""
    cls = tavelin.Tavelin
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("tavelin", "Tavelin", "Tavelin")
    assert cls.__doc__ in ("", None)
    assert cls.__text_signature__ == "(sets_home, sets_forbidden, m, p, r_max, penalties)"
    assert list(inspect.signature(cls).parameters) == [
        "sets_home", "sets_forbidden", "m", "p", "r_max", "penalties"]


@pytest.mark.parametrize("name, signature, doc", [
    ("solve", "($self, x_py, team_idx)",
     "Solve transportation problem for given home team.\nModifies X in-place and returns total_cost."),
    ("create_cost_matrix", "($self, x_py, team_idx, set_home, opponents)",
     "Create cost matrix (exposed for construction phase method 2)."),
])
def test_method_docs(name, signature, doc):
    method = getattr(tavelin.Tavelin, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_methods_in_order():
    names = [n for n in vars(tavelin.Tavelin) if not n.startswith("__")]
    assert names == ["solve", "create_cost_matrix"]


def test_reimport_returns_same_objects():
    module, cls = tavelin, tavelin.Tavelin
    del sys.modules["tavelin"]
    again = importlib.import_module("tavelin")
    assert again is module and again.Tavelin is cls
    assert again.__all__ == ["Tavelin"]


def test_class_is_closed():
    with pytest.raises(TypeError):
        type("Sub", (tavelin.Tavelin,), {})
    obj = tavelin.Tavelin({}, {}, 0, 0, 0, {})
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    assert repr(obj).startswith("<tavelin.Tavelin object at 0x")
    assert obj == obj and obj != tavelin.Tavelin({}, {}, 0, 0, 0, {})
    hash(obj)


@pytest.mark.parametrize("copier", [pickle.dumps, copy.copy, copy.deepcopy])
def test_instances_cannot_be_copied(copier):
    with pytest.raises(TypeError):
        copier(tavelin.Tavelin({}, {}, 0, 0, 0, {}))


def test_import_does_not_import_numpy():
    result = run_python("""
        import sys, tavelin
        assert "numpy" not in sys.modules
        t = tavelin.Tavelin({0: [1]}, {}, 0, 0, 0, {})
        try:
            t.solve(1, 2, 3)
        except TypeError:
            pass
        assert "numpy" not in sys.modules, "binding failure imported numpy"
        try:
            t.solve([[1.0]], 0)
        except TypeError:
            pass
        assert "numpy" in sys.modules
        print("ok")
    """)
    assert result.stdout.strip() == "ok", result.stderr


def test_second_interpreter_is_refused():
    result = run_python("""
        import tavelin
        try:
            import _testcapi
        except ImportError:
            print("skip")
            raise SystemExit
        print(_testcapi.run_in_subinterp("import tavelin"))
    """)
    if result.stdout.strip() == "skip":
        pytest.skip("_testcapi is not available")
    assert result.stdout.strip() == "-1", result.stderr
    assert "ImportError" in result.stderr and "sub-interpreters" in result.stderr


def test_internal_error_exception(Panic):
    assert Panic.__module__ == "velstra_runtime" and Panic.__name__ == "PanicException"
    assert Panic.__bases__ == (BaseException,)
    assert "BaseException" in Panic.__doc__
    assert not issubclass(Panic, Exception)
    assert not hasattr(tavelin, "PanicException")

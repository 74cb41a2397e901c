"""Every way into and out of the module, as argument-free calls.

`paths()` returns the objects the calls use (their reference counts must not
move) and one call per path: each success and each failure of the
constructor, `solve` and `create_cost_matrix`, including caller code that
raises, re-enters the module or changes what is being read. The reference
count test and the LeakSanitizer script both run them.
"""
import collections
import os
import sys

import numpy as np

import tavelin
from support import UNSCHEDULED, empty_x, panic_type

SANITIZED = os.environ.get("TAVELIN_SANITIZED") == "1"

# Paths whose failure is a refused allocation of the cost matrix or of the
# assignment matrix. Those are made with operator new, which under
# AddressSanitizer or valgrind ends the process instead of throwing
# std::bad_alloc, so they run only without them (TAVELIN_SANITIZED unset).
NEEDS_THROWING_NEW = {"solve: assignment too large for memory",
                      "create_cost_matrix: matrix too large for memory"}


class HookError(Exception):
    """Raised by the caller code in these paths."""


class Index:
    """An integer whose __index__ runs `action(self)` first."""

    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __index__(self):
        if self.action is not None:
            self.action(self)
        return self.value


class Float:
    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __float__(self):
        if self.action is not None:
            self.action(self)
        return self.value


class Seq:
    """A sequence with a lying or failing __len__ and a failing iterator."""

    def __init__(self, items, length=None, fail_at=None):
        self.items, self.length, self.fail_at = items, length, fail_at

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        if i == self.fail_at:
            raise HookError("item")
        return self.items[i]


def raise_(kind, *args):
    """An action raising a new exception each time (a reused one would
    collect a longer traceback with every raise)."""
    def action(_):
        raise kind(*args)
    return action


def paths():
    Panic = panic_type()
    n = 6
    x = empty_x(n)
    x[0, 3], x[2, 0], x[4, 1] = 2.0, 7.0, 11.0
    ro = x.copy()
    ro.flags.writeable = False
    strided = np.full((2 * n, 3 * n), UNSCHEDULED)[::2, ::3].T
    home = {i: [float(i), 10.0 + i, 20.0] for i in range(n)}
    home[5] = np.array([3.0, 9.0])
    forbidden = collections.OrderedDict({1: [3, 4], 2: (5,), 3: range(2)})
    penalties = {1: 5, 2: 2, 7: -1}
    t = tavelin.Tavelin(home, forbidden, 3, 50, 3, penalties)
    set_home, opponents = [1.0, 7.5, float("nan")], [1, 2, 3]
    empty, wide = np.full((0, 0), UNSCHEDULED), np.full((1, 1000), UNSCHEDULED)
    # 10^5 home slots make an assignment matrix of 2 * 10^10 cells, and 10^5
    # slots by 10^5 opponents a cost matrix of 10^10 cells: far beyond memory.
    huge_home = {0: [0.0] * 100_000}
    huge_t = tavelin.Tavelin(huge_home, {}, 0, 1, 0, {})
    huge_slots = [0.0] * 100_000
    opponents_of_one = [0] * 100_000
    one = empty_x(1)

    def growing():
        d = {}
        d[Index(1, lambda _: d.setdefault(99, []))] = []
        return d

    def replacing():
        d = {}

        def replace(key):  # same size, but always one more entry ahead
            del d[key]
            d[Index(1, replace)] = 1
        d[Index(1, replace)] = 1
        return d

    def resized(shape):
        own = empty_x(3)

        def resize(_):
            own.resize(shape, refcheck=False)
        return t.create_cost_matrix(own, Index(0, resize), [1.0], [1])

    def flag_cleared():
        own = empty_x(3)

        def clear(_):
            own.flags.writeable = False
        return t.solve(own, Index(0, clear))

    reenter = Index(0, lambda _: t.solve(x.copy(), 1))
    objects = (x, ro, strided, home, forbidden, penalties, t, set_home, opponents, empty, wide,
               huge_home, huge_t, huge_slots, opponents_of_one, one, reenter, tavelin.Tavelin, Panic)

    T = tavelin.Tavelin
    calls = {
        # constructor
        "new: ok": lambda: T(home, forbidden, 3, 50, 3, penalties),
        "new: keywords, dict subclasses": lambda: T(
            penalties=collections.Counter(penalties), r_max=2, p=1, m=0,
            sets_forbidden=collections.defaultdict(list), sets_home=home),
        "new: missing arguments": lambda: T(home, forbidden),
        "new: unexpected keyword": lambda: T(home, forbidden, 3, 50, 3, penalties, extra=1),
        "new: not a dict": lambda: T([], forbidden, 3, 50, 3, penalties),
        "new: float for an integer": lambda: T(home, forbidden, 1.5, 50, 3, penalties),
        "new: integer overflow": lambda: T(home, forbidden, 3, 2**63, 3, penalties),
        "new: negative key": lambda: T(home, {-1: []}, 3, 50, 3, penalties),
        "new: str value": lambda: T(home, {0: [1], 1: "x"}, 3, 50, 3, penalties),
        "new: set value": lambda: T({0: {1.0}}, forbidden, 3, 50, 3, penalties),
        "new: bad item in a later entry": lambda: T(home, {0: [1], 1: [2, 2.5]}, 3, 50, 3, penalties),
        "new: bad penalty": lambda: T(home, forbidden, 3, 50, 3, {1: 1, 2: None}),
        "new: capacity overflow": lambda: T(home, forbidden, 3, 50, 3, {1: 1, 2**61: 1}),
        "new: penalty table too large for memory": lambda: T(home, forbidden, 3, 50, 3, {10**12: 1}),
        "new: dictionary grows while read": lambda: T(growing(), {}, 0, 0, 0, {}),
        "new: dictionary keys replaced while read": lambda: T({}, {}, 0, 0, 0, replacing()),
        "new: key hook raises": lambda: T({Index(1, raise_(HookError)): []}, {}, 0, 0, 0, {}),
        "new: item hook raises the internal error": lambda: T(
            {0: [Float(1.0, raise_(Panic, "hook"))]}, {}, 0, 0, 0, {}),
        "new: length fails, items read": lambda: T({0: Seq([1.0, 2.0], ValueError())}, {}, 0, 0, 0, {}),
        "new: length lies": lambda: T({0: Seq([1.0, 2.0], 10**15)}, {}, 0, 0, 0, {}),
        "new: iteration fails": lambda: T({0: Seq([1.0, 2.0], fail_at=1)}, {}, 0, 0, 0, {}),
        # solve
        "solve: ok": lambda: t.solve(x, 0),
        "solve: ok through strides": lambda: t.solve(strided, 5),
        "solve: ok, numpy index, keywords": lambda: t.solve(team_idx=np.uint8(2), x_py=x),
        "solve: 0 x 0": lambda: T({0: [1.0]}, {}, 0, 0, 0, {}).solve(empty, 0),
        "solve: 1 x 1000": lambda: t.solve(wide, 0),
        "solve: not in sets_home": lambda: t.solve(x, 9),
        "solve: index out of bounds": lambda: T({7: [1.0]}, {}, 0, 0, 0, {}).solve(x, 7),
        "solve: read-only": lambda: t.solve(ro, 0),
        "solve: writeable flag cleared by a hook": flag_cleared,
        "solve: missing argument": lambda: t.solve(x),
        "solve: too many arguments": lambda: t.solve(x, 0, 1),
        "solve: unexpected keyword": lambda: t.solve(x, team=0),
        "solve: multiple values": lambda: t.solve(x, x_py=x),
        "solve: list for x_py": lambda: t.solve([[1.0]], 0),
        "solve: float32 x_py": lambda: t.solve(x.astype(np.float32), 0),
        "solve: negative team": lambda: t.solve(x, -1),
        "solve: float team": lambda: t.solve(x, 1.5),
        "solve: team hook raises": lambda: t.solve(x, Index(0, raise_(HookError))),
        "solve: team hook re-enters": lambda: t.solve(x, reenter),
        "solve: assignment too large for memory": lambda: huge_t.solve(one, 0),
        # create_cost_matrix
        "create_cost_matrix: ok": lambda: t.create_cost_matrix(x, 0, set_home, opponents),
        "create_cost_matrix: ok, read-only, empty result": lambda: t.create_cost_matrix(ro, 2, set_home, []),
        "create_cost_matrix: ok, 0 x 0": lambda: t.create_cost_matrix(empty, 3, set_home, []),
        "create_cost_matrix: ok, bytes and ranges": lambda: t.create_cost_matrix(x, 1, range(4), b"\x00\x02"),
        "create_cost_matrix: index out of bounds": lambda: t.create_cost_matrix(x, 0, set_home, [1, 6]),
        "create_cost_matrix: str": lambda: t.create_cost_matrix(x, 0, "12", opponents),
        "create_cost_matrix: generator": lambda: t.create_cost_matrix(x, 0, set_home, (i for i in [1])),
        "create_cost_matrix: bad item": lambda: t.create_cost_matrix(x, 0, [1.0, "a"], opponents),
        "create_cost_matrix: item hook raises": lambda: t.create_cost_matrix(
            x, 0, set_home, [1, Index(2, raise_(HookError))]),
        "create_cost_matrix: item hook raises TypeError": lambda: t.create_cost_matrix(
            x, 0, [Float(1.0, raise_(TypeError, "hook"))], opponents),
        "create_cost_matrix: team hook raises the internal error": lambda: t.create_cost_matrix(
            x, Index(0, raise_(Panic, "hook")), set_home, opponents),
        "create_cost_matrix: ok, array reallocated by a hook": lambda: resized((5, 5)),
        "create_cost_matrix: array reshaped by a hook": lambda: resized((9,)),
        "create_cost_matrix: wrong dtype": lambda: t.create_cost_matrix(x.astype(np.int64), 0, [], []),
        "create_cost_matrix: missing arguments": lambda: t.create_cost_matrix(x, 0),
        "create_cost_matrix: matrix too large for memory": lambda: t.create_cost_matrix(
            one, 0, huge_slots, opponents_of_one),
    }
    if SANITIZED:
        calls = {name: fn for name, fn in calls.items() if name not in NEEDS_THROWING_NEW}
    return objects, calls


def run(fn, times):
    for _ in range(times):
        try:
            fn()
        except BaseException:  # noqa: BLE001 - the internal-error exception too
            pass


if __name__ == "__main__":
    print(len(paths()[1]), "paths")
    sys.exit(0)

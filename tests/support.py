"""Helpers shared by the test modules (importable as `support`)."""
import io

import numpy as np

import tavelin

UNSCHEDULED = 9999.0
INFEASIBLE = 9999999.0


def make(sets_home=None, sets_forbidden=None, m=0, p=100, r_max=2, penalties=None):
    return tavelin.Tavelin(sets_home or {}, sets_forbidden or {}, m, p, r_max, penalties or {})


def empty_x(n):
    return np.full((n, n), UNSCHEDULED)


def panic_type():
    """The internal-error exception class, obtained from a failing call."""
    try:
        make().solve(empty_x(1), 0)
    except BaseException as exc:  # noqa: BLE001 - the class derives from BaseException
        return type(exc)
    raise AssertionError("solve without sets_home did not fail")


class Terminal(io.StringIO):
    """A text stream that says whether it is a terminal, for progress displays."""

    def __init__(self, tty):
        super().__init__()
        self.tty = tty

    def isatty(self):
        return self.tty

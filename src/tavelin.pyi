"""Exact placement of one team's home games in a double round-robin timetable.

The schedule matrix X is a two-dimensional float64 NumPy array: X[i][j] is
the slot in which team i hosts team j, 9999.0 marks a game without a slot.
"""

from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final, overload

import numpy as np
import numpy.typing as npt

__all__ = ["Tavelin"]

# A slot is any real number (NaN and infinities included); teams, gaps and
# penalties are integers. Wherever a sequence is taken, a one-dimensional
# NumPy array of such numbers is taken too; a str is refused.
_Slot: TypeAlias = SupportsFloat | SupportsIndex
_Slots: TypeAlias = Sequence[_Slot] | npt.NDArray[np.integer[Any] | np.floating[Any]]
_Integers: TypeAlias = Sequence[SupportsIndex] | npt.NDArray[np.integer[Any]]

# X is a float64 array. A type variable rather than the plain array type:
# mypy checks an argument such as np.zeros(..., dtype=np.float32) against the
# parameter's type as context and then lets it through as an array of any
# dtype; against a type variable's bound it infers the argument's own dtype.
_Float64Matrix = TypeVar("_Float64Matrix", bound=npt.NDArray[np.float64])

# The dictionaries must be dicts (or dict subclasses), whose types are
# invariant: a dict[int, list[int]] is no dict[SupportsIndex, Sequence[float]].
# Hence two forms of the constructor. The first takes dictionaries written in
# the call, whose items mypy infers against these types (a literal mixing
# [1, 4] and [2.5] is accepted); the second takes dictionaries of any precise
# types that fit, through type variables.
_Team = TypeVar("_Team", bound=SupportsIndex)
_ForbiddenTeam = TypeVar("_ForbiddenTeam", bound=SupportsIndex)
_Gap = TypeVar("_Gap", bound=SupportsIndex)
_HomeSlots = TypeVar("_HomeSlots", bound=_Slots)
_ForbiddenSlots = TypeVar("_ForbiddenSlots", bound=_Integers)
_Penalty = TypeVar("_Penalty", bound=SupportsIndex)

@final
class Tavelin:
    """One timetabling problem: home slots, forbidden slots, parameters and
    penalties, converted once; then any number of solve and
    create_cost_matrix calls.

    Failures raise TypeError or OverflowError (arguments), ValueError (a
    read-only X given to solve), MemoryError, or velstra_runtime.PanicException,
    which derives from BaseException: catch it with `except BaseException`.
    """

    @overload
    def __new__(
        cls,
        sets_home: dict[SupportsIndex, _Slots],
        sets_forbidden: dict[SupportsIndex, _Integers],
        m: SupportsIndex,
        p: SupportsIndex,
        r_max: SupportsIndex,
        penalties: dict[SupportsIndex, SupportsIndex],
    ) -> Tavelin:
        """sets_home: team -> its home slots, in the order solve uses them.
        sets_forbidden: team -> slots in which it may not play.
        m: least distance between the two games of a pair.
        p: price of leaving a game without a slot.
        r_max: two games of one team lie at least r_max - 1 slots apart.
        penalties: gap between two games of a team -> its price.
        """
    @overload
    def __new__(
        cls,
        sets_home: dict[_Team, _HomeSlots],
        sets_forbidden: dict[_ForbiddenTeam, _ForbiddenSlots],
        m: SupportsIndex,
        p: SupportsIndex,
        r_max: SupportsIndex,
        penalties: dict[_Gap, _Penalty],
    ) -> Tavelin: ...
    def solve(self, x_py: _Float64Matrix, team_idx: SupportsIndex) -> float:
        """Solve transportation problem for given home team.
        Modifies X in-place and returns total_cost."""

    def create_cost_matrix(
        self, x_py: _Float64Matrix, team_idx: SupportsIndex, set_home: _Slots, opponents: _Integers
    ) -> npt.NDArray[np.float64]:
        """Create cost matrix (exposed for construction phase method 2)."""

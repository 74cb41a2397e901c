"""The fixed set of generated leagues on which changes of the search are judged,
beside the ten shipped IF instances: each is a seed and a ``Shape``, so the
same leagues come out on every machine.

They cover what the IF family varies: 13, 14 and 15 teams; venues open every
other week, every week or on two weekdays, with few or many days to spare;
few or many weeks off; other hard and soft rest windows and separations; and
leagues that cannot be played in full.
"""

from __future__ import annotations

from dataclasses import replace
from pathlib import Path

from league import Shape, variant
from robinx import Instance, RestWindow, read_instance

SHIPPED = Path(__file__).resolve().parent / "instances"

IF = Shape()
FAMILY: dict[str, tuple[int, Shape]] = {
    "G1": (101, IF),
    "G2": (102, IF),
    "G3": (103, replace(IF, n_teams=13, spare=(0, 2), holidays=5, days_off=20)),
    "G4": (104, replace(IF, n_teams=14, spare=(0, 2), holidays=5, days_off=20)),
    "G5": (105, replace(IF, weekly=0.5, second_day=0.2)),  # many venue days
    "G6": (106, replace(IF, weekly=0.0, spare=(0, 1))),  # venue days just enough
    "G7": (107, replace(IF, holidays=5, days_off=20)),  # many days off
    "G8": (108, replace(IF, windows=(RestWindow(5, 2, True, 1), RestWindow(2, 1, False, 4),
                                     RestWindow(3, 1, False, 2), RestWindow(5, 1, False, 1)))),
    "G9": (109, replace(IF, windows=(RestWindow(3, 2, True, 1), RestWindow(2, 1, False, 5),
                                     RestWindow(3, 1, False, 2), RestWindow(5, 1, False, 1)),
                        separation=40, spare=(0, 2))),
    "G10": (110, replace(IF, separation=80, spare=(2, 6))),
    "G11": (111, replace(IF, short=1)),  # cannot be played in full
    "G12": (112, replace(IF, n_teams=14, stranded=1)),  # nor these
    "G13": (113, replace(IF, short=1, stranded=2, spare=(0, 2))),
    "G14": (114, replace(IF, n_teams=13, short=2, stranded=1, holidays=5, days_off=20)),
}


def family_instance(name: str) -> Instance:
    seed, shape = FAMILY[name]
    return replace(variant(seed, shape), name=name)


def named_instance(name: str) -> Instance:
    """A generated league of the family (G1, ...) or a shipped instance (IF1, ...)."""
    return family_instance(name) if name in FAMILY else read_instance(SHIPPED / f"{name}.xml")

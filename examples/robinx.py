"""RobinX instances of time-relaxed double round robins: reading them, and
reading and writing their solutions.

Only the part of the RobinX format that the example scheduler can honour is
accepted: a double round robin (every ordered pair meets once, the first team
at home) on a time-relaxed calendar, with three kinds of constraint:

* CA1 (hard, max 0): a team plays no home game (mode H) or no game at all
  (mode HA) in the listed slots;
* CA3 (mode HA over SLOTS, every team against every team): in every window of
  ``intp`` consecutive slots a team plays at most ``max`` games;
* SE1 (hard, every pair of teams): at least ``min`` slots lie strictly between
  the two mutual games.

Anything else (another constraint kind, mode, type, format, or data the
objective would need) is refused with a ``RobinXError`` that names the element.
A file is either read whole or not at all: the reader builds nothing that the
caller can see until every element has been checked.
"""

from __future__ import annotations

import errno
import os
import secrets
import xml.etree.ElementTree as ET
from dataclasses import dataclass
from pathlib import Path

import numpy as np

# The marker of a game without a slot in a schedule matrix.
UNSCHEDULED = 9999.0

# Best objective values published for the IF family (all with infeasibility
# 0, except that IF1 cannot go below infeasibility 1 as published: its team 14
# has 14 home games and only 13 home days).
RECORDED_BEST = {
    "IF1": 0, "IF2": 80, "IF3": 58, "IF4": 54, "IF5": 52,
    "IF6": 39, "IF7": 38, "IF8": 0, "IF9": 35, "IF10": 28,
}


class RobinXError(ValueError):
    """A file that is not a RobinX document of the supported kind."""


@dataclass(frozen=True)
class Availability:
    """CA1: ``team`` plays no game of ``mode`` ("H" home, "HA" any) in ``slots``."""

    team: int
    mode: str
    slots: frozenset[int]


@dataclass(frozen=True)
class RestWindow:
    """CA3: at most ``max`` games of a team in any ``intp`` consecutive slots."""

    intp: int
    max: int
    hard: bool
    penalty: int


@dataclass(frozen=True)
class Separation:
    """SE1 (hard): between ``min`` and ``max`` slots strictly between mutual games."""

    min: int
    max: int


@dataclass(frozen=True)
class Instance:
    name: str
    n_teams: int
    n_slots: int
    availability: tuple[Availability, ...]
    windows: tuple[RestWindow, ...]
    separations: tuple[Separation, ...]

    @property
    def n_games(self) -> int:
        return self.n_teams * (self.n_teams - 1)

    def unavailable(self, team: int) -> frozenset[int]:
        """Slots in which ``team`` may not play at all."""
        return frozenset().union(
            *(a.slots for a in self.availability if a.team == team and a.mode == "HA"))

    def home_slots(self, team: int) -> list[int]:
        """Slots in which ``team`` may host a game, ascending."""
        closed = frozenset().union(
            *(a.slots for a in self.availability if a.team == team))
        return [s for s in range(self.n_slots) if s not in closed]

    @property
    def recorded_best(self) -> int | None:
        return RECORDED_BEST.get(self.name)


# --------------------------------------------------------------------------
# Reading instances


def _fail(source: str, element: ET.Element | str, why: str) -> RobinXError:
    tag = element if isinstance(element, str) else element.tag
    return RobinXError(f"{source}: <{tag}>: {why}")


def _int_attr(source: str, element: ET.Element, name: str, default: int | None = None) -> int:
    text = element.get(name)
    if text is None:
        if default is None:
            raise _fail(source, element, f'missing attribute "{name}"')
        return default
    try:
        return int(text)
    except ValueError:
        raise _fail(source, element, f'attribute {name}="{text}" is not an integer') from None


def _int_list(source: str, element: ET.Element, name: str) -> list[int]:
    text = element.get(name)
    if text is None or not text.strip():
        return []
    try:
        return [int(part) for part in text.split(";") if part.strip()]
    except ValueError:
        raise _fail(source, element, f'attribute {name}="{text}" is not a list of integers') from None


def _require_empty(source: str, parent: ET.Element | None, *paths: str) -> None:
    if parent is None:
        return
    for path in paths:
        element = parent.find(path)
        if element is not None and (len(element) or (element.text or "").strip()):
            raise _fail(source, element, "is not supported (it must be empty)")


def _ids(source: str, root: ET.Element, path: str, tag: str) -> list[ET.Element]:
    """The elements ``tag`` under ``path``, checked to carry ids 0..k-1."""
    container = root.find(path)
    if container is None:
        raise _fail(source, path.rsplit("/", 1)[-1], "is missing")
    items = list(container)
    for item in items:
        if item.tag != tag:
            raise _fail(source, item, f"is not supported inside <{container.tag}>")
    ids = sorted(_int_attr(source, item, "id") for item in items)
    if not items:
        raise _fail(source, container, f"has no <{tag}>")
    if ids != list(range(len(items))):
        raise _fail(source, container, f"{tag} ids must be 0..{len(items) - 1}, each once")
    return items


def _all_teams(source: str, element: ET.Element, group_attr: str, team_attr: str,
               groups: dict[int, set[int]], n_teams: int) -> None:
    """Refuses a constraint that does not apply to every team."""
    covered: set[int] = set()
    for g in _int_list(source, element, group_attr):
        if g not in groups:
            raise _fail(source, element, f"team group {g} is not defined")
        covered |= groups[g]
    covered |= set(_int_list(source, element, team_attr))
    if covered != set(range(n_teams)):
        raise _fail(source, element,
                    f"only constraints on all teams are supported ({group_attr}/{team_attr})")


def _constraint_type(source: str, element: ET.Element) -> str:
    kind = element.get("type")
    if kind not in ("HARD", "SOFT"):
        raise _fail(source, element, f'type="{kind}" is not supported (HARD or SOFT)')
    return kind


def _read_ca1(source, element, n_teams, n_slots) -> list[Availability]:
    if _constraint_type(source, element) != "HARD":
        raise _fail(source, element, "only HARD is supported")
    mode = element.get("mode")
    if mode not in ("H", "HA"):
        raise _fail(source, element, f'mode="{mode}" is not supported (H or HA)')
    if _int_attr(source, element, "max") != 0 or _int_attr(source, element, "min", 0) != 0:
        raise _fail(source, element, 'only max="0" (and min="0") is supported')
    teams = _int_list(source, element, "teams")
    if not teams:
        raise _fail(source, element, 'attribute "teams" names no team')
    for t in teams:
        if not 0 <= t < n_teams:
            raise _fail(source, element, f"team {t} is outside 0..{n_teams - 1}")
    slots = _int_list(source, element, "slots")
    for s in slots:
        if not 0 <= s < n_slots:
            raise _fail(source, element, f"slot {s} is outside 0..{n_slots - 1}")
    return [Availability(t, mode, frozenset(slots)) for t in teams]


def _read_ca3(source, element, groups, n_teams, n_slots) -> RestWindow:
    hard = _constraint_type(source, element) == "HARD"
    if element.get("mode1") != "HA" or element.get("mode2") != "SLOTS":
        raise _fail(source, element, 'only mode1="HA" with mode2="SLOTS" is supported')
    _all_teams(source, element, "teamGroups1", "teams1", groups, n_teams)
    _all_teams(source, element, "teamGroups2", "teams2", groups, n_teams)
    intp = _int_attr(source, element, "intp")
    most = _int_attr(source, element, "max")
    if _int_attr(source, element, "min", 0) != 0:
        raise _fail(source, element, 'only min="0" is supported')
    if not 1 <= intp <= n_slots:
        raise _fail(source, element, f"intp={intp} is outside 1..{n_slots}")
    if most < 1:
        raise _fail(source, element, f"max={most} is not supported (at least 1)")
    penalty = _int_attr(source, element, "penalty", 1)
    if penalty < 0:
        raise _fail(source, element, f"penalty={penalty} is negative")
    return RestWindow(intp, most, hard, penalty)


def _read_se1(source, element, groups, n_teams) -> Separation:
    if _constraint_type(source, element) != "HARD":
        raise _fail(source, element, "only HARD is supported")
    _all_teams(source, element, "teamGroups", "teams", groups, n_teams)
    low = _int_attr(source, element, "min", 0)
    high = _int_attr(source, element, "max")
    if low < 0 or high < low:
        raise _fail(source, element, f"min={low}, max={high} is not a range")
    return Separation(low, high)


_CONSTRAINT_GROUPS = {
    "BasicConstraints": (), "CapacityConstraints": ("CA1", "CA3"),
    "GameConstraints": (), "BreakConstraints": (), "FairnessConstraints": (),
    "SeparationConstraints": ("SE1",),
}


def _parse_document(text: str | bytes, source: str, tag: str, what: str) -> ET.Element:
    """The root element of a RobinX document, which must be <tag>."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError as exc:
        raise RobinXError(f"{source}: not well-formed XML: {exc}") from None
    if root.tag != tag:
        raise _fail(source, root, f"is not a RobinX {what} (root must be <{tag}>)")
    return root


def parse_instance(text: str | bytes, source: str = "<instance>", name: str | None = None) -> Instance:
    """Reads a RobinX instance from the document ``text``."""
    root = _parse_document(text, source, "Instance", "instance")

    found = root.findtext("MetaData/InstanceName")
    name = (found or "").strip() or name or "instance"

    fmt = root.find("Structure/Format")
    if fmt is None:
        raise _fail(source, "Format", "is missing")
    for child in fmt:
        if child.tag not in ("numberRoundRobin", "compactness"):
            raise _fail(source, child, "is not supported inside <Format>")
    if (fmt.findtext("numberRoundRobin") or "").strip() != "2":
        raise _fail(source, "numberRoundRobin", "only a double round robin (2) is supported")
    if (fmt.findtext("compactness") or "").strip() != "R":
        raise _fail(source, "compactness", "only time-relaxed schedules (R) are supported")
    _require_empty(source, root.find("Structure"), "AdditionalGames")
    objective = (root.findtext("ObjectiveFunction/Objective") or "SC").strip()
    if objective != "SC":
        raise _fail(source, "Objective", f'"{objective}" is not supported (SC)')
    _require_empty(source, root.find("Data"), "Distances", "COEWeights", "Costs")
    _require_empty(source, root.find("Resources"), "SlotGroups", "LeagueGroups")

    teams = _ids(source, root, "Resources/Teams", "team")
    n_teams = len(teams)
    n_slots = len(_ids(source, root, "Resources/Slots", "slot"))
    if n_teams < 2:
        raise _fail(source, "Teams", "a league needs at least two teams")
    groups: dict[int, set[int]] = {}
    for team in teams:
        for g in _int_list(source, team, "teamGroups"):
            groups.setdefault(g, set()).add(_int_attr(source, team, "id"))
    declared = root.find("Resources/TeamGroups")
    for g in declared if declared is not None else ():
        groups.setdefault(_int_attr(source, g, "id"), set())

    availability: list[Availability] = []
    windows: list[RestWindow] = []
    separations: list[Separation] = []
    constraints = root.find("Constraints")
    for group in constraints if constraints is not None else ():
        if group.tag not in _CONSTRAINT_GROUPS:
            raise _fail(source, group, "is not a supported constraint group")
        for element in group:
            if element.tag not in _CONSTRAINT_GROUPS[group.tag]:
                raise _fail(source, element,
                            "constraint is not supported (only CA1, CA3 and SE1)")
            if element.tag == "CA1":
                availability += _read_ca1(source, element, n_teams, n_slots)
            elif element.tag == "CA3":
                windows.append(_read_ca3(source, element, groups, n_teams, n_slots))
            else:
                separations.append(_read_se1(source, element, groups, n_teams))

    return Instance(name, n_teams, n_slots, tuple(availability), tuple(windows),
                    tuple(separations))


def read_instance(path: str | os.PathLike) -> Instance:
    """Reads the RobinX instance file at ``path``."""
    path = Path(path)
    try:
        data = path.read_bytes()
    except OSError as exc:
        raise RobinXError(f"{path}: cannot be read: {exc.strerror}") from None
    return parse_instance(data, str(path), name=path.stem)


# --------------------------------------------------------------------------
# Solutions


def scheduled_games(x: np.ndarray) -> list[tuple[int, int, int]]:
    """(home, away, slot) of every game that has a slot, by slot then teams."""
    games = []
    n = x.shape[0]
    for i in range(n):
        for j in range(n):
            if i != j and not np.isnan(x[i, j]) and x[i, j] != UNSCHEDULED:
                games.append((i, j, int(x[i, j])))
    games.sort(key=lambda g: (g[2], g[0], g[1]))
    return games


def solution_xml(instance: Instance, x: np.ndarray, infeasibility: int, objective: int) -> str:
    """The RobinX solution document for schedule ``x``."""
    root = ET.Element("Solution")
    meta = ET.SubElement(root, "MetaData")
    ET.SubElement(meta, "InstanceName").text = instance.name
    ET.SubElement(meta, "SolutionName").text = f"{instance.name}_tavelin"
    ET.SubElement(meta, "ObjectiveValue",
                  infeasibility=str(int(infeasibility)), objective=str(int(objective)))
    games = ET.SubElement(root, "Games")
    for home, away, slot in scheduled_games(x):
        ET.SubElement(games, "ScheduledMatch", home=str(home), away=str(away), slot=str(slot))
    ET.indent(root)
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def write_solution(path: str | os.PathLike, instance: Instance, x: np.ndarray,
                   infeasibility: int, objective: int) -> None:
    """Writes the solution to ``path`` atomically: readers see the old file or the whole new one.

    The file gets the mode of any new file (0666 less the umask), so that
    others can read it where the umask lets them."""
    path = Path(path)
    text = solution_xml(instance, x, infeasibility, objective)
    fd, tmp = _create_beside(path)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def _create_beside(path: Path) -> tuple[int, Path]:
    """Creates a new empty file in the folder of ``path`` (a rename within one
    file system is atomic) and opens it for writing. Unlike tempfile.mkstemp,
    which always makes 0600 files, it leaves the mode to the umask."""
    for _ in range(100):
        tmp = path.with_name(f".{path.name}.{secrets.token_hex(4)}.tmp")
        try:
            return os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666), tmp
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, "no free name for a temporary file", str(path.parent))


def parse_solution(text: str | bytes, instance: Instance, source: str = "<solution>") -> np.ndarray:
    """The schedule matrix of a RobinX solution document (9999.0 for games it omits)."""
    root = _parse_document(text, source, "Solution", "solution")
    n, slots = instance.n_teams, instance.n_slots
    x = np.full((n, n), UNSCHEDULED)
    for match in root.iterfind("Games/ScheduledMatch"):
        home = _int_attr(source, match, "home")
        away = _int_attr(source, match, "away")
        slot = _int_attr(source, match, "slot")
        if not (0 <= home < n and 0 <= away < n) or home == away:
            raise _fail(source, match, f"home={home} away={away} is not a game of {n} teams")
        if not 0 <= slot < slots:
            raise _fail(source, match, f"slot {slot} is outside 0..{slots - 1}")
        if x[home, away] != UNSCHEDULED:
            raise _fail(source, match, f"game {home}-{away} is scheduled twice")
        x[home, away] = slot
    return x


def read_solution(path: str | os.PathLike, instance: Instance) -> np.ndarray:
    path = Path(path)
    try:
        data = path.read_bytes()
    except OSError as exc:
        raise RobinXError(f"{path}: cannot be read: {exc.strerror}") from None
    return parse_solution(data, instance, str(path))

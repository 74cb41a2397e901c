"""A picture of a search: the timetable it found and how its best schedule
improved over time, drawn with matplotlib into one PNG.

The upper panel has a row per team and a column per slot: home and away
games, the days the team's venue is open, the days the team cannot play, and
a mark on every rule the timetable breaks (see ``violations``). The lower
panel follows the best infeasibility and objective the search reported.

matplotlib is optional: ``require_matplotlib`` says how to install it.
"""

from __future__ import annotations

import sys
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from robinx import UNSCHEDULED, Instance
from scheduler import Progress
from violations import Violation, violations

# Cell kinds of the timetable, drawn in these colours.
NOTHING, VENUE, UNAVAILABLE, HOME, AWAY = range(5)
CELL_COLOURS = ("#ffffff", "#b5dfae", "#c4c4c4", "#1f4e8c", "#f2a541")
CELL_NAMES = ("", "venue open, no game", "team unavailable", "home game", "away game")
MARK = "#d7191c"  # broken hard rules
SOFT_MARK = "#7b3294"  # short rests (soft rule)


class PlotUnavailable(RuntimeError):
    """matplotlib is not installed; the message says how to install it."""


def require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise PlotUnavailable(
            "--plot needs matplotlib, which is not installed here; install it with: "
            f"{sys.executable} -m pip install 'matplotlib>=3.8'") from None


@dataclass
class History:
    """The best (infeasibility, objective) over time; pass it as the search's
    ``report`` callback."""

    points: list[tuple[float, int, int]] = field(default_factory=list)

    def __call__(self, progress: Progress) -> None:
        self.points.append((progress.elapsed, progress.infeasibility, progress.objective))


def cells(instance: Instance, x: np.ndarray) -> np.ndarray:
    """kinds[t][s]: what team t's row shows in slot s."""
    n, slots = instance.n_teams, instance.n_slots
    kinds = np.full((n, slots), NOTHING)
    for t in range(n):
        kinds[t, instance.home_slots(t)] = VENUE
        kinds[t, sorted(instance.unavailable(t))] = UNAVAILABLE
    for i in range(n):
        for j in range(n):
            s = x[i, j]
            if i != j and not np.isnan(s) and s != UNSCHEDULED:
                kinds[i, int(s)] = HOME
                kinds[j, int(s)] = AWAY
    return kinds


def rule_label(instance: Instance, rule: str) -> str:
    if rule == "clashes":
        return "two games on one day"
    if rule == "CA1":
        return "game on a closed or unavailable day"
    if rule == "CA3 hard":
        hard = [w for w in instance.windows if w.hard]
        return " / ".join(f"more than {w.max} games in {w.intp} days" for w in hard)
    if rule == "SE1":
        return f"return game fewer than {min(r.min for r in instance.separations)} days apart"
    return rule


# matplotlib marker of each hard rule, drawn on the cells of its games
MARKERS = {"clashes": "X", "CA1": "s", "CA3 hard": "^", "SE1": "D"}


def mark_violations(ax, instance: Instance, found: list[Violation]) -> None:
    n_slots = instance.n_slots
    for rule, marker in MARKERS.items():
        points = {(s, t) for v in found if v.rule == rule for t in v.teams for s in v.slots}
        if points:
            xs, ys = zip(*sorted(points))
            ax.scatter(xs, ys, marker=marker, s=46, facecolors="none", edgecolors=MARK,
                       linewidths=1.4, label=rule_label(instance, rule), zorder=3)
    rests = {(v.teams[0], min(v.slots), max(v.slots)) for v in found if v.rule == "CA3 soft"}
    for k, (t, first, last) in enumerate(sorted(rests)):
        ax.plot([first - 0.4, last + 0.4], [t + 0.36, t + 0.36], color=SOFT_MARK, linewidth=2.2,
                solid_capstyle="butt", label="short rest (soft rule: objective)" if k == 0 else None,
                zorder=3)
    # Games without a slot have no cell: they are named at the end of both teams' rows.
    missing: dict[int, list[str]] = {}
    for v in found:
        if v.rule == "unscheduled":
            for t in v.teams:
                missing.setdefault(t, []).append(f"{v.teams[0]} v {v.teams[1]}")
    for t, games in missing.items():
        ax.text(n_slots + 2, t, "no slot: " + ", ".join(games), color=MARK, va="center",
                fontsize=8, fontweight="bold")


def draw_timetable(ax, instance: Instance, x: np.ndarray) -> None:
    from matplotlib.colors import ListedColormap
    from matplotlib.patches import Patch

    n, n_slots = instance.n_teams, instance.n_slots
    ax.imshow(cells(instance, x), cmap=ListedColormap(CELL_COLOURS), vmin=0, vmax=len(CELL_COLOURS) - 1,
              aspect="auto", interpolation="nearest", extent=(-0.5, n_slots - 0.5, n - 0.5, -0.5))
    for boundary in np.arange(0.5, n - 1, 1.0):  # thin white lines between the teams' rows
        ax.axhline(boundary, color="white", linewidth=0.8)
    mark_violations(ax, instance, violations(instance, x))
    ax.set_xlim(-0.5, n_slots + 22)
    ax.set_ylim(n - 0.5, -0.5)
    ax.set_yticks(range(n), [f"team {t}" for t in range(n)], fontsize=8)
    ax.set_xticks(range(0, n_slots, 28))
    ax.set_xlabel("slot (day of the season)")
    ax.tick_params(axis="x", labelsize=8)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    handles = [Patch(facecolor=CELL_COLOURS[k], edgecolor="#999999", label=CELL_NAMES[k])
               for k in (HOME, AWAY, VENUE, UNAVAILABLE)]
    marks, labels = ax.get_legend_handles_labels()
    ax.legend(handles=handles + marks, labels=[h.get_label() for h in handles] + labels,
              loc="lower left", bbox_to_anchor=(0.0, 1.0), ncol=4 + max(len(marks), 1),
              fontsize=8, frameon=False, borderaxespad=0.3, handlelength=1.4, columnspacing=1.2)


def draw_progress(ax, points: list[tuple[float, int, int]]) -> None:
    from matplotlib.ticker import FuncFormatter, MaxNLocator

    seconds = [p[0] for p in points]
    ax.step(seconds, [p[1] for p in points], where="post", color=MARK, linewidth=1.6)
    ax.set_ylabel("infeasibility", color=MARK)
    ax.tick_params(axis="y", colors=MARK)
    ax.set_ylim(bottom=0, top=max(max((p[1] for p in points), default=0) * 1.15, 1))
    ax.yaxis.set_major_locator(MaxNLocator(integer=True))
    # Most of the improvement comes in the first seconds: a logarithmic time
    # axis shows it without squeezing the rest of the run.
    if seconds and seconds[0] > 0 and seconds[-1] > 10 * seconds[0]:
        ax.set_xscale("log")
        ax.xaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
        ax.set_xlim(seconds[0] / 1.2, seconds[-1] * 1.2)
        ax.set_xlabel("seconds of search (logarithmic)")
    else:
        ax.set_xlim(left=0)
        ax.set_xlabel("seconds of search")
    right = ax.twinx()
    right.step(seconds, [p[2] for p in points], where="post", color="#1f4e8c", linewidth=1.6)
    right.set_ylabel("objective", color="#1f4e8c")
    right.tick_params(axis="y", colors="#1f4e8c")
    if points:
        last = points[-1]
        right.annotate(f"{last[2]}", (last[0], last[2]), textcoords="offset points", xytext=(4, 4),
                       color="#1f4e8c", fontsize=8)
    ax.grid(axis="x", color="#e0e0e0", linewidth=0.6)
    ax.set_title("best schedule so far", fontsize=9, loc="left")


def draw(path: str | Path, instance: Instance, x: np.ndarray,
         points: list[tuple[float, int, int]], title: str) -> None:
    """Writes the picture of schedule ``x`` and the search ``points``
    ((seconds, infeasibility, objective), in time order) as a PNG to ``path``."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=(16, 8.5), dpi=100, layout="constrained")
    top, bottom = figure.subplots(2, 1, height_ratios=(3.2, 1))
    draw_timetable(top, instance, x)
    draw_progress(bottom, points)
    figure.suptitle(title, fontsize=12, x=0.01, ha="left")
    figure.savefig(path, format="png")

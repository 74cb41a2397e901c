"""Proven floors of the infeasibility: the fewest games without a slot that
any schedule can have (``exact``), kept for the shipped and the generated
instances in ``floors.json`` so that neither the search nor the tables need
OR-Tools.

    python examples/floors.py                 # recompute every floor (needs ortools)
    python examples/floors.py IF1 G13         # some of them
    python examples/floors.py --show          # print what is kept

An entry holds for the instance it was computed for: a change of the file (or
of the generator) changes the instance's fingerprint, and the entry no longer
applies.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bounds import infeasibility_bound  # noqa: E402
from robinx import Instance  # noqa: E402

FLOORS_FILE = Path(__file__).resolve().parent / "floors.json"


def fingerprint(instance: Instance) -> str:
    """A digest of everything that makes the instance, in a fixed order."""
    canonical = (instance.name, instance.n_teams, instance.n_slots,
                 sorted((a.team, a.mode, sorted(a.slots)) for a in instance.availability),
                 instance.windows, instance.separations)
    return hashlib.sha256(repr(canonical).encode()).hexdigest()[:16]


def _kept() -> dict[str, dict]:
    try:
        return json.loads(FLOORS_FILE.read_text())
    except (OSError, ValueError):
        return {}


def known_floor(instance: Instance) -> int | None:
    """The proven floor of ``instance``'s infeasibility, if one is kept."""
    entry = _kept().get(instance.name)
    if entry and entry["fingerprint"] == fingerprint(instance) and entry["proven"]:
        return int(entry["floor"])
    return None


def compute(instance: Instance, seconds: float) -> dict:
    from exact import fewest_missing
    from scheduler import Search

    # The search's schedule gives the solver a start, and is the proof
    # itself when it reaches the lower bound.
    bound = infeasibility_bound(instance)
    result = Search(instance, seed=1).run(min(10.0, seconds), target=(bound, 0))
    if result.infeasibility == bound:
        floor, proven, spent, how = bound, True, 0.0, "bound reached"
    else:
        found = fewest_missing(instance, seconds, hint=result.x)
        floor, proven, spent, how = found.lowest, found.proven, found.seconds, "exact model"
    return {"fingerprint": fingerprint(instance), "bound": bound, "floor": floor,
            "proven": proven, "by": how, "solver_seconds": round(spent, 1)}


def main(argv: list[str] | None = None) -> int:
    from exact import MissingSolver
    from family import FAMILY, named_instance as load

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*", help="instances (default: IF1-IF10 and the generated family)")
    parser.add_argument("--seconds", type=float, default=300.0, help="solver time per instance (default: 300)")
    parser.add_argument("--show", action="store_true", help="only print the floors kept")
    args = parser.parse_args(argv)
    names = args.names or [f"IF{k}" for k in range(1, 11)] + list(FAMILY)
    kept = _kept()
    for name in names:
        if not args.show:
            try:
                kept[name] = compute(load(name), args.seconds)
            except MissingSolver as exc:
                print(f"floors: {exc}", file=sys.stderr)
                return 2
            FLOORS_FILE.write_text(json.dumps(kept, indent=1, sort_keys=True) + "\n")
        entry = kept.get(name)
        if entry:
            print(f"{name}: lower bound {entry['bound']}, floor {entry['floor']} "
                  f"({'proven, ' + entry['by'] if entry['proven'] else 'not proven'})", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

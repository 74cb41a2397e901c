"""A lower bound on the games that no schedule of an instance can place.

Every game of team t needs its own slot: a home game one of t's home slots, an
away game at g one of g's home slots in which t may play. The most of t's
games that can have a slot at all is a maximum matching of its games to those
slots; when it falls short of all 2(n - 1) games, the shortfall is t's
deficit. A game without a slot lowers the deficits of at most two teams, its
own two, so at least ceil(sum of deficits / 2) games stay without a slot in
any schedule. Mutual separation and rest windows only make things worse, so
the bound holds for every schedule.
"""

from __future__ import annotations

from dataclasses import dataclass

from robinx import Instance


@dataclass(frozen=True)
class Shortfall:
    team: int
    deficit: int
    # A set of the team's games (("home", g) or ("away", g)) and the fewer
    # slots that are all they can use between them: the proof of the deficit.
    games: tuple[tuple[str, int], ...]
    slots: tuple[int, ...]


def _max_matching(options: list[set[int]]) -> dict[int, int]:
    """Slot -> game index of a maximum matching (augmenting paths)."""
    owner: dict[int, int] = {}

    def augment(game: int, seen: set[int]) -> bool:
        for slot in sorted(options[game]):
            if slot in seen:
                continue
            seen.add(slot)
            if slot not in owner or augment(owner[slot], seen):
                owner[slot] = game
                return True
        return False

    for game in range(len(options)):
        augment(game, set())
    return owner


def team_shortfall(instance: Instance, team: int) -> Shortfall:
    n = instance.n_teams
    others = [g for g in range(n) if g != team]
    blocked = instance.unavailable(team)
    home = set(instance.home_slots(team))
    games = [("home", g) for g in others] + [("away", g) for g in others]
    options = [home] * len(others) + [set(instance.home_slots(g)) - blocked for g in others]
    owner = _max_matching(options)
    unmatched = [i for i in range(len(games)) if i not in owner.values()]
    if not unmatched:
        return Shortfall(team, 0, (), ())
    # The games reachable from unmatched ones along alternating paths use only
    # the slots they reach, all of them matched: a set with more games than slots.
    reached, slots, frontier = set(unmatched), set(), list(unmatched)
    while frontier:
        for slot in options[frontier.pop()]:
            if slot not in slots:
                slots.add(slot)
                game = owner[slot]
                if game not in reached:
                    reached.add(game)
                    frontier.append(game)
    return Shortfall(team, len(unmatched), tuple(games[i] for i in sorted(reached)),
                     tuple(sorted(slots)))


def shortfalls(instance: Instance) -> list[Shortfall]:
    """The teams that cannot play all their games, with the proof for each."""
    found = (team_shortfall(instance, t) for t in range(instance.n_teams))
    return [s for s in found if s.deficit]


def infeasibility_bound(instance: Instance) -> int:
    """No schedule of ``instance`` has fewer games without a slot."""
    return (sum(s.deficit for s in shortfalls(instance)) + 1) // 2

"""Benchmark: tavelin against the same step written with NumPy and SciPy.

    python bench/run.py            # full run, writes bench/RESULTS.md
    python bench/run.py --quick    # well under a minute, prints only

Before anything is timed, every workload is checked: both implementations
must return bit-identical cost matrices and equal totals, and each one's
written row must be a valid placement whose cost is the total it returned.
Timings are taken in one process, the two implementations interleaved call
by call (alternating which goes first), and summarised by their medians.
Each is also timed alone, call after call, as in a user's loop, where it
finds the caches as it left them. Where the time of a tavelin solve goes
(cost matrix, assignment, call overhead, cold caches) comes from those and
the native kernel benchmark, run between the rounds (kernel_parts.py).
"""
from __future__ import annotations

import os

# Single-threaded numerics: the machine is shared and small.
for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")

import argparse
import gc
import platform
import subprocess
import sys
import time
from dataclasses import dataclass
from importlib import metadata
from pathlib import Path

import numpy as np

try:
    import scipy
except ImportError:  # pragma: no cover - the bench extra brings it
    sys.exit("the benchmark needs SciPy: pip install 'tavelin[bench]'")

import tavelin

from agreement import Disagreement, check_call
from kernel_parts import build_kernel_bench, kernel_times, routes_of, solve_parts
from peer import Peer
from workloads import COMPACT_SIZES, UNSCHEDULED, Workload, all_workloads, compact, league, two_teams

HERE = Path(__file__).resolve().parent

# The benchmark reports figures and judges nothing. The goals they are read
# against: a median solve time ratio peer / tavelin of at least 30 for the
# league, n=10 and n=20, 12 for n=40, 8 for n=80 and 6 for n=160; a fixed
# cost of a call below 1.5 µs.


# -- agreement ---------------------------------------------------------------------

def check_workload(w: Workload, teams) -> None:
    peer, tav = Peer(*w.args()), tavelin.Tavelin(*w.args())
    X = w.fresh()
    prev = None
    for team in teams:
        w.prepare(X, team, prev)
        check_call(f"{w.name} {w.fill}", peer, tav, X, team, w.sets_home[team], float(w.p))
        prev = team


def check_pass(w: Workload) -> None:
    """Replay tavelin's construction pass; at every step the peer, given the
    same X, must price and total alike."""
    peer, tav = Peer(*w.args()), tavelin.Tavelin(*w.args())
    X = np.full((w.n, w.n), UNSCHEDULED)
    for team in range(w.n):
        X[team] = UNSCHEDULED
        check_call(f"{w.name} {w.fill}", peer, tav, X, team, w.sets_home[team], float(w.p))
        tav.solve(X, team)


# -- timing ------------------------------------------------------------------------

def timer_overhead() -> int:
    clock = time.perf_counter_ns
    d = []
    for _ in range(20000):
        t0 = clock()
        d.append(clock() - t0)
    return int(np.median(d))


@dataclass
class Stat:
    median_ns: float
    count: int
    noise: float    # median over teams of (interquartile range / median) of repeated calls


def summarise(samples) -> Stat:
    """``samples``: (team, nanoseconds) pairs."""
    t = np.array([team for team, _ in samples])
    a = np.array([ns for _, ns in samples], dtype=np.float64)
    spreads = []
    for team in np.unique(t):
        q1, med, q3 = np.percentile(a[t == team], [25, 50, 75])
        if med > 0:
            spreads.append((q3 - q1) / med)
    return Stat(float(np.median(a)), a.size, float(np.median(spreads)) if spreads else 0.0)


def time_interleaved(impls, teams, prepare, call, budget_s, min_reps, max_reps, overhead_ns):
    """Time one call at a time, alternating the implementations.

    ``impls`` maps a name to (object, working X).  Before each call
    ``prepare(X, team, previous team)`` resets that implementation's X
    (untimed); only the call itself is inside the clock.  Returns, per
    name, a list of (team, nanoseconds).
    """
    clock = time.perf_counter_ns
    names = list(impls)
    samples = {name: [] for name in names}
    last = {name: None for name in names}
    gc_was = gc.isenabled()
    gc.disable()
    try:
        # Warm-up (untimed): first-call paths, caches, the peer's per-team set-up.
        start = time.perf_counter()
        rep = 0
        while rep < 1 or (rep < max(30, len(teams)) and time.perf_counter() - start < budget_s / 10):
            team = int(teams[rep % len(teams)])
            for name in names:
                obj, X = impls[name]
                prepare(X, team, last[name])
                last[name] = team
                call(obj, X, team)
            rep += 1
        start = time.perf_counter()
        rep = 0
        while rep < max_reps and (rep < min_reps or time.perf_counter() - start < budget_s):
            team = int(teams[rep % len(teams)])
            for name in (names if rep % 2 == 0 else names[::-1]):
                obj, X = impls[name]
                prepare(X, team, last[name])
                last[name] = team
                t0 = clock()
                call(obj, X, team)
                samples[name].append((team, clock() - t0 - overhead_ns))
            rep += 1
    finally:
        if gc_was:
            gc.enable()
    return samples


@dataclass
class Row:
    workload: str
    fill: str
    peer: Stat
    tav: Stat

    @property
    def ratio(self) -> float:
        return self.peer.median_ns / self.tav.median_ns


def make_row(w: Workload, fill: str, samples) -> Row:
    return Row(w.name, fill, summarise(samples["peer"]), summarise(samples["tavelin"]))


def bench_calls(w: Workload, method: str, budget, min_reps, max_reps, overhead):
    peer, tav = Peer(*w.args()), tavelin.Tavelin(*w.args())
    impls = {"peer": (peer, w.fresh()), "tavelin": (tav, w.fresh())}
    if method == "solve":
        def call(obj, X, team):
            obj.solve(X, team)
    else:
        homes = {t: list(w.sets_home[t]) for t in range(w.n)}
        opps = {t: w.opponents(t) for t in range(w.n)}

        def call(obj, X, team):
            obj.create_cost_matrix(X, team, homes[team], opps[team])
    return time_interleaved(impls, w.teams, w.prepare, call, budget, min_reps, max_reps, overhead)


def bench_in_a_row(w: Workload, budget, min_reps, max_reps, overhead):
    """Each implementation's solve alone, call after call, as in a user's
    loop: only the reset of X runs between the calls, so the caches keep
    what the implementation itself left there."""
    def solve(obj, X, team):
        obj.solve(X, team)
    return {name: time_interleaved({name: (obj, w.fresh())}, w.teams, w.prepare, solve, budget, min_reps,
                                   max_reps, overhead)[name]
            for name, obj in (("tavelin", tavelin.Tavelin(*w.args())), ("peer", Peer(*w.args())))}


def bench_pass(w: Workload, budget, min_reps, max_reps, overhead):
    """A whole construction pass from an empty X: every team in turn has its
    row cleared and its home games placed."""
    impls = {"peer": (Peer(*w.args()), None), "tavelin": (tavelin.Tavelin(*w.args()), None)}
    empty = np.full((w.n, w.n), UNSCHEDULED)
    finals = {}

    def one_pass(obj, _X, _team):
        X = empty.copy()
        for team in range(w.n):
            X[team] = UNSCHEDULED
            obj.solve(X, team)
        finals[id(obj)] = X

    samples = time_interleaved(impls, [0], lambda *a: None, one_pass, budget, min_reps, max_reps, overhead)
    same = np.array_equal(finals[id(impls["peer"][0])], finals[id(impls["tavelin"][0])], equal_nan=True)
    return samples, same


# -- report ------------------------------------------------------------------------

def machine() -> dict:
    cpu = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        commit = subprocess.run(["git", "-C", str(HERE), "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True, timeout=5).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        commit = ""
    try:
        tav_version = metadata.version("tavelin")
    except metadata.PackageNotFoundError:
        tav_version = "?"
    return {
        "CPU": f"{cpu} ({os.cpu_count()} logical cores)",
        "OS": f"{platform.system()} {platform.release()}",
        "Python": platform.python_version(),
        "NumPy": np.__version__,
        "SciPy": scipy.__version__,
        "tavelin": tav_version + " (installed)" + (f"; benchmark run from commit {commit}" if commit else ""),
        "threads": ", ".join(f"{v}={os.environ.get(v)}" for v in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS")),
    }


def us(stat: Stat) -> str:
    v = stat.median_ns / 1000.0
    return f"{v:,.1f}" if v < 100 else f"{v:,.0f}"


def ms(stat: Stat) -> str:
    v = stat.median_ns / 1e6
    return f"{v:,.2f}" if v < 100 else f"{v:,.0f}"


def render(info, solve_rows, ccm_rows, pass_rows, fixed, parts, in_a_row, notes) -> str:
    out = ["# tavelin against NumPy + SciPy", ""]
    out += [f"- {k}: {v}" for k, v in info.items()]
    out += ["", "Medians of single calls (µs); ratio = peer / tavelin, above 1 means tavelin is faster.", ""]
    out += ["| workload | X | solve: peer | solve: tavelin | ratio | "
            "cost matrix: peer | cost matrix: tavelin | ratio |",
            "|---|---|---:|---:|---:|---:|---:|---:|"]
    for s, c in zip(solve_rows, ccm_rows):
        out.append(f"| {s.workload} | {s.fill} | {us(s.peer)} | {us(s.tav)} | {s.ratio:.2f} | "
                   f"{us(c.peer)} | {us(c.tav)} | {c.ratio:.2f} |")
    if parts:
        out += ["", "Where the time of a tavelin solve goes (µs, medians). In a row: tavelin's solve timed alone, "
                "call after call, as in a user's loop. Kernels: its cost matrix and its assignment timed "
                "together without Python (bench/kernel_bench.cpp, calls in a row), and each apart (after other "
                "routes' code, so the two add up to more). Call overhead: the rest of the time in a row (the "
                "call, its arguments, the borrow of X, writing the result). Cold caches: what the interleaved "
                "calls of the other implementation add by leaving the caches cold (solve - in a row):", "",
                "| workload | X | solve | in a row | kernels | cost matrix | assignment | call overhead "
                "| cold caches |", "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
        for s in solve_rows:
            if (s.workload, s.fill) not in parts:
                continue
            cost, assign, both = parts[(s.workload, s.fill)]
            solve = s.tav.median_ns / 1000.0
            row = in_a_row[(s.workload, s.fill)].tav.median_ns / 1000.0
            out.append(f"| {s.workload} | {s.fill} | {solve:,.2f} | {row:,.2f} | {both:,.2f} | {cost:,.2f} | "
                       f"{assign:,.2f} | {row - both:,.2f} | {solve - row:,.2f} |")
    out += ["", "Each implementation timed alone, call after call, as in a user's loop (µs, medians; ratio = "
            "peer / tavelin):", "", "| workload | X | solve: peer | solve: tavelin | ratio |", "|---|---|---:|---:|---:|"]
    for r in in_a_row.values():
        out.append(f"| {r.workload} | {r.fill} | {us(r.peer)} | {us(r.tav)} | {r.ratio:.2f} |")
    out += ["", "Construction pass from an empty X (every team placed once, in order), ms per pass:", "",
            "| workload | teams | peer | tavelin | ratio | same final X |",
            "|---|---:|---:|---:|---:|:-:|"]
    for row, n, same in pass_rows:
        out.append(f"| {row.workload} | {n} | {ms(row.peer)} | {ms(row.tav)} | {row.ratio:.2f} | "
                   f"{'yes' if same else 'no (ties broken differently)'} |")
    out += ["", "Fixed cost of a call: `solve` on a 2-team problem (1 home slot, 1 opponent):", "",
            "| peer µs | tavelin µs | ratio |", "|---:|---:|---:|",
            f"| {fixed.peer.median_ns / 1000:.2f} | {fixed.tav.median_ns / 1000:.3f} | {fixed.ratio:.0f} |", ""]
    out += [f"- {n}" for n in notes]
    return "\n".join(out) + "\n"


def render_routes(routes) -> str:
    """The assignment on every instruction set the build has, the scalar
    route (what a processor without a vector route runs) first."""
    if not routes:
        return ""
    names = list(routes_of(next(iter(routes.values()))))
    out = ["", "The assignment on every route of this build (µs, medians of bench/kernel_bench.cpp; "
           "every route places bit for bit alike, the last is the one solve uses):", "",
           "| workload | X | " + " | ".join(names) + " |", "|---|---|" + "---:|" * len(names)]
    for (workload, fill), times in routes.items():
        out.append(f"| {workload} | {fill} | " + " | ".join(f"{times[n]:,.2f}" for n in names) + " |")
    return "\n".join(out) + "\n"


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="short run (well under a minute); prints only")
    ap.add_argument("--out", type=Path, help="Markdown file for the table (default: bench/RESULTS.md, "
                                             "not written in --quick mode)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the workloads")
    args = ap.parse_args(argv)

    quick = args.quick
    out_path = args.out if args.out else (None if quick else HERE / "RESULTS.md")
    budget, min_reps, max_reps = (0.1, 5, 2000) if quick else (1.5, 40, 20000)
    pass_budget, pass_min = (0.3, 1) if quick else (4.0, 5)

    try:
        probe = two_teams()
        tavelin.Tavelin(*probe.args()).solve(probe.fresh(), 0)
        tavelin.Tavelin(*probe.args()).create_cost_matrix(probe.fresh(), 0, [0.0], [1])
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # the module's internal error derives from BaseException
        print(f"tavelin is not usable yet: {type(exc).__name__}: {exc}", file=sys.stderr)
        return 2

    workloads = all_workloads(seed=args.seed)
    pass_loads = [league("empty", args.seed)] + [compact(n, "empty", args.seed) for n in COMPACT_SIZES]
    t_start = time.perf_counter()
    load_before = os.getloadavg()

    print("checking agreement ...", flush=True)
    try:
        for w in workloads + [two_teams()]:
            teams = [int(t) for t in w.teams]
            check_workload(w, teams[:4] if quick else teams)
        for w in pass_loads:
            if not quick or w.n <= 40:
                check_pass(w)
    except Disagreement as exc:
        print(f"DISAGREEMENT, nothing timed: {exc}", file=sys.stderr)
        return 1
    print(f"  cost matrices and totals agree ({time.perf_counter() - t_start:.1f} s)", flush=True)

    kernel_bench, why_not = build_kernel_bench()
    if kernel_bench is None:
        print(f"no split of the solve time: {why_not}", file=sys.stderr)
    kernel_budget = 0.05 if quick else 0.5  # seconds per workload and round

    overhead = timer_overhead()
    # Each cell is timed in several rounds spread over the run, so that a
    # burst of other work on the machine hits only part of its samples.
    rounds = 1 if quick else 3
    cells = {}
    same_pass = {}
    kernel_samples: dict = {}

    def add(key, samples):
        pooled = cells.setdefault(key, {"peer": [], "tavelin": []})
        for name, got in samples.items():
            pooled[name] += got

    for r in range(rounds):
        print(f"timing, round {r + 1} of {rounds} ...", flush=True)
        for w in workloads:
            for method in ("solve", "create_cost_matrix"):
                add((w.name, w.fill, method),
                    bench_calls(w, method, budget / rounds, max(1, min_reps // rounds), max_reps, overhead))
            add((w.name, w.fill, "in a row"),
                bench_in_a_row(w, budget / rounds, max(1, min_reps // rounds), max_reps, overhead))
            if kernel_bench is not None:
                # The kernels right after the Python calls, so that both meet the same machine.
                for key, times in kernel_times(kernel_bench, [w], kernel_budget).items():
                    kernel_samples.setdefault(key, []).append(times)
            s, c = (make_row(w, w.fill, cells[(w.name, w.fill, m)]) for m in ("solve", "create_cost_matrix"))
            print(f"  {w.name:7} {w.fill:6}  solve {us(s.peer):>8} / {us(s.tav):>8} µs = {s.ratio:7.2f}   "
                  f"cost matrix {us(c.peer):>8} / {us(c.tav):>8} µs = {c.ratio:7.2f}", flush=True)
        for w in pass_loads:
            samples, same_pass[w.name] = bench_pass(w, pass_budget / rounds, max(1, pass_min // rounds),
                                                    1000, overhead)
            add((w.name, "pass"), samples)
            row = make_row(w, "pass", cells[(w.name, "pass")])
            print(f"  pass {w.name:7} {ms(row.peer):>8} / {ms(row.tav):>8} ms = {row.ratio:7.2f}", flush=True)
        add(("2 teams",), bench_calls(two_teams(), "solve", budget / rounds, min_reps * 10 // rounds,
                                      max_reps * 10, overhead))

    solve_rows = [make_row(w, w.fill, cells[(w.name, w.fill, "solve")]) for w in workloads]
    ccm_rows = [make_row(w, w.fill, cells[(w.name, w.fill, "create_cost_matrix")]) for w in workloads]
    pass_rows = [(make_row(w, "pass", cells[(w.name, "pass")]), w.n, same_pass[w.name]) for w in pass_loads]
    fixed = make_row(two_teams(), "", cells[("2 teams",)])
    in_a_row = {(w.name, w.fill): make_row(w, w.fill, cells[(w.name, w.fill, "in a row")]) for w in workloads}
    # The kernels' medians over the rounds.
    routes = {key: {name: float(np.median([times[name] for times in got])) for name in got[0]}
              for key, got in kernel_samples.items()}
    parts = {key: solve_parts(times) for key, times in routes.items()}

    spreads = [st.noise for r in solve_rows + ccm_rows for st in (r.peer, r.tav)]
    load_after = os.getloadavg()
    notes = [
        f"{'quick' if quick else 'full'} run, seed {args.seed}, {time.perf_counter() - t_start:.0f} s, "
        f"{rounds} timing round{'s' if rounds > 1 else ''}; "
        f"clock overhead {overhead} ns subtracted from every sample",
        f"noise: interquartile range / median of repeated calls for one team, over the timed cells: "
        f"median {np.median(spreads):.0%}, worst {max(spreads):.0%}; "
        f"load average {load_before[0]:.2f} before, {load_after[0]:.2f} after",
        "every workload was checked first: bit-identical cost matrices, equal totals, valid written rows "
        "(ties may be broken differently, so X may differ)",
    ]
    if parts:
        notes.insert(1, "solve split: the kernels timed by bench/kernel_bench.cpp (Release build) right after each "
                        "workload's Python timings in every round, medians over the rounds; call overhead = in a "
                        "row - kernels, cold caches = solve - in a row (under a changing "
                        "load either can even come out negative)")
    text = render(machine(), solve_rows, ccm_rows, pass_rows, fixed, parts, in_a_row, notes) + render_routes(routes)
    print()
    print(text)
    if out_path:
        out_path.write_text(text)
        print(f"written to {out_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

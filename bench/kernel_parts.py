"""Where the time of a ``solve`` goes: its cost matrix and its assignment,
timed without Python by the native kernel benchmark (bench/kernel_bench.cpp),
which this module builds with CMake and runs on the benchmark's workloads.
What is left of the Python-level time is the call overhead: the call
itself, the arguments, the borrow of X, writing the result, and the caches
that other work between calls leaves cold (kernel_bench runs its calls in
a row, warm)."""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from workloads import Workload, write_text

ROOT = Path(__file__).resolve().parents[1]


def _tool(name: str) -> str | None:
    """A tool from the running interpreter's environment (where the bench
    extra installs cmake and ninja), else from PATH."""
    here = Path(sys.executable).parent / name
    return str(here) if here.exists() else shutil.which(name)


def build_kernel_bench(build_dir: Path = ROOT / "build" / "kernel-bench") -> tuple[Path | None, str]:
    """Configures and builds kernel_bench (Release); returns its path, or None
    and the reason when it cannot be built."""
    cmake, ninja = _tool("cmake"), _tool("ninja")
    if cmake is None:
        return None, "cmake not found (pip install 'tavelin[bench]' brings it)"
    generator = ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []
    steps = ([cmake, "-S", str(ROOT), "-B", str(build_dir), *generator, "-DTAVELIN_NATIVE_TESTS=ON",
              "-DCMAKE_BUILD_TYPE=Release"],
             [cmake, "--build", str(build_dir), "--target", "kernel_bench"])
    for step in steps:
        try:
            done = subprocess.run(step, capture_output=True, text=True, timeout=900)
        except (OSError, subprocess.SubprocessError) as exc:
            return None, f"{Path(step[0]).name} failed: {exc}"
        if done.returncode != 0:
            last = (done.stderr or done.stdout).strip().splitlines()[-3:]
            return None, "building kernel_bench failed: " + " / ".join(last)
    return build_dir / "kernel_bench", ""


def parse_routes(text: str) -> dict[tuple[str, str], dict[str, float]]:
    """kernel_bench's Markdown table -> {(workload, fill): {"cost matrix": µs,
    "scalar": µs, "sse2": µs, ..., BOTH: µs}}: the cost matrix, the assignment
    on every instruction set of the build, narrowest first, then both."""
    out: dict[tuple[str, str], dict[str, float]] = {}
    names: list[str] = []
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if cells[0] == "workload":
            names = [c.removeprefix("assignment: ") for c in cells[2:]]
        elif len(cells) >= 4 and cells[0] and not cells[0].startswith("-"):
            out[(cells[0].replace("_", " "), cells[1])] = dict(zip(names, map(float, cells[2:])))
    return out


# kernel_bench's last column: cost matrix and assignment together, as a
# solve runs them, call after call.
BOTH = "both, in a row"


def routes_of(times: dict[str, float]) -> dict[str, float]:
    """The assignment's time on each instruction set, narrowest first."""
    return {name: t for name, t in times.items() if name not in ("cost matrix", BOTH)}


def solve_parts(times: dict[str, float]) -> tuple[float, float, float]:
    """(cost matrix µs, assignment µs, both in a row µs) of one workload, the
    assignment on the widest instruction set, which is the one solve uses."""
    return times["cost matrix"], list(routes_of(times).values())[-1], times[BOTH]


def parse_table(text: str) -> dict[tuple[str, str], tuple[float, float, float]]:
    """{(workload, fill): solve_parts} of kernel_bench's table."""
    return {key: solve_parts(times) for key, times in parse_routes(text).items()}


def kernel_times(binary: Path, workloads: list[Workload], seconds: float) -> dict[tuple[str, str], dict[str, float]]:
    """Median µs of the cost matrix and of the assignment on every
    instruction set, per workload (see parse_routes)."""
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "workloads.txt"
        write_text(workloads, path)
        done = subprocess.run([str(binary), str(path), repr(seconds)], capture_output=True, text=True,
                              env={**os.environ, "OMP_NUM_THREADS": "1"})
    if done.returncode != 0:
        raise RuntimeError(f"kernel_bench failed: {done.stderr.strip()}")
    return parse_routes(done.stdout)

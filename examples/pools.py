"""Where the jobs of a batch run: a pool of local processes, or the workers of
a Dask distributed cluster. Both are ``concurrent.futures`` executors, so the
batch hands its jobs to either the same way.

Dask is optional: without it, asking for a cluster raises
``PoolUnavailable`` with the command that installs it.
"""

from __future__ import annotations

import multiprocessing
import os
import socket
import sys
from collections.abc import Iterator
from concurrent.futures import Executor, ProcessPoolExecutor
from contextlib import contextmanager
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parent

# The example modules a job needs on a worker, each after the ones it imports:
# a worker loads them in this order when they arrive.
JOB_MODULES = ("robinx", "bounds", "floors", "evaluate", "timetable", "scheduler", "search_job")


class PoolUnavailable(RuntimeError):
    """The jobs cannot be run where they were asked to run; the message says why."""


def all_cores() -> int:
    """The cores this process may use."""
    if hasattr(os, "process_cpu_count"):
        return os.process_cpu_count() or 1
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


@contextmanager
def local_pool(jobs: int) -> Iterator[Executor]:
    """``jobs`` worker processes on this machine. They are started fresh
    (spawn) rather than forked, so that no thread or lock of the caller is
    copied into them; they find the example modules on the caller's path."""
    with ProcessPoolExecutor(max_workers=jobs,
                             mp_context=multiprocessing.get_context("spawn")) as pool:
        yield pool


@contextmanager
def dask_pool(address: str, connect_timeout: float = 10.0) -> Iterator[Executor]:
    """The workers of the Dask cluster whose scheduler listens at ``address``.

    The workers need tavelin and NumPy installed; the example modules are
    sent to them (see ``ship_modules``). The scheduler needs neither: the jobs
    pass through it as bytes (see ``batch.packed``).
    """
    try:
        from distributed import Client
    except ImportError:
        raise PoolUnavailable(
            "--scheduler needs Dask's distributed scheduler, which is not installed here; "
            f"install it with: {sys.executable} -m pip install 'dask[distributed]>=2024.1'"
        ) from None
    try:
        client = Client(address, timeout=connect_timeout)
    except Exception as exc:  # OSError, TimeoutError, ValueError for a malformed address
        raise PoolUnavailable(f"cannot connect to the Dask scheduler at {address}: {exc}") from None
    with client:
        try:
            client.wait_for_workers(1, timeout=connect_timeout)
        except TimeoutError:
            raise PoolUnavailable(f"the Dask cluster at {address} has no worker "
                                  f"(none joined within {connect_timeout:g} s)") from None
        here = (socket.gethostname(), os.getpid())
        hosts, pids = client.run(socket.gethostname), client.run(os.getpid)
        if any((hosts[worker], pids[worker]) != here for worker in pids):
            ship_modules(client)
        # A search follows the clock: two equal jobs are two runs, not one
        # result computed once.
        with client.get_executor(pure=False) as executor:
            yield executor


def ship_modules(client) -> None:
    """Sends the example modules to the workers, now and as they join, and
    has them loaded anew (a worker that has an older copy from an earlier
    run replaces it). Workers running inside this process have them already,
    and are left alone: reloading would replace the classes this process uses."""
    from distributed.diagnostics.plugin import UploadFile

    for name in JOB_MODULES:
        try:
            client.register_plugin(UploadFile(str(EXAMPLES / f"{name}.py")),
                                   name=f"tavelin-examples-{name}")
        except Exception as exc:
            raise PoolUnavailable(
                f"the Dask workers cannot load {name}.py: {type(exc).__name__}: {exc} "
                "(every worker needs tavelin and NumPy installed)") from None


def describe(address: str | None, jobs: int) -> str:
    """Where the jobs run, for the batch's first line."""
    if address:
        return f"the Dask cluster at {address}"
    return f"{jobs} local process{'es' if jobs != 1 else ''}"

"""Runs a batch of search jobs on an executor and collects what each one did.

Any ``concurrent.futures`` executor will do: a local process pool or a Dask
cluster's (see ``pools``). A job that fails (an exception in the job, a
worker process that dies) is recorded as a failure with its reason; the
other jobs run on and keep their results.
"""

from __future__ import annotations

import pickle
from collections.abc import Callable, Sequence
from concurrent.futures import FIRST_COMPLETED, Executor, Future, wait
from dataclasses import dataclass, field, replace

from progress_bar import BatchProgress
from robinx import Instance
from search_job import Run, run_job


@dataclass(frozen=True)
class Task:
    name: str  # what the batch calls the instance, e.g. its file name
    instance: Instance
    seed: int
    time_limit: float
    solves: int | None = None  # a budget of solve calls instead of the time limit
    floor: int | None = None  # the instance's proven floor, where one is known


@dataclass(frozen=True)
class Failure:
    instance: str
    seed: int
    error: str


@dataclass
class Outcome:
    runs: list[Run] = field(default_factory=list)
    failures: list[Failure] = field(default_factory=list)
    interrupted: bool = False  # stopped by the user before every job was over


def error_text(exc: BaseException) -> str:
    """The exception's type and message, on one line."""
    text = " ".join(str(exc).split())
    return type(exc).__name__ + (f": {text}" if text else "")


class _Call:
    """Pickles as the call ``function(*args)``: unpickling it makes the call."""

    def __init__(self, function: Callable[..., Run], *args: object):
        self.function = function
        self.args = args

    def __reduce__(self) -> tuple[Callable[..., Run], tuple[object, ...]]:
        return self.function, self.args


def packed(task: Task) -> bytes:
    """The job of ``task`` as bytes that run it when unpickled.

    The executor is handed ``pickle.loads`` and these bytes rather than the
    job's function and arguments: a Dask scheduler unpickles every task it
    receives, so a task that named the example's modules would need them on
    the scheduler too, while bytes pass through it unread. The workers,
    which have the modules, run the job as they unpickle it.
    """
    return pickle.dumps(_Call(run_job, task.instance, task.seed, task.time_limit, task.solves, task.floor))


def run_batch(executor: Executor, tasks: Sequence[Task], progress: BatchProgress) -> Outcome:
    """Submits every task at once and waits for them all; the executor
    decides how many run at a time."""
    outcome = Outcome()
    futures: dict[Future[Run], Task] = {executor.submit(pickle.loads, packed(task)): task
                                        for task in tasks}
    pending = set(futures)
    try:
        while pending:
            done, pending = wait(pending, timeout=0.5, return_when=FIRST_COMPLETED)
            for future in done:
                task = futures[future]
                name = f"{task.name} seed {task.seed}"
                try:
                    run = replace(future.result(), instance=task.name)
                except Exception as exc:
                    failure = Failure(task.name, task.seed, error_text(exc))
                    outcome.failures.append(failure)
                    progress.finished(f"{name}: failed: {failure.error}", failed=True)
                else:
                    outcome.runs.append(run)
                    progress.finished(f"{name}: infeasibility {run.infeasibility}, "
                                      f"objective {run.objective} ({run.seconds:.1f} s)")
            progress.tick()
    except KeyboardInterrupt:
        # Jobs not yet started are dropped; a Dask cluster also stops the
        # running ones (local processes got the interrupt themselves).
        for future in pending:
            future.cancel()
        executor.shutdown(wait=False)
        outcome.interrupted = True
    return outcome

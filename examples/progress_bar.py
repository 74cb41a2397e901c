"""A progress bar for a batch of jobs, on standard error.

On a terminal one bar line is redrawn in place, with each finished job
printed above it; elsewhere (a log file, CI) each finished job is one plain
line with its count, and no control characters are written.
"""

from __future__ import annotations

import sys
import time
from collections.abc import Callable
from typing import TextIO


def clock_text(seconds: float) -> str:
    """1:05, 12:00, 1:02:03."""
    seconds = int(round(seconds))
    hours, rest = divmod(seconds, 3600)
    minutes, seconds = divmod(rest, 60)
    return f"{hours}:{minutes:02d}:{seconds:02d}" if hours else f"{minutes}:{seconds:02d}"


class BatchProgress:
    width = 24  # characters of the bar itself

    def __init__(self, total: int, stream: TextIO | None = None, enabled: bool = True,
                 clock: Callable[[], float] = time.monotonic):
        self.total = total
        self.stream = stream = stream or sys.stderr  # the one in use now, not at import
        self.enabled = enabled
        self.terminal = enabled and stream.isatty()
        self.clock = clock
        self.start = clock()
        self.done = 0
        self.failed = 0
        self.last_draw = float("-inf")

    def bar(self) -> str:
        filled = self.width * self.done // max(self.total, 1)
        elapsed = self.clock() - self.start
        text = (f"[{'#' * filled}{'-' * (self.width - filled)}] {self.done}/{self.total} runs"
                f"{f', {self.failed} failed' if self.failed else ''}  {clock_text(elapsed)}")
        if 0 < self.done < self.total:
            # Jobs of one batch take about equally long, so the pace so far
            # predicts the rest.
            text += f", about {clock_text(elapsed / self.done * (self.total - self.done))} left"
        return text

    def finished(self, text: str, failed: bool = False) -> None:
        """One job is over; ``text`` says how it ended."""
        self.done += 1
        self.failed += failed
        if not self.enabled:
            return
        if self.terminal:
            self.stream.write(f"\r\x1b[K{text}\n")
            self.draw()
        else:
            self.stream.write(f"[{self.done}/{self.total}] {text}\n")
            self.stream.flush()

    def tick(self) -> None:
        """Keeps the elapsed time on a terminal current (at most twice a second)."""
        if self.terminal and self.clock() - self.last_draw >= 0.5:
            self.draw()

    def draw(self) -> None:
        self.stream.write("\r" + self.bar() + "\x1b[K")
        self.stream.flush()
        self.last_draw = self.clock()

    def close(self) -> None:
        """Leaves the final count and the time the batch took on screen."""
        if not self.enabled:
            return
        if self.terminal:
            self.draw()
            self.stream.write("\n")
        else:
            self.stream.write(f"{self.done}/{self.total} runs"
                              f"{f', {self.failed} failed' if self.failed else ''}"
                              f" in {clock_text(self.clock() - self.start)}\n")
        self.stream.flush()

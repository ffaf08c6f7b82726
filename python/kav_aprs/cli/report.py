"""What a run tells on standard error: a progress line while it runs, a summary at the end."""

from __future__ import annotations

import stat
import sys
import time
from collections.abc import Sequence
from typing import Any, Callable, TextIO

from ..tally import Tally
from .clash import status


def _duration(seconds: float) -> str:
    seconds = int(seconds + 0.5)
    if seconds < 60:
        return f"{seconds}s"
    if seconds < 3600:
        return f"{seconds // 60}m{seconds % 60:02d}s"
    return f"{seconds // 3600}h{seconds // 60 % 60:02d}m"


class ProgressLine:
    """One self-overwriting status line, shown once a run takes a while.

    With the total size of the inputs known, it shows the bytes read against
    it, the percentage and the time left at the rate so far.
    """

    FIRST_AFTER = 0.5
    EVERY = 0.25

    def __init__(self, stream: TextIO, total_bytes: int | None,
                 clock: Callable[[], float] = time.monotonic) -> None:
        self._stream = stream
        self._total = total_bytes
        self._clock = clock
        self._started = clock()
        self._next_draw = self._started + self.FIRST_AFTER
        self._width = 0

    def text(self, tally: Tally, bytes_read: int, elapsed: float) -> str:
        """The line for `tally` after `bytes_read` of the inputs as stored (compressed or not)."""
        elapsed = max(elapsed, 1e-9)
        rate = tally.lines / elapsed
        text = f"{tally.lines:,} lines: {tally.decoded:,} decoded, {tally.failed:,} failed, {rate:,.0f} lines/s"
        if self._total:
            done = min(bytes_read / self._total, 1.0)
            text = f"{bytes_read / 1e6:,.1f} of {self._total / 1e6:,.1f} MB ({done:.0%}), " + text
            if done > 0:
                text += f", {_duration(elapsed * (1 - done) / done)} left"
        return text

    def update(self, tally: Tally, bytes_read: int) -> None:
        now = self._clock()
        if now < self._next_draw:
            return
        self._next_draw = now + self.EVERY
        text = self.text(tally, bytes_read, now - self._started)
        # Pad to the previous width so a shorter text leaves no stale characters.
        self._stream.write("\r" + text.ljust(self._width))
        self._stream.flush()
        self._width = len(text)

    def clear(self) -> None:
        if self._width:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
            self._width = 0


def progress_line(inputs: list[str], records_to_stdout: bool) -> ProgressLine | None:
    """A progress line on standard error when it is a terminal, and the records
    do not go to the same one: records would tear it apart."""
    if not _isatty(sys.stderr) or records_to_stdout and _isatty(sys.stdout):
        return None
    return ProgressLine(sys.stderr, _total_size(inputs))


def _total_size(inputs: list[str]) -> int | None:
    """The bytes of all inputs, when every one is a regular file."""
    total = 0
    for name in inputs:
        try:
            found = status(name, sys.stdin)
        except (OSError, ValueError):
            return None
        if not stat.S_ISREG(found.st_mode):
            return None
        total += found.st_size
    return total


def _isatty(stream: Any) -> bool:
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError):
        return False


def write_summary(stream: TextIO, tally: Tally, seconds: float,
                  more: Sequence[tuple[str, int]] = ()) -> None:
    """The summary: the tally's counts, then `more` (label, count) rows of the command's own."""
    rate = tally.lines / max(seconds, 1e-9)
    rows = [("lines read", tally.lines), ("decoded", tally.decoded), ("failed", tally.failed)]
    rows += [(f"  {kind}", count) for kind, count in sorted(tally.failures.items())]
    rows += [("comments", tally.comments), ("blank", tally.blank), *more]
    width = max(len(label) for label, _ in rows)
    stream.write(f"summary: {tally.lines:,} lines in {seconds:.3f} s, {rate:,.0f} lines/s\n")
    for label, count in rows:
        stream.write(f"  {label.ljust(width)}  {count:>10,}\n")
    stream.flush()

"""The signals that stop a run: SIGINT (Ctrl-C), SIGTERM (`kill`, `timeout`, a
service manager) and SIGHUP (the terminal closed), each stopping it the same way."""

from __future__ import annotations

import contextlib
import signal
from collections.abc import Callable, Iterator
from typing import Any

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
# What a stop signal gets once a run that handled them is over: the handler
# before it, or, in the command's own process (ignore_after_runs), nothing: a
# second Ctrl-C a moment late would otherwise end a run that ended well with
# the signal's status, or a traceback.
_after_run: Any = None


class Interrupted(KeyboardInterrupt):
    """A run stopped by a signal; its exit status is 128 + the signal's number,
    as a shell reports a process the signal ended."""

    def __init__(self, number: int) -> None:
        super().__init__(signal.Signals(number).name)
        self.status = 128 + number


@contextlib.contextmanager
def on_stop_signals(handle: Callable[[int], None]) -> Iterator[None]:
    """`handle(number)` on each stop signal while the block runs; the handlers before are put back after it."""
    saved = {number: signal.signal(number, lambda number, frame: handle(number)) for number in STOP_SIGNALS}
    try:
        yield
    finally:
        for number, handler in saved.items():
            signal.signal(number, handler if _after_run is None else _after_run)


def ignore_after_runs() -> None:
    """In a process that ends with the command: stop signals that come after a run are ignored."""
    global _after_run
    _after_run = signal.SIG_IGN


def interrupting() -> contextlib.AbstractContextManager[None]:
    """The first stop signal raises Interrupted wherever the run is, as Ctrl-C
    does; the ones after it are ignored, so that none stops the cleanup halfway."""
    received: list[int] = []

    def interrupt(number: int) -> None:
        if not received:
            received.append(number)
            raise Interrupted(number)

    return on_stop_signals(interrupt)

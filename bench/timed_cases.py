"""The timed loops of the module benchmark, one per measured case.

Each case is a function (lines, passes) -> None that runs its loop over the
lines `passes` times. The callables are bound as default arguments so that the
loop body pays for the call under test and not for global lookups; every
case, the floor included, has the same loop around its call.
"""

from __future__ import annotations

from typing import Callable

Case = Callable[[list, int], None]

def empty_loop() -> Case:
    """The loop alone: what every case pays besides its call."""
    def run(lines: list, passes: int) -> None:
        for _ in range(passes):
            for line in lines:
                line
    return run


def calls(func: Callable) -> Case:
    """One call per line; the result is dropped at once."""
    def run(lines: list, passes: int, func: Callable = func) -> None:
        for _ in range(passes):
            for line in lines:
                func(line)
    return run


def failing_calls(func: Callable, error: type[BaseException]) -> Case:
    """One call per line that raises `error`, caught around each call."""
    def run(lines: list, passes: int, func: Callable = func, error: type = error) -> None:
        for _ in range(passes):
            for line in lines:
                try:
                    func(line)
                except error:
                    pass
    return run


def calls_reading_every_attribute(func: Callable) -> Case:
    """One call per line, then a read of each of the beacon's eleven attributes."""
    def run(lines: list, passes: int, func: Callable = func) -> None:
        for _ in range(passes):
            for line in lines:
                b = func(line)
                b.callsign, b.q_construct, b.receiver, b.kav_aprs_protocol, b.time
                b.latitude, b.longitude, b.ground_track, b.ground_speed, b.gps_altitude
                b.kav_beacon_id
    return run

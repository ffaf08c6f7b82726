"""Memory mode of the module benchmark: resident size over many parses.

Parses the corpus round and round (valid lines with every attribute read, and
one bad line in ten with its ValueError caught) and samples the resident set
size. After the warm-up it must stay within a small bound: a leak of even a
few bytes a call shows as megabytes over ten million calls.
"""

from __future__ import annotations

import itertools
import os
from typing import Callable

PAGE = os.sysconf("SC_PAGE_SIZE")
MIB = 1 << 20


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def _parse_mixed(parse: Callable, valid: list[bytes], bad: list[bytes], count: int) -> None:
    valid_lines = itertools.cycle(valid)
    bad_lines = itertools.cycle(bad)
    for i in range(count):
        if i % 10 == 9:
            try:
                parse(next(bad_lines))
            except ValueError:
                pass
        else:
            b = parse(next(valid_lines))
            b.callsign, b.q_construct, b.receiver, b.kav_aprs_protocol, b.time
            b.latitude, b.longitude, b.ground_track, b.ground_speed, b.gps_altitude
            b.kav_beacon_id.prefix, b.kav_beacon_id.icao_address
            repr(b)


def measure(
    parse: Callable,
    valid: list[bytes],
    bad: list[bytes],
    parses: int,
    warm_up: int,
    samples: int = 20,
) -> dict:
    """Resident size after the warm-up and at `samples` points up to `parses`."""
    _parse_mixed(parse, valid, bad, warm_up)
    baseline = resident_bytes()
    chunk = max(1, (parses - warm_up) // samples)
    sizes = []
    done = warm_up
    while done < parses:
        step = min(chunk, parses - done)
        _parse_mixed(parse, valid, bad, step)
        done += step
        sizes.append(resident_bytes())
    growth = max(sizes) - baseline
    return {
        "parses": parses,
        "warm_up_parses": warm_up,
        "baseline_bytes": baseline,
        "max_bytes": max(sizes),
        "final_bytes": sizes[-1],
        "growth_bytes": growth,
        "samples_bytes": sizes,
        "flat": growth <= MIB,
    }

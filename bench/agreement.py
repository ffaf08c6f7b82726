"""Checks, before anything is timed, that every case measures what it claims.

A benchmark of a parser that silently fails, or of a yardstick that reads the
lines differently, would be worthless; so the harness refuses to time until
the module parses every valid line, rejects every bad one with ValueError, and
the pure-Python parser reads the same fields from every valid line.
"""

from __future__ import annotations

import math
from typing import Callable

TEXT_FIELDS = ("callsign", "q_construct", "receiver")
NUMBER_FIELDS = ("latitude", "longitude", "ground_track", "ground_speed", "gps_altitude")


def _same_number(a: float, b: float) -> bool:
    return a == b or (math.isnan(a) and math.isnan(b))


def _differences(native, plain, address_type: Callable) -> list[str]:
    """Names of the fields in which a module beacon and a pure-Python one differ."""
    differing = [f for f in TEXT_FIELDS if getattr(native, f) != getattr(plain, f)]
    differing += [f for f in NUMBER_FIELDS if not _same_number(getattr(native, f), getattr(plain, f))]
    if int(native.kav_aprs_protocol) != plain.kav_aprs_protocol:
        differing.append("kav_aprs_protocol")
    if native.time != plain.time:
        differing.append("time")
    native_id, plain_id = native.kav_beacon_id, plain.kav_beacon_id
    prefix = native_id.prefix
    if (
        native_id.icao_address != address_type(plain_id.icao_address)
        or int(prefix.aircraft_type) != plain_id.aircraft_type
        or int(prefix.address_type) != plain_id.address_type
        or prefix.no_track != plain_id.no_track
        or prefix.stealth_mode != plain_id.stealth_mode
    ):
        differing.append("kav_beacon_id")
    return differing


def check(module, pure_parse: Callable, valid: list[bytes], bad: list[bytes]) -> list[str]:
    """Every disagreement found, one line of text each; empty when all agree.

    The module's ICAOAddress shows its number only through comparison, so the
    pure-Python address is wrapped in one to be compared.
    """
    parse = module.parse_kav_aprs_aircraft_beacon
    problems = []
    for line in valid:
        try:
            native = parse(line)
        except ValueError as error:
            problems.append(f"module rejects valid line {line!r}: {error}")
            continue
        try:
            differing = _differences(native, pure_parse(line), module.ICAOAddress)
        except ValueError as error:
            problems.append(f"pure-Python parser rejects valid line {line!r}: {error}")
            continue
        if differing:
            problems.append(f"pure-Python parser differs in {', '.join(differing)}: {line!r}")
    for line in bad:
        try:
            parse(line)
        except ValueError:
            continue
        problems.append(f"module accepts bad line {line!r}")
    return problems


def peer_accepted(peer_parse: Callable, lines: list[str]) -> list[str]:
    """The lines a peer parser reads without raising.

    A general APRS parser applies rules of its own (such as the length of a
    station name) and rejects some lines of this format; timing its error path
    would flatter the comparison, so only the lines it accepts are timed.
    """
    accepted = []
    for line in lines:
        try:
            peer_parse(line)
        except Exception:  # the peer's own exception classes, whatever they are
            continue
        accepted.append(line)
    return accepted

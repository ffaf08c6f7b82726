"""The beacon grammar in plain Python, as a user would write it without the module.

One compiled regular expression for the header and the fixed-width position
block, float() for the numbers, int(..., 16) for the identifier and
datetime.time for the time of day. It is the benchmark's yardstick for "what
the native module saves", so it is written for clarity rather than speed, and
it covers the grammar's ordinary forms, not every oddity the native parser
accepts (for example "+7" digit groups or "inf" fields).
"""

from __future__ import annotations

import dataclasses
import datetime
import re

PROTOCOLS = {"KAADSB": 0, "KAFLR": 1, "KAVSKY": 2}

# Aircraft type code -> code of the member it maps to: 14 shares "reserved" with 0.
_AIRCRAFT_TYPE_OF_CODE = tuple(0 if code == 14 else code for code in range(16))

_LINE = re.compile(
    rb"""
    (?P<callsign>[^>]*)>
    (?P<protocol>[^,]*),
    (?P<q_construct>[^,]*),
    (?P<receiver>[^:]*):
    .                                                   # data type identifier
    (?P<hour>\d\d)(?P<minute>\d\d)(?P<second>\d\d).     # time and its suffix
    (?P<lat_deg>.{2})(?P<lat_min>.{5})(?P<lat_hemi>.)
    .                                                   # symbol table
    (?P<lon_deg>.{3})(?P<lon_min>.{5})(?P<lon_hemi>.)
    .                                                   # symbol code
    (?P<track>.{3}).(?P<speed>.{3})
    .*?A=(?P<altitude>.{6})
    (?P<extensions>.*)
    """,
    re.DOTALL | re.VERBOSE,
)


@dataclasses.dataclass(slots=True)
class BeaconID:
    aircraft_type: int
    address_type: int
    no_track: bool
    stealth_mode: bool
    icao_address: int


@dataclasses.dataclass(slots=True)
class Beacon:
    callsign: str
    q_construct: str
    receiver: str
    kav_aprs_protocol: int
    time: datetime.time
    latitude: float
    longitude: float
    ground_track: float
    ground_speed: float
    gps_altitude: float
    kav_beacon_id: BeaconID


def _number(field: bytes, what: str) -> float:
    try:
        return float(field)
    except ValueError:
        raise ValueError(f"invalid {what}: {field!r}") from None


def _coordinate(degrees: bytes, minutes: bytes, hemisphere: bytes, negative: bytes) -> float:
    value = _number(degrees, "degrees") + _number(minutes, "minutes") / 60.0
    return -value if hemisphere == negative else value


def _beacon_id(token: bytes) -> BeaconID:
    body = token[2:10]
    if len(body) != 8:
        raise ValueError(f"invalid beacon id: {token!r}")
    try:
        prefix = int(body[:2], 16)
        address = int(body[2:], 16)
    except ValueError:
        raise ValueError(f"invalid beacon id: {token!r}") from None
    return BeaconID(
        aircraft_type=_AIRCRAFT_TYPE_OF_CODE[(prefix >> 2) & 0x0F],
        address_type=prefix & 0x03,
        no_track=bool(prefix & 0x40),
        stealth_mode=bool(prefix & 0x80),
        icao_address=address,
    )


def parse(line: bytes) -> Beacon:
    """Decodes one beacon line; raises ValueError on a line it cannot read."""
    match = _LINE.fullmatch(line)
    if match is None:
        raise ValueError(f"malformed beacon: {line!r}")
    protocol = PROTOCOLS.get(match["protocol"].decode("utf-8", "replace"))
    if protocol is None:
        raise ValueError(f"unsupported protocol: {match['protocol']!r}")

    beacon_id = None
    for token in match["extensions"].split(b" "):
        if token.startswith(b"id"):
            beacon_id = _beacon_id(token)  # the last identifier wins
    if beacon_id is None:
        raise ValueError("missing beacon id")

    return Beacon(
        callsign=match["callsign"].decode(),
        q_construct=match["q_construct"].decode(),
        receiver=match["receiver"].decode(),
        kav_aprs_protocol=protocol,
        time=datetime.time(int(match["hour"]), int(match["minute"]), int(match["second"])),
        latitude=_coordinate(match["lat_deg"], match["lat_min"], match["lat_hemi"], b"S"),
        longitude=_coordinate(match["lon_deg"], match["lon_min"], match["lon_hemi"], b"W"),
        ground_track=_number(match["track"], "ground track"),
        ground_speed=_number(match["speed"], "ground speed"),
        gps_altitude=_number(match["altitude"], "gps altitude"),
        kav_beacon_id=beacon_id,
    )

"""What the columnar decoder must give for a buffer, worked out one line at a time.

Lines are cut here by the same rule the decoder documents (``\\r\\n``, ``\\r`` or
``\\n``) and each goes through the module's own parse function; decoded
results are turned into plain rows that compare by value, floats by their bits
so that NaN, the infinities and -0.0 are told apart.
"""

import collections
import re
import struct

import pyarrow as pa

import kav_aprs_parser_pyo3 as kav

BEACON_COLUMNS = (
    "line_number", "callsign", "q_construct", "receiver", "kav_aprs_protocol", "time",
    "latitude", "longitude", "ground_track", "ground_speed", "gps_altitude",
    "aircraft_type", "address_type", "no_track", "stealth_mode", "address",
)
ERROR_COLUMNS = ("line_number", "error_kind", "error", "line")
FLOAT_COLUMNS = ("latitude", "longitude", "ground_track", "ground_speed", "gps_altitude")


def split_lines(data: bytes) -> list[bytes]:
    lines = re.split(rb"\r\n|\r|\n", data)
    if lines[-1] == b"":  # after the last line end, or the whole of an empty input
        lines.pop()
    return lines


def error_kind(text: str) -> str:
    return re.match(r"Parse error: (?:ParseError\()?(\w+)", text).group(1)


def float_bits(value: float) -> bytes:
    return struct.pack("<d", value)


def _address(address) -> int:
    return int(re.fullmatch(r"PyICAOAddress\((\d+)\)", repr(address)).group(1))


def _beacon_row(number: int, beacon) -> dict:
    prefix = beacon.kav_beacon_id.prefix
    row = {
        "line_number": number,
        "callsign": beacon.callsign,
        "q_construct": beacon.q_construct,
        "receiver": beacon.receiver,
        "kav_aprs_protocol": repr(beacon.kav_aprs_protocol),
        "time": beacon.time,
        "aircraft_type": repr(prefix.aircraft_type),
        "address_type": repr(prefix.address_type),
        "no_track": prefix.no_track,
        "stealth_mode": prefix.stealth_mode,
        "address": _address(beacon.kav_beacon_id.icao_address),
    }
    row.update({name: float_bits(getattr(beacon, name)) for name in FLOAT_COLUMNS})
    return {name: row[name] for name in BEACON_COLUMNS}


class Expected:
    """Rows and counts of a buffer as the per-line parse sees it."""

    def __init__(self, data: bytes, first_line_number: int = 1) -> None:
        self.beacons: list[dict] = []
        self.errors: list[dict] = []
        self.comments = self.blank = 0
        self.failures: collections.Counter = collections.Counter()
        lines = split_lines(data)
        self.lines = len(lines)
        for number, line in enumerate(lines, first_line_number):
            if not line:
                self.blank += 1
            elif line.startswith(b"#"):
                self.comments += 1
            else:
                try:
                    beacon = kav.parse_kav_aprs_aircraft_beacon(line)
                except ValueError as error:
                    kind = error_kind(str(error))
                    self.failures[kind] += 1
                    self.errors.append({"line_number": number, "error_kind": kind,
                                        "error": str(error), "line": line})
                else:
                    self.beacons.append(_beacon_row(number, beacon))


def comparable(rows: list[dict]) -> list[dict]:
    """Rows read back from Arrow, with floats as their bits like Expected's."""
    return [{name: float_bits(value) if name in FLOAT_COLUMNS else value
             for name, value in row.items()} for row in rows]


def rows_of(decoded) -> tuple[list[dict], list[dict]]:
    """A Decoded's beacon and error rows, read through pyarrow, comparable with Expected's."""
    return comparable(pa.table(decoded.beacons).to_pylist()), pa.table(decoded.errors).to_pylist()

"""Turns decoded beacons into flat records and writes them as JSON lines or CSV."""

import csv
import json
import math
import re

FIELDS = (
    "callsign",
    "q_construct",
    "receiver",
    "kav_aprs_protocol",
    "time",
    "latitude",
    "longitude",
    "ground_track",
    "ground_speed",
    "gps_altitude",
    "aircraft_type",
    "address_type",
    "no_track",
    "stealth_mode",
    "address",
)

# An ICAOAddress shows its number only through its representation,
# "PyICAOAddress(<decimal>)"; it has no attribute that holds it.
_ADDRESS_REPR = re.compile(r"PyICAOAddress\((\d+)\)")


def portable_float(value):
    """The float itself, or a text for NaN and the infinities.

    JSON has no literal for them; these texts keep them apart (null would
    merge them) and float() reads each back to the same value.
    """
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    return value


def address_hex(icao_address):
    match = _ADDRESS_REPR.fullmatch(repr(icao_address))
    if match is None:
        raise ValueError(f"unexpected address representation {icao_address!r}")
    return f"{int(match.group(1)):06X}"


def beacon_record(beacon):
    """Every field of a beacon as a plain value, keyed by the names in FIELDS."""
    beacon_id = beacon.kav_beacon_id
    prefix = beacon_id.prefix
    return {
        "callsign": beacon.callsign,
        "q_construct": beacon.q_construct,
        "receiver": beacon.receiver,
        "kav_aprs_protocol": repr(beacon.kav_aprs_protocol),
        "time": beacon.time.strftime("%H:%M:%S"),
        "latitude": portable_float(beacon.latitude),
        "longitude": portable_float(beacon.longitude),
        "ground_track": portable_float(beacon.ground_track),
        "ground_speed": portable_float(beacon.ground_speed),
        "gps_altitude": portable_float(beacon.gps_altitude),
        "aircraft_type": repr(prefix.aircraft_type),
        "address_type": repr(prefix.address_type),
        "no_track": prefix.no_track,
        "stealth_mode": prefix.stealth_mode,
        "address": address_hex(beacon_id.icao_address),
    }


class JsonLinesWriter:
    def __init__(self, stream):
        self._stream = stream

    def write(self, record):
        # allow_nan=False keeps the output strict JSON: a non-finite float
        # that slipped past portable_float fails loudly instead.
        self._stream.write(json.dumps(record, ensure_ascii=False, allow_nan=False) + "\n")


class CsvWriter:
    def __init__(self, stream):
        self._writer = csv.DictWriter(stream, fieldnames=FIELDS, lineterminator="\n")
        self._writer.writeheader()

    def write(self, record):
        self._writer.writerow(record)


WRITERS = {"jsonl": JsonLinesWriter, "csv": CsvWriter}

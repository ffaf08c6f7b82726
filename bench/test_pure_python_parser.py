"""The pure-Python yardstick must read the grammar's ordinary lines correctly,
or the benchmark compares the module with a parser that does less work."""

import datetime
import math

import pytest

import pure_python_parser as pp

LINE = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"


def test_reads_every_field_of_a_typical_line():
    beacon = pp.parse(LINE)
    assert (beacon.callsign, beacon.q_construct, beacon.receiver) == ("X1", "qAS", "RX1")
    assert beacon.kav_aprs_protocol == pp.PROTOCOLS["KAFLR"]
    assert beacon.time == datetime.time(12, 34, 56)
    assert (beacon.latitude, beacon.longitude) == (46.5, 8.5)
    assert (beacon.ground_track, beacon.ground_speed, beacon.gps_altitude) == (90.0, 50.0, 1000.0)
    assert beacon.kav_beacon_id == pp.BeaconID(1, 2, False, False, 0xABCDEF)


@pytest.mark.parametrize(
    "old, new, field, expected",
    [
        (b"4630.00N", b"4915.50S", "latitude", -(49 + 15.5 / 60)),
        (b"00830.00E", b"01234.25W", "longitude", -(12 + 34.25 / 60)),
        (b"4630.00N", b"4915.50s", "latitude", 49 + 15.5 / 60),  # only "S" negates
        (b"/A=001000", b" some text A=-00012", "gps_altitude", -12.0),
        (b"090/050", b"090x050", "ground_speed", 50.0),  # the separator is not examined
        (b"KAFLR", b"KAVSKY", "kav_aprs_protocol", 2),
        (b"qAS,RX1", b"WIDE1-1,qAS,Station", "receiver", "qAS,Station"),
    ],
)
def test_field_variants(old, new, field, expected):
    value = getattr(pp.parse(LINE.replace(old, new)), field)
    if isinstance(expected, float):
        assert math.isclose(value, expected)
    else:
        assert value == expected


@pytest.mark.parametrize(
    "extensions, expected",
    [
        (b" +198fpm id06ABCDEF 11.0dB", pp.BeaconID(1, 2, False, False, 0xABCDEF)),
        (b" id05000001 idC6ABCDEF", pp.BeaconID(1, 2, True, True, 0xABCDEF)),  # last wins
        (b"id3ADDA5BA", pp.BeaconID(0, 2, False, False, 0xDDA5BA)),  # code 14 is reserved
        (b" id0ADDA5BAxyz", pp.BeaconID(2, 2, False, False, 0xDDA5BA)),
    ],
)
def test_beacon_id_tokens(extensions, expected):
    line = LINE.replace(b" id06ABCDEF", extensions)
    assert pp.parse(line).kav_beacon_id == expected


@pytest.mark.parametrize(
    "line",
    [
        b"",
        LINE.replace(b"KAFLR", b"kaflr"),
        LINE.replace(b"123456", b"12 456"),
        LINE.replace(b"4630.00", b"46x0.00"),
        LINE.replace(b"A=", b"B="),
        LINE.replace(b" id06ABCDEF", b""),
        LINE.replace(b"id06ABCDEF", b"id06ABCDE"),
        LINE.replace(b"id06ABCDEF", b"id0GDDA5BA"),
        LINE + b" idle",  # every id token must be valid
        LINE.replace(b"X1", b"X\xff"),
    ],
)
def test_rejects_bad_lines_with_value_error(line):
    with pytest.raises(ValueError):
        pp.parse(line)

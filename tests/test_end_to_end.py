"""Realistic beacon lines through the whole module, with every decoded field."""

import datetime
import math

import pytest

from kav_aprs_parser_pyo3 import (
    ICAOAddress,
    KAVAddressType as Addr,
    KAVAircraftType as Kind,
    KAVAPRSProtocol as Proto,
    parse_kav_aprs_aircraft_beacon as parse,
)


def expect(callsign, proto, q, receiver, hms, lat, lon, track, speed, alt,
           kind, addr, address, no_track=False, stealth=False):
    return dict(
        callsign=callsign, kav_aprs_protocol=proto, q_construct=q, receiver=receiver,
        time=datetime.time(*hms), latitude=lat, longitude=lon, ground_track=track,
        ground_speed=speed, gps_altitude=alt, aircraft_type=kind, address_type=addr,
        icao_address=ICAOAddress(address), no_track=no_track, stealth_mode=stealth,
    )


def decoded(beacon):
    kid = beacon.kav_beacon_id
    prefix = kid.prefix
    return dict(
        callsign=beacon.callsign, kav_aprs_protocol=beacon.kav_aprs_protocol,
        q_construct=beacon.q_construct, receiver=beacon.receiver, time=beacon.time,
        latitude=beacon.latitude, longitude=beacon.longitude, ground_track=beacon.ground_track,
        ground_speed=beacon.ground_speed, gps_altitude=beacon.gps_altitude,
        aircraft_type=prefix.aircraft_type, address_type=prefix.address_type,
        icao_address=kid.icao_address, no_track=prefix.no_track,
        stealth_mode=prefix.stealth_mode,
    )


# Coordinates are written as the decoder computes them (degrees + minutes / 60,
# sign applied last) so that equality is exact, not approximate.
LINES = [
    pytest.param(
        b"ICA3C6444>KAADSB,qAS,EDKA:/094512h5045.61N\\00609.45E^224/412/A=036201"
        b" id253C6444 climb=+0 squawk=1000",
        expect("ICA3C6444", Proto.KAADSB, "qAS", "EDKA", (9, 45, 12), 50 + 45.61 / 60,
               6 + 9.45 / 60, 224.0, 412.0, 36201.0, Kind.JET_TURBOPROP_AIRCRAFT, Addr.ICAO,
               0x3C6444),
        id="airliner"),
    pytest.param(
        b"KAV7A0B1C>KAVSKY,qAS,Mendoza:/183002h3251.20S/06848.90W'000/000/A=002487 id1F7A0B1C",
        expect("KAV7A0B1C", Proto.KAVSKY, "qAS", "Mendoza", (18, 30, 2), -(32 + 51.20 / 60),
               -(68 + 48.90 / 60), 0.0, 0.0, 2487.0, Kind.PARAGLIDER, Addr.KAV_TRACKER,
               0x7A0B1C),
        id="south-west-paraglider"),
    pytest.param(
        b"KAVD00D1E>KAFLR,qAS,Wasserkuppe:/120000h5029.83N/00957.20E'311/054/A=003150"
        b" idC6D00D1E +1.2ms 6.8dB",
        expect("KAVD00D1E", Proto.KAFLR, "qAS", "Wasserkuppe", (12, 0, 0), 50 + 29.83 / 60,
               9 + 57.20 / 60, 311.0, 54.0, 3150.0, Kind.GLIDER, Addr.FLARM, 0xD00D1E,
               no_track=True, stealth=True),
        id="private-glider"),
    pytest.param(
        b"KAV46ABCD>KAFLR,qAS,LFLE:/071500h4530.00N/00552.00E'090/030/A=001500 id46ABCDEF",
        expect("KAV46ABCD", Proto.KAFLR, "qAS", "LFLE", (7, 15, 0), 45.5, 5 + 52 / 60, 90.0,
               30.0, 1500.0, Kind.GLIDER, Addr.FLARM, 0xABCDEF, no_track=True),
        id="no-track-only"),
    pytest.param(
        b"HELI8D>KAADSB,qAS,Rega:/163045h4659.99N/00726.01E'180/120/A=008500 id8DABCDEF",
        expect("HELI8D", Proto.KAADSB, "qAS", "Rega", (16, 30, 45), 46 + 59.99 / 60,
               7 + 26.01 / 60, 180.0, 120.0, 8500.0, Kind.HELICOPTER, Addr.ICAO, 0xABCDEF,
               stealth=True),
        id="stealth-only-helicopter"),
    pytest.param(
        b"X>KAFLR,WIDE1-1,qAS,Station:/101112h4800.00N/01100.00E'010/020/A=000500 id0ADDA5BA",
        expect("X", Proto.KAFLR, "WIDE1-1", "qAS,Station", (10, 11, 12), 48.0, 11.0, 10.0, 20.0,
               500.0, Kind.TOW_PLANE, Addr.FLARM, 0xDDA5BA),
        id="longer-path"),
    pytest.param(
        b"BLN>KAVSKY,qAO,Ground-1:/000001z4700.00N/00800.00EO045/003/A=098425 id2f+1234a",
        expect("BLN", Proto.KAVSKY, "qAO", "Ground-1", (0, 0, 1), 47.0, 8.0, 45.0, 3.0, 98425.0,
               Kind.BALLOON, Addr.KAV_TRACKER, 0x01234A),
        id="balloon-lower-case-and-plus-hex"),
    pytest.param(
        b"TOW>KAFLR,qAS,LSZK:/081530h4730.50N/00754.10E'270/098/A=002300 id0ADDA5BA id09ABCDEF",
        expect("TOW", Proto.KAFLR, "qAS", "LSZK", (8, 15, 30), 47 + 30.50 / 60, 7 + 54.10 / 60,
               270.0, 98.0, 2300.0, Kind.TOW_PLANE, Addr.ICAO, 0xABCDEF),
        id="last-id-wins"),
    pytest.param(
        b"UAV1>KAADSB,qAR,Dock:/235959h0000.00N/00000.00W>123/045/A=-00012id34000001\r\n",
        expect("UAV1", Proto.KAADSB, "qAR", "Dock", (23, 59, 59), 0.0, -0.0, 123.0, 45.0,
               -12.0, Kind.UA_VS, Addr.UNKNOWN, 0x000001),
        id="id-glued-to-altitude-crlf"),
    pytest.param(
        b"MAST7>KAVSKY,qAS,:/101010h4600.00N/00700.00E#000/000/A=000412  \tnote id3C00ABCD ",
        expect("MAST7", Proto.KAVSKY, "qAS", "", (10, 10, 10), 46.0, 7.0, 0.0, 0.0, 412.0,
               Kind.STATIC_OBSTACLE, Addr.UNKNOWN, 0x00ABCD),
        id="obstacle-empty-receiver"),
    pytest.param(
        b">KAFLR,,R:/050505h4400.00N/00400.00E'001/002/A=000003 id3BFFFFFF",
        expect("", Proto.KAFLR, "", "R", (5, 5, 5), 44.0, 4.0, 1.0, 2.0, 3.0, Kind.RESERVED,
               Addr.KAV_TRACKER, 0xFFFFFF),
        id="empty-header-fields-code-14"),
    pytest.param(
        "KAV0>KAFLR,qAS,Zürich-Süd:/123456h4630.00N/00830.00E'090/050 xyz A=001000 id06ABCDEF"
        .encode(),
        expect("KAV0", Proto.KAFLR, "qAS", "Zürich-Süd", (12, 34, 56), 46.5, 8.5, 90.0, 50.0,
               1000.0, Kind.GLIDER, Addr.FLARM, 0xABCDEF),
        id="utf8-receiver-junk-before-altitude"),
    pytest.param(
        b"NUM>KAFLR,qAS,R:/+71530h-115.00N/12345.00e'1.5/inf/A=1e+003 id05+12345",
        expect("NUM", Proto.KAFLR, "qAS", "R", (7, 15, 30), -1 + 15.00 / 60, 123 + 45.00 / 60,
               1.5, math.inf, 1000.0, Kind.GLIDER, Addr.ICAO, 0x012345),
        id="unusual-number-forms"),
]


@pytest.mark.parametrize("line, expected", LINES)
def test_line_decodes_to_fields(line, expected):
    got = decoded(parse(line))
    assert got == expected
    for name in ("latitude", "longitude"):
        assert math.copysign(1.0, got[name]) == math.copysign(1.0, expected[name])
    assert got["kav_aprs_protocol"] is expected["kav_aprs_protocol"]
    assert got["aircraft_type"] is expected["aircraft_type"]


def test_nan_coordinate_passes_through():
    b = parse(b"N>KAFLR,qAS,R:/120000h4600.00N/nan00.00E'090/050/A=001000 id06ABCDEF")
    assert math.isnan(b.longitude)
    assert "longitude: NaN," in repr(b)


def context(kind, text, message):
    return f'Parse error: ParseError({kind}(APRSParseContext {{ input: "{text}", message: "{message}" }}))'


BLOCK = "/123456h4630.00N/00830.00E'090/050/A=001000"

FAILURES = [
    pytest.param(f"X>KAFLR,qAS,R:{BLOCK}", "Parse error: MissingKAVBeaconID", id="no-id"),
    pytest.param(f"X>KAFLR,qAS,R:{BLOCK} ID0ADDA5BA", "Parse error: MissingKAVBeaconID",
                 id="capital-ID-ignored"),
    pytest.param(f"X>KAFLR,qAS,R:{BLOCK} id0ADDA5BA idle",
                 context("InvalidKAVBeaconId", "idle", "invalid kav beacon id format"),
                 id="idle-after-valid-id"),
    pytest.param(f"X>KAFLR,qAS,R:{BLOCK} id0ADDX5BA",
                 context("InvalidKAVBeaconId", "0ADDX5BA",
                         "invalid kav beacon id: Invalid hexadecimal format"),
                 id="bad-hex"),
    pytest.param("X>KAFLR,qAS,R:", context("UnexpectedEndOfMessage", "", "nom error: Eof"),
                 id="ends-after-header"),
    pytest.param(f"X>APRS,qAS,R:{BLOCK}",
                 context("InvalidKAVAprsProtocol", "APRS", "Unsupported KAV APRS Protocol"),
                 id="foreign-destination"),
    pytest.param(f"X>KAFLR,qAS,R:{BLOCK.replace('123456', '240000')} id06ABCDEF",
                 context("InvalidTimestamp", "240000h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF",
                         "invalid time"),
                 id="hour-24"),
    pytest.param("X>KAFLR,qAS,R:/123456h4630.00N/12 34.25E'090/050/A=001000 id06ABCDEF",
                 context("InvalidLongitude", "12 34.25E'090/050/A=001000 id06ABCDEF",
                         "could not parse degrees"),
                 id="blank-in-longitude"),
    pytest.param("X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'090/050 id06ABCDEF",
                 context("UnexpectedEndOfMessage", " id06ABCDEF", "nom error: TakeUntil"),
                 id="no-altitude"),
    pytest.param("X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'09 /050/A=001000 id06ABCDEF",
                 context("InvalidGroundTrack", "09 /050/A=001000 id06ABCDEF",
                         "invalid ground track"),
                 id="blank-in-track"),
    pytest.param("X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'090/050/A=00100",
                 context("InvalidGPSAltitude", "00100", "invalid gps altitude"),
                 id="short-altitude"),
]


@pytest.mark.parametrize("line, message", FAILURES)
def test_line_fails_with_its_error_text(line, message):
    with pytest.raises(ValueError) as info:
        parse(line.encode())
    assert info.value.args == (message,)

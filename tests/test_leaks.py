"""Long use of every entry point must not leak references or memory.

A missing decrement on a shared object (an enumeration member, a class, None,
True) shows as its reference count growing with the number of calls; a C++
string or buffer never freed shows as resident memory growing. The loop mixes
successes with every kind of failure, since error paths are where releases get
forgotten. Its texts are long so that a leak of them is large enough to see.
"""

import datetime
import gc
import operator
import os
import sys
import warnings

import pytest

import kav_aprs_parser_pyo3 as kav

# Set by the sanitizer and valgrind runs: allocators there keep freed memory in
# quarantine, so resident memory says nothing, and every call is far slower.
INSTRUMENTED = os.environ.get("KAV_TESTS_INSTRUMENTED", "")
CALLS = {"": 600_000, "asan": 100_000}.get(INSTRUMENTED, 10_000)
RSS_GROWTH_LIMIT = 4 * 1024 * 1024

CALLSIGN = "C" * 300
RECEIVER = "Empfänger," * 70
POSITION = "/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
GOOD = f"{CALLSIGN}>KAFLR,qAS,{RECEIVER}:{POSITION}".encode()
BAD_TIME = GOOD.replace(b"123456h", b"125960h")  # error context holds the long tail
BAD_ID = GOOD + b" idle"
MISSING_ID = GOOD.replace(b" id06ABCDEF", b" " + b"x" * 500)
BAD_CALLSIGN = b"\xff" * 400 + b"no separator"

A = kav.KAVAircraftType
T = kav.KAVAddressType
P = kav.KAVAPRSProtocol
MEMBERS = [getattr(cls, name) for cls in (A, T, P) for name in dir(cls) if name.isupper()]
CLASSES = [
    kav.AircraftBeacon, kav.ICAOAddress, kav.KAVAddressType, kav.KAVAircraftType,
    kav.KAVAPRSProtocol, kav.KAVBeaconID, kav.KAVIDPrefix,
]
SHARED = [None, True, False, *MEMBERS, *CLASSES]

PREFIX = kav.KAVIDPrefix(A.GLIDER, T.FLARM, False, True)
ADDRESS = kav.ICAOAddress(0xDDA5BA)
BEACON_ID = kav.KAVBeaconID(PREFIX, ADDRESS)
NOON = datetime.time(12, 0, 0, 500000, tzinfo=datetime.timezone.utc)
ARGS = (CALLSIGN, "qAS", RECEIVER, P.KAVSKY, NOON, 47.5, -8.25, 0.0, 1e-5, 1200, BEACON_ID)
KWARGS = dict(zip(
    ("callsign", "q_construct", "receiver", "kav_aprs_protocol", "time", "latitude",
     "longitude", "ground_track", "ground_speed", "gps_altitude", "kav_beacon_id"),
    ARGS,
))

class LeapSecond(datetime.time):
    """Reports a fraction in the leap second, which datetime itself cannot hold."""

    @property
    def microsecond(self):
        return 1_500_000


class RaisingFloat:
    def __float__(self):
        raise ArithmeticError("no float here")


class RaisingIndex:
    def __index__(self):
        raise LookupError("no index here")


def read_time_with_warnings_as_errors(leap):
    """The leap-second warning becomes an exception the getter must report and drop."""
    hook = sys.unraisablehook
    sys.unraisablehook = lambda report: None
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            return leap.time
    finally:
        sys.unraisablehook = hook


parse = kav.parse_kav_aprs_aircraft_beacon
beacon = kav.AircraftBeacon(*ARGS)
other_beacon = kav.AircraftBeacon(*ARGS)
leap_beacon = kav.AircraftBeacon(*ARGS[:4], LeapSecond(23, 59, 59), *ARGS[5:])
prefix = kav.KAVIDPrefix(A.TOW_PLANE, T.ICAO, True, False)
beacon_id = kav.KAVBeaconID(PREFIX, ADDRESS)

# (exception expected or None, callable, positional arguments, keyword arguments)
CALL_TABLE = [
    # The parse function, with every accepted input form and every failure.
    (None, parse, (GOOD,), {}),
    (None, parse, (bytearray(GOOD),), {}),
    (None, parse, (), {"input": GOOD}),
    (None, parse, (list(GOOD),), {}),
    (ValueError, parse, (BAD_TIME,), {}),
    (ValueError, parse, (BAD_ID,), {}),
    (ValueError, parse, (MISSING_ID,), {}),
    (ValueError, parse, (BAD_CALLSIGN,), {}),
    (ValueError, parse, (b"",), {}),
    (TypeError, parse, (GOOD.decode(),), {}),
    (TypeError, parse, (None,), {}),
    (TypeError, parse, (12345,), {}),
    (OverflowError, parse, ([65, 256],), {}),
    (TypeError, parse, ([65, "B"],), {}),
    (LookupError, parse, ([65, RaisingIndex()],), {}),
    (TypeError, parse, (GOOD, GOOD), {}),
    (TypeError, parse, (GOOD,), {"input": GOOD}),
    (TypeError, parse, (), {"line": GOOD}),
    (TypeError, parse, (), {}),
    # Constructors and initialisers, good and bad.
    (None, kav.AircraftBeacon, ARGS, {}),
    (None, kav.AircraftBeacon, (), KWARGS),
    (None, beacon.__init__, ARGS, {}),
    (TypeError, kav.AircraftBeacon, ARGS[:-1], {}),
    (TypeError, kav.AircraftBeacon, ARGS + (1,), {}),
    (TypeError, kav.AircraftBeacon, (), {**KWARGS, "extra": 1}),
    (TypeError, kav.AircraftBeacon, (5, *ARGS[1:]), {}),
    (UnicodeEncodeError, kav.AircraftBeacon, ("\ud800", *ARGS[1:]), {}),
    (TypeError, kav.AircraftBeacon, (*ARGS[:3], 1, *ARGS[4:]), {}),
    (TypeError, kav.AircraftBeacon, (*ARGS[:4], datetime.datetime.now(), *ARGS[5:]), {}),
    (ArithmeticError, kav.AircraftBeacon, (*ARGS[:9], RaisingFloat(), ARGS[10]), {}),
    (OverflowError, kav.AircraftBeacon, (*ARGS[:5], 10**400, *ARGS[6:]), {}),
    (TypeError, kav.AircraftBeacon, (*ARGS[:10], PREFIX), {}),
    (TypeError, beacon.__init__, (*ARGS[:10], None), {}),
    (None, kav.ICAOAddress, (0xFFFFFF,), {}),
    (None, kav.ICAOAddress, (), {"value": True}),
    (ValueError, kav.ICAOAddress, (0x1000000,), {}),
    (OverflowError, kav.ICAOAddress, (2**32,), {}),
    (OverflowError, kav.ICAOAddress, (-1,), {}),
    (TypeError, kav.ICAOAddress, (1.0,), {}),
    (LookupError, kav.ICAOAddress, (RaisingIndex(),), {}),
    (None, ADDRESS.__init__, (0x1000000,), {}),
    (None, kav.KAVIDPrefix, (A.UA_VS, T.KAV_TRACKER, True, False), {}),
    (TypeError, kav.KAVIDPrefix, (1, T.ICAO, False, False), {}),
    (TypeError, kav.KAVIDPrefix, (A.GLIDER, A.GLIDER, False, False), {}),
    (TypeError, kav.KAVIDPrefix, (A.GLIDER, T.ICAO, 0, False), {}),
    (None, kav.KAVBeaconID, (PREFIX, ADDRESS), {}),
    (TypeError, kav.KAVBeaconID, (ADDRESS, PREFIX), {}),
    (TypeError, kav.KAVBeaconID, (PREFIX,), {}),
    (TypeError, A, (), {}),
    # Getters and setters, including rejected values and deletion.
    *[(None, getattr, (beacon, name), {}) for name in KWARGS],
    *[(None, setattr, (beacon, name, value), {}) for name, value in KWARGS.items()],
    (TypeError, setattr, (beacon, "callsign", 5), {}),
    (TypeError, setattr, (beacon, "kav_aprs_protocol", A.GLIDER), {}),
    (TypeError, setattr, (beacon, "time", "12:00"), {}),
    (ArithmeticError, setattr, (beacon, "latitude", RaisingFloat()), {}),
    (TypeError, setattr, (beacon, "kav_beacon_id", ADDRESS), {}),
    (AttributeError, delattr, (beacon, "receiver"), {}),
    (AttributeError, setattr, (beacon, "no_such_field", 1), {}),
    (None, getattr, (leap_beacon, "time"), {}),
    (None, read_time_with_warnings_as_errors, (leap_beacon,), {}),
    *[(None, getattr, (prefix, name), {}) for name in
      ("aircraft_type", "address_type", "no_track", "stealth_mode")],
    (None, setattr, (prefix, "aircraft_type", A.PARAGLIDER), {}),
    (None, setattr, (prefix, "address_type", T.FLARM), {}),
    (None, setattr, (prefix, "no_track", False), {}),
    (None, setattr, (prefix, "stealth_mode", True), {}),
    (TypeError, setattr, (prefix, "no_track", 1), {}),
    (TypeError, setattr, (prefix, "aircraft_type", T.FLARM), {}),
    (None, getattr, (beacon_id, "prefix"), {}),
    (None, getattr, (beacon_id, "icao_address"), {}),
    (None, setattr, (beacon_id, "prefix", prefix), {}),
    (None, setattr, (beacon_id, "icao_address", ADDRESS), {}),
    (TypeError, setattr, (beacon_id, "prefix", None), {}),
    (AttributeError, delattr, (beacon_id, "prefix"), {}),
    # Representations and comparisons.
    (None, repr, (beacon,), {}),
    (None, repr, (BEACON_ID,), {}),
    (None, repr, (ADDRESS,), {}),
    (None, repr, (PREFIX,), {}),
    (None, repr, (A.UA_VS,), {}),
    (None, int, (T.KAV_TRACKER,), {}),
    (None, operator.eq, (beacon, other_beacon), {}),
    (None, operator.ne, (beacon, 5), {}),
    (None, operator.eq, (BEACON_ID, beacon_id), {}),
    (None, operator.ne, (ADDRESS, ADDRESS), {}),
    (None, operator.eq, (PREFIX, prefix), {}),
    (None, operator.eq, (A.GLIDER, 1), {}),
    (None, operator.eq, (A.GLIDER, 2**70), {}),
    (None, operator.ne, (P.KAFLR, T.ICAO), {}),
    (TypeError, operator.lt, (beacon, other_beacon), {}),
    (TypeError, operator.lt, (A.GLIDER, A.TOW_PLANE), {}),
    (TypeError, hash, (beacon,), {}),
]


def run_calls(count):
    done = 0
    while done < count:
        for expected, call, args, kwargs in CALL_TABLE:
            if expected is None:
                call(*args, **kwargs)
                continue
            try:
                call(*args, **kwargs)
            except expected:
                pass
            else:
                raise AssertionError(f"{call!r}{args} did not raise {expected.__name__}")
        done += len(CALL_TABLE)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def refcounts():
    gc.collect()
    return [sys.getrefcount(obj) for obj in SHARED]


@pytest.fixture
def quiet_leap_second_warnings():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        yield


def test_table_covers_every_attribute_of_the_beacon():
    public = {name for name in dir(kav.AircraftBeacon) if not name.startswith("_")}
    assert public == set(KWARGS)


def test_many_calls_leak_no_references(quiet_leap_second_warnings):
    run_calls(len(CALL_TABLE))  # fill the one-time caches first
    before = refcounts()
    run_calls(CALLS)
    after = refcounts()
    grown = [(repr(obj), b, a) for obj, b, a in zip(SHARED, before, after) if a > b + 20]
    assert grown == []


@pytest.mark.skipif(INSTRUMENTED != "", reason="the sanitizer allocators hold freed memory")
def test_many_calls_leave_resident_memory_level(quiet_leap_second_warnings):
    run_calls(CALLS // 10)
    gc.collect()
    before = resident_bytes()
    run_calls(CALLS)
    gc.collect()
    growth = resident_bytes() - before
    assert growth < RSS_GROWTH_LIMIT, f"resident memory grew by {growth} bytes"

"""Eight threads using the module at once get exactly the single-threaded results.

The interpreter lock serialises the calls, but the lock changes hands between
them (made to happen very often here), so any state kept between calls, or any
borrow left held after a call, shows up as a wrong result or a spurious
"Already borrowed" error.
"""

import datetime
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import kav_aprs_parser_pyo3 as kav

THREADS = 8
SECONDS = 1.5

LINES = [
    b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF",
    b"D-EZZZ>KAADSB,qAS,St7:/235959z4915.50S/01234.25W^359/999/A=-00012 id8DABCDEF",
    b"F>KAVSKY,qAR,R,x:/000000h0000.00N/nan00.00E'1.5/4.0/A=1e+003 idC6ABCDEF id3EDDA5BA",
    "Zürich>KAFLR,,Empfänger:/+71530h+915.50N/+1234.25E'000/000/A=000000 id0addA5ba".encode(),
    b"",
    b"no separator at all",
    b"X>KAFLR",
    b"X>kaflr,qAS,R:/123456h",
    b"X>KAFLR,qAS,R:/125960h4630.00N/00830.00E'090/045/A=001000 id0ADDA5BA",
    b"X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'090/045/A=001000 ID0ADDA5BA",
    b"X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'090/045/A=001000 id0ADDA5BA idle",
    b"X\xff>KAFLR,qAS,R\n:/123456h4630.00N/00830.00E'09 /045/A=001000 id0ADDA5BA",
]

FIELDS = (
    "callsign", "q_construct", "receiver", "kav_aprs_protocol", "time", "latitude",
    "longitude", "ground_track", "ground_speed", "gps_altitude", "kav_beacon_id",
)


def outcome(line):
    """Everything observable about one parse, in a form that compares by value."""
    try:
        beacon = kav.parse_kav_aprs_aircraft_beacon(line)
    except ValueError as error:
        return ("error", str(error))
    values = tuple(repr(getattr(beacon, name)) for name in FIELDS)
    return ("beacon", repr(beacon), values)


def make_prefix(aircraft_type, address_type, flag):
    return kav.KAVIDPrefix(aircraft_type, address_type, flag, not flag)


PREFIXES = [
    make_prefix(kav.KAVAircraftType.GLIDER, kav.KAVAddressType.FLARM, False),
    make_prefix(kav.KAVAircraftType.BALLOON, kav.KAVAddressType.ICAO, True),
]
ADDRESSES = [kav.ICAOAddress(0x000001), kav.ICAOAddress(0xDDA5BA)]
CALLSIGNS = ["A" * 40, "Bé" * 30]
TIMES = [datetime.time(0, 0, 1), datetime.time(23, 59, 59, 999999)]


def new_beacon(callsign):
    return kav.AircraftBeacon(
        callsign, "qAS", "R", kav.KAVAPRSProtocol.KAFLR, TIMES[0], 1.0, 2.0, 3.0, 4.0, 5.0,
        kav.KAVBeaconID(PREFIXES[0], ADDRESSES[0]),
    )


class Worker:
    """One thread's loop: parses, private instances, and writes to shared ones."""

    def __init__(self, index, expected, shared_beacon, shared_id, deadline):
        self.index = index
        self.expected = expected
        self.shared_beacon = shared_beacon
        self.shared_id = shared_id
        self.deadline = deadline
        self.rounds = 0
        self.failures = []

    def run(self):
        try:
            # At least one round each, however slowly the threads are scheduled
            # (valgrind runs them one at a time).
            while self.rounds == 0 or time.monotonic() < self.deadline:
                self.one_round()
                self.rounds += 1
        except BaseException as error:  # noqa: BLE001 - the report must name anything
            self.failures.append(f"thread {self.index}: {type(error).__name__}: {error}")

    def check(self, condition, what):
        if not condition:
            raise AssertionError(what)

    def one_round(self):
        n = self.rounds
        for line, expected in zip(LINES, self.expected):
            self.check(outcome(line) == expected, f"parse of {line!r} differs")

        # A private beacon reads back exactly what this thread wrote.
        own = new_beacon(f"T{self.index}")
        own.latitude = float(self.index * 1000 + n)
        own.time = TIMES[n % 2]
        own.kav_beacon_id = kav.KAVBeaconID(PREFIXES[n % 2], ADDRESSES[n % 2])
        self.check(own.callsign == f"T{self.index}", "private callsign changed")
        self.check(own.latitude == float(self.index * 1000 + n), "private latitude changed")
        self.check(own.time == TIMES[n % 2], "private time changed")
        self.check(own.kav_beacon_id.prefix == PREFIXES[n % 2], "private prefix changed")

        # Shared instances: every read must be one of the values some thread wrote.
        self.shared_beacon.callsign = CALLSIGNS[(self.index + n) % 2]
        self.shared_beacon.time = TIMES[(self.index + n) % 2]
        self.check(self.shared_beacon.callsign in CALLSIGNS, "torn shared callsign")
        self.check(self.shared_beacon.time in TIMES, "torn shared time")
        self.shared_id.prefix = PREFIXES[n % 2]
        self.shared_id.icao_address = ADDRESSES[self.index % 2]
        self.check(self.shared_id.prefix in PREFIXES, "torn shared prefix")
        self.check(self.shared_id.icao_address in ADDRESSES, "torn shared address")
        self.check(self.shared_beacon.kav_aprs_protocol is kav.KAVAPRSProtocol.KAFLR,
                   "protocol member is not the shared object")


@pytest.fixture
def frequent_switching():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def test_eight_threads_match_single_threaded_results(frequent_switching):
    expected = [outcome(line) for line in LINES]
    assert sum(kind == "beacon" for kind, *_ in expected) == 4, "sample lines changed meaning"
    shared_beacon = new_beacon(CALLSIGNS[0])
    shared_id = kav.KAVBeaconID(PREFIXES[0], ADDRESSES[0])
    deadline = time.monotonic() + SECONDS
    workers = [Worker(i, expected, shared_beacon, shared_id, deadline) for i in range(THREADS)]
    threads = [threading.Thread(target=w.run) for w in workers]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=SECONDS + 60)
    assert not any(thread.is_alive() for thread in threads), "a worker hangs"
    assert [f for w in workers for f in w.failures] == []
    # The lines parse as before once the threads are gone.
    assert [outcome(line) for line in LINES] == expected


# The process-wide caches (the datetime.time type, collections.abc for one error
# message, the interned attribute names) fill on first use. Their first users
# here are eight threads released at once in a fresh interpreter: a guard that
# waits while holding the interpreter lock would deadlock, one that is missing
# would show as a crash or a wrong result.
FIRST_USE_RACE = textwrap.dedent(
    """
    import datetime, threading, warnings
    import kav_aprs_parser_pyo3 as kav

    LINE = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
    barrier = threading.Barrier(8)
    results = []

    def first_use():
        barrier.wait()
        beacon = kav.parse_kav_aprs_aircraft_beacon(LINE)
        t = beacon.time
        beacon.time = datetime.time(1, 2, 3)
        try:
            kav.parse_kav_aprs_aircraft_beacon(None)
        except TypeError as error:
            message = str(error)
        results.append((t, beacon.time, message))

    threads = [threading.Thread(target=first_use) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 8, results
    assert all(r == results[0] for r in results), results
    assert results[0][:2] == (datetime.time(12, 34, 56), datetime.time(1, 2, 3)), results
    assert "Sequence" in results[0][2], results
    print("ok")
    """
)


@pytest.mark.parametrize("attempt", range(3))
def test_first_use_of_caches_from_eight_threads(attempt):
    run = subprocess.run(
        [sys.executable, "-c", FIRST_USE_RACE], capture_output=True, text=True, timeout=120,
        check=False,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "ok"

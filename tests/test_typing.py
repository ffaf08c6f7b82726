"""Type checkers see the module's real names and types through the installed stubs."""

import re
import subprocess
import sys

import pytest

SETUP = """\
import datetime
import kav_aprs_parser_pyo3 as kav

beacon = kav.parse_kav_aprs_aircraft_beacon(b"")
prefix = kav.KAVIDPrefix(kav.KAVAircraftType.GLIDER, kav.KAVAddressType.FLARM, False, True)
beacon_id = kav.KAVBeaconID(prefix, kav.ICAOAddress(0xDDA5BA))
built = kav.AircraftBeacon(
    "X1", "qAS", "RX1", kav.KAVAPRSProtocol.KAFLR, datetime.time(12, 34, 56),
    46.5, 8, 90.0, 50.0, 1000.0, beacon_id,
)
from_bytearray = kav.parse_kav_aprs_aircraft_beacon(bytearray(b"X"))
from_list = kav.parse_kav_aprs_aircraft_beacon([88, 62])
beacon.latitude = 1
beacon.kav_beacon_id = beacon_id
same: bool = built == beacon and kav.KAVAircraftType.GLIDER == 1
"""

# Expressions and the type that mypy must infer for each.
REVEALED = [
    ("beacon", "kav_aprs_parser_pyo3.AircraftBeacon"),
    ("beacon.callsign", "str"),
    ("beacon.time", "datetime.time"),
    ("beacon.gps_altitude", "float"),
    ("beacon.kav_aprs_protocol", "kav_aprs_parser_pyo3.KAVAPRSProtocol"),
    ("beacon.kav_beacon_id", "kav_aprs_parser_pyo3.KAVBeaconID"),
    ("beacon.kav_beacon_id.prefix", "kav_aprs_parser_pyo3.KAVIDPrefix"),
    ("prefix.aircraft_type", "kav_aprs_parser_pyo3.KAVAircraftType"),
    ("prefix.address_type", "kav_aprs_parser_pyo3.KAVAddressType"),
    ("prefix.stealth_mode", "bool"),
    ("beacon_id.icao_address", "kav_aprs_parser_pyo3.ICAOAddress"),
    ("kav.KAVAircraftType.STATIC_OBSTACLE", "kav_aprs_parser_pyo3.KAVAircraftType"),
    ("kav.KAVAddressType.KAV_TRACKER", "kav_aprs_parser_pyo3.KAVAddressType"),
    ("int(kav.KAVAPRSProtocol.KAVSKY)", "int"),
]

# Statements that fail at run time, which mypy must flag too.
REJECTED = [
    "kav.parse_kav_aprs_aircraft_beacon('X1>KAFLR')",
    "kav.parse_kav_aprs_aircraft_beacon(42)",
    "beacon.callsign = 5",
    "beacon.kav_aprs_protocol = 1",
    "beacon.time = datetime.datetime.now()",
    "prefix.no_track = None",
    "kav.KAVIDPrefix(1, kav.KAVAddressType.ICAO, False, False)",
    "kav.KAVIDPrefix(kav.KAVAircraftType.GLIDER, kav.KAVAircraftType.GLIDER, False, False)",
    "kav.KAVBeaconID(prefix, 0xDDA5BA)",
    "kav.ICAOAddress(1.5)",
    "kav.ICAOAddress(5).value",
    "kav.KAVAircraftType.GLIDER.value",
    "kav.KAVAircraftType.HOVERCRAFT",
    "class Derived(kav.AircraftBeacon): ...",
]


def _lines():
    setup = SETUP.splitlines()
    revealed = [f"reveal_type({expression})" for expression, _ in REVEALED]
    return setup + revealed + REJECTED


def _line_number(statement):
    return _lines().index(statement) + 1


@pytest.fixture(scope="module")
def mypy_output(tmp_path_factory):
    """mypy --strict over the whole snippet, run once: its messages by line number."""
    directory = tmp_path_factory.mktemp("typing")
    (directory / "snippet.py").write_text("\n".join(_lines()) + "\n")
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--no-error-summary",
         "--cache-dir", str(directory / "cache"), "snippet.py"],
        cwd=directory, capture_output=True, text=True,
    )
    messages = {}
    for line in result.stdout.splitlines():
        match = re.match(r"snippet\.py:(\d+): (.*)", line)
        assert match, f"unexpected mypy output: {result.stdout}{result.stderr}"
        messages.setdefault(int(match.group(1)), []).append(match.group(2))
    return messages


@pytest.mark.parametrize("expression, expected", REVEALED)
def test_inferred_type(mypy_output, expression, expected):
    line = _line_number(f"reveal_type({expression})")
    # Older mypy releases spell built-in types with their module ("builtins.str").
    revealed = [m.replace("builtins.", "") for m in mypy_output.get(line, [])]
    assert revealed == [f'note: Revealed type is "{expected}"']


@pytest.mark.parametrize("statement", REJECTED)
def test_wrong_use_is_flagged(mypy_output, statement):
    assert any(m.startswith("error:") for m in mypy_output.get(_line_number(statement), []))


def test_correct_use_passes_strict_checking(mypy_output):
    setup_lines = range(1, len(SETUP.splitlines()) + 1)
    assert {line: mypy_output[line] for line in setup_lines if line in mypy_output} == {}


def test_stubs_match_the_installed_module(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "kav_aprs_parser_pyo3"],
        cwd=tmp_path, capture_output=True, text=True,
    )
    assert result.returncode == 0, result.stdout + result.stderr

"""The module's contents: exactly the function and the seven classes, in order."""

import importlib
import sys

import kav_aprs_parser_pyo3

PUBLIC_NAMES = [
    "parse_kav_aprs_aircraft_beacon",
    "AircraftBeacon",
    "ICAOAddress",
    "KAVAddressType",
    "KAVAircraftType",
    "KAVAPRSProtocol",
    "KAVBeaconID",
    "KAVIDPrefix",
]

# What the import machinery puts on every extension module.
MODULE_DUNDERS = {"__all__", "__doc__", "__file__", "__loader__", "__name__", "__package__",
                  "__spec__"}


def test_all_lists_the_public_names_in_order():
    assert kav_aprs_parser_pyo3.__all__ == PUBLIC_NAMES
    assert type(kav_aprs_parser_pyo3.__all__) is list


def test_dir_shows_nothing_beyond_the_public_names():
    names = set(dir(kav_aprs_parser_pyo3))
    assert names - MODULE_DUNDERS == set(PUBLIC_NAMES)


def test_attribute_order_follows_all():
    public = [n for n in vars(kav_aprs_parser_pyo3) if not n.startswith("__")]
    assert public == PUBLIC_NAMES


def test_every_class_is_named_after_its_attribute():
    for name in PUBLIC_NAMES[1:]:
        cls = getattr(kav_aprs_parser_pyo3, name)
        assert isinstance(cls, type)
        assert (cls.__name__, cls.__qualname__, cls.__module__) == (name, name, "builtins")


def test_no_exception_class_of_its_own():
    assert not hasattr(kav_aprs_parser_pyo3, "ParseError")
    for name in PUBLIC_NAMES[1:]:
        assert not issubclass(getattr(kav_aprs_parser_pyo3, name), BaseException)


def test_reimport_reuses_the_cached_classes():
    first = kav_aprs_parser_pyo3
    saved = sys.modules.pop("kav_aprs_parser_pyo3")
    try:
        second = importlib.import_module("kav_aprs_parser_pyo3")
        assert second is not first
        assert second.__all__ == PUBLIC_NAMES
        for name in PUBLIC_NAMES[1:]:
            assert getattr(second, name) is getattr(first, name)
        line = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
        assert second.parse_kav_aprs_aircraft_beacon(line) == first.parse_kav_aprs_aircraft_beacon(
            line)
        assert second.parse_kav_aprs_aircraft_beacon.__module__ == "kav_aprs_parser_pyo3"
    finally:
        sys.modules["kav_aprs_parser_pyo3"] = saved
